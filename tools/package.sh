#!/usr/bin/env bash
# Lays out the SteamVR driver package from a Windows build (and a Linux one), and archives it:
#   tools/package.sh <windows build dir> <output dir> [--allow-missing-vistrel] [--linux <linux build dir>]
# gives <output dir>/tarvolt_rq508/ with bin/win64/ (and bin/linux64/), <output dir>/tarvolt_rq508.zip
# and <output dir>/tarvolt_rq508.tar.gz.
# Only named files are taken from the build: its package folder may also hold stand-ins for
# tests (such as a simulated openvr_api.dll) that must never reach a user.
# OPENVR_SDK_DIR=<official OpenVR SDK> adds the SDK's openvr_api.dll next to vistrel.exe (and its
# libopenvr_api.so next to the Linux vistrel).
set -euo pipefail
name=tarvolt_rq508
usage="usage: package.sh <windows build dir> <output dir> [--allow-missing-vistrel] [--linux <linux build dir>]"
build=${1:?$usage}
out=${2:?$usage}
shift 2
allow_missing_vistrel=no
linux_build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --allow-missing-vistrel) allow_missing_vistrel=yes ;;
    --linux) linux_build=${2:?$usage}; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift
done

fail() { echo "package: $*" >&2; exit 1; }

# A package from an earlier run must not survive a failed one and pass for its result.
rm -rf "${out:?}/$name" "$out/$name.zip" "$out/$name.tar.gz"

src=$build/pkg/$name
driver=$src/bin/win64/driver_$name.dll
[ -f "$src/driver.vrdrivermanifest" ] && [ -d "$src/resources" ] ||
  fail "no manifest or resources in $src: build the windows preset first"
[ -f "$driver" ] || fail "driver_$name.dll is missing from $src/bin/win64: build the windows preset first"

vistrel=""
for candidate in "$src/bin/win64/vistrel.exe" "$build/bin/vistrel.exe"; do
  [ -f "$candidate" ] && { vistrel=$candidate; break; }
done
if [ -z "$vistrel" ]; then
  msg="vistrel.exe is missing: the build did not produce it (CMake target vistrel). The driver starts it from its own folder to receive the rifle's pose, so a package without it does not work in SteamVR."
  [ $allow_missing_vistrel = yes ] || fail "$msg"
  echo "package: WARNING: $msg Packaging without it because --allow-missing-vistrel was given." >&2
fi

openvr_api=""
if [ -n "${OPENVR_SDK_DIR:-}" ]; then
  openvr_api=$OPENVR_SDK_DIR/bin/win64/openvr_api.dll
  [ -f "$OPENVR_SDK_DIR/headers/openvr.h" ] && [ -f "$openvr_api" ] ||
    fail "OPENVR_SDK_DIR=$OPENVR_SDK_DIR does not look like the OpenVR SDK (expected headers/openvr.h and bin/win64/openvr_api.dll)"
fi

# The Linux build: the driver and vistrel, each looking for its libraries next to itself
# ($ORIGIN), and the SDK's libopenvr_api.so under the same rules as its DLL. The build's own
# libopenvr_api.so next to vistrel is the test stand-in and never taken.
lsrc="" lvistrel="" lapi=""
if [ -n "$linux_build" ]; then
  lsrc=$linux_build/pkg/$name/bin/linux64
  [ -f "$lsrc/driver_$name.so" ] || fail "driver_$name.so is missing from $lsrc: build the Linux preset first"
  [ -f "$lsrc/vistrel" ] && lvistrel=$lsrc/vistrel
  if [ -z "$lvistrel" ]; then
    msg="the Linux vistrel is missing from $lsrc: the build did not produce it (CMake target vistrel)."
    [ $allow_missing_vistrel = yes ] || fail "$msg"
    echo "package: WARNING: $msg Packaging without it because --allow-missing-vistrel was given." >&2
  fi
  if [ -n "${OPENVR_SDK_DIR:-}" ]; then
    lapi=$OPENVR_SDK_DIR/bin/linux64/libopenvr_api.so
    [ -f "$lapi" ] || fail "OPENVR_SDK_DIR=$OPENVR_SDK_DIR has no bin/linux64/libopenvr_api.so"
  fi
  for f in "$lsrc/driver_$name.so" $lvistrel; do
    readelf -d "$f" | grep -q 'R.*PATH.*\[\$ORIGIN\]' || fail "$f does not look for its libraries next to itself (\$ORIGIN)"
  done
fi

mkdir -p "$out/$name/bin/win64"
cp "$src/driver.vrdrivermanifest" "$out/$name/"
cp -R "$src/resources" "$out/$name/resources"
cp "$driver" "$out/$name/bin/win64/"
[ -n "$vistrel" ] && cp "$vistrel" "$out/$name/bin/win64/vistrel.exe"
if [ -n "$openvr_api" ]; then
  cp "$openvr_api" "$out/$name/bin/win64/openvr_api.dll"
else
  echo "package: NOTE: vistrel.exe needs openvr_api.dll from the OpenVR SDK (its bin/win64/openvr_api.dll)." >&2
  echo "package:       Copy that file into $name/bin/win64/, next to vistrel.exe, before installing," >&2
  echo "package:       or run again with OPENVR_SDK_DIR=<folder of the OpenVR SDK>." >&2
fi

if [ -n "$linux_build" ]; then
  mkdir -p "$out/$name/bin/linux64"
  # Without the debug information of the optimised build (several megabytes, and the build's folders).
  strip --strip-debug -o "$out/$name/bin/linux64/driver_$name.so" "$lsrc/driver_$name.so"
  [ -n "$lvistrel" ] && strip --strip-debug -o "$out/$name/bin/linux64/vistrel" "$lvistrel"
  if [ -n "$lapi" ]; then
    cp "$lapi" "$out/$name/bin/linux64/libopenvr_api.so"
  else
    echo "package: NOTE: the Linux vistrel needs libopenvr_api.so from the OpenVR SDK (its bin/linux64/libopenvr_api.so)." >&2
    echo "package:       Copy that file into $name/bin/linux64/, next to vistrel, before installing," >&2
    echo "package:       or run again with OPENVR_SDK_DIR=<folder of the OpenVR SDK>." >&2
  fi
fi

(cd "$out" && zip -q -r -X "$name.zip" "$name")
tar -C "$out" --owner=0 --group=0 --numeric-owner --sort=name -czf "$out/$name.tar.gz" "$name"
echo "package: $out/$name/, $out/$name.zip and $out/$name.tar.gz"
