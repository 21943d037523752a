#!/usr/bin/env bash
# Lays out the SteamVR driver package from a Windows build (and a Linux one), and archives it:
#   tools/package.sh <windows build dir> <output dir> [--allow-missing-vistrel] [--require-openvr-api]
#                    [--linux <linux build dir>]
# gives <output dir>/tarvolt_rq508/ with bin/win64/ (and bin/linux64/), <output dir>/tarvolt_rq508.zip
# and <output dir>/tarvolt_rq508.tar.gz.
# tarvolt-probe (tarvolt-probe.exe) goes next to vistrel in each bin/ folder: it checks the rifle
# without SteamVR, so it is what a user runs first when the rifle does not work.
# Only named files are taken from the build: its package folder may also hold stand-ins for
# tests (such as a simulated openvr_api.dll) that must never reach a user.
# Every package carries our LICENSE and THIRD-PARTY-NOTICES.txt, with the notices of the runtime
# libraries linked into our files (package/notices/).
# vistrel.exe runs on the OpenVR SDK's openvr_api.dll, which goes next to it with the SDK's
# licence in THIRD-PARTY-NOTICES.txt. It comes from OPENVR_SDK_DIR=<official OpenVR SDK> when
# given, otherwise from the SDK's pinned release, fetched and SHA-256 checked by
# tools/fetch-openvr-sdk.sh into <windows build dir>/openvr-sdk (OPENVR_SDK_URL and
# OPENVR_SDK_SUMS replace its archive and hashes). When neither works the package is made
# without it and the step says where the file has to go; --require-openvr-api stops instead.
# The Linux vistrel gets the same SDK's libopenvr_api.so, under the same rules.
set -euo pipefail
name=tarvolt_rq508
here=$(cd "$(dirname "$0")" && pwd)
notices_dir=$here/../package/notices
usage="usage: package.sh <windows build dir> <output dir> [--allow-missing-vistrel] [--require-openvr-api] [--linux <linux build dir>]"
build=${1:?$usage}
out=${2:?$usage}
shift 2
allow_missing_vistrel=no
require_openvr_api=no
linux_build=""
while [ $# -gt 0 ]; do
  case $1 in
    --allow-missing-vistrel) allow_missing_vistrel=yes ;;
    --require-openvr-api) require_openvr_api=yes ;;
    --linux) linux_build=${2:?$usage}; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift
done

fail() { echo "package: $*" >&2; exit 1; }

# THIRD-PARTY-NOTICES.txt: a line per file or group of files with parts by others, then each
# notice in full: those package/notices/linked.txt names for the runtime libraries the linker puts
# into our files, and last the OpenVR SDK's licence when its libraries are included (package
# paths given), which its BSD terms ask to be reproduced with the binaries.
write_notices() {
  local notices=$1 file notice; shift
  {
    echo "Third-party parts of this package"
    echo
    echo "bin/win64/driver_$name.dll, vistrel.exe and tarvolt-probe.exe: ours, built with GCC and MinGW-w64 and linked statically with their runtime libraries (GCC's libstdc++ and libgcc, the MinGW-w64 runtime and winpthreads), whose notices follow"
    [ -z "$linux_build" ] ||
      echo "bin/linux64/driver_$name.so, vistrel and tarvolt-probe: ours, built with GCC; they hold GCC's and glibc's start-up code, under the GCC Runtime Library Exception below and glibc's exception for its start-up files, and use the system's C++ library and glibc"
    for file in "$@"; do
      echo "$file: OpenVR SDK $sdk_version by Valve Corporation (https://github.com/ValveSoftware/openvr), BSD 3-clause licence below"
    done
    for notice in $(awk '!/^#/ && NF && $2 != "-" && !seen[$2]++ {print $2}' "$notices_dir/linked.txt"); do
      printf '\n----- %s -----\n\n' "$notice"
      cat "$notices_dir/$notice"
    done
    if [ $# -gt 0 ]; then
      printf '\n----- OpenVR SDK licence (the SDK'"'"'s LICENSE file) -----\n\n'
      cat "$sdk/LICENSE"
    fi
  } > "$notices"
}

# A package from an earlier run must not survive a failed one and pass for its result.
rm -rf "${out:?}/$name" "$out/$name.zip" "$out/$name.tar.gz"

src=$build/pkg/$name
driver=$src/bin/win64/driver_$name.dll
[ -f "$src/driver.vrdrivermanifest" ] && [ -d "$src/resources" ] ||
  fail "no manifest or resources in $src: build the windows preset first"
[ -f "$driver" ] || fail "driver_$name.dll is missing from $src/bin/win64: build the windows preset first"
probe=$src/bin/win64/tarvolt-probe.exe
[ -f "$probe" ] || fail "tarvolt-probe.exe is missing from $src/bin/win64: build the windows preset first (CMake target tarvolt-probe)"

vistrel=""
for candidate in "$src/bin/win64/vistrel.exe" "$build/bin/vistrel.exe"; do
  [ -f "$candidate" ] && { vistrel=$candidate; break; }
done
if [ -z "$vistrel" ]; then
  msg="vistrel.exe is missing: the build did not produce it (CMake target vistrel). The driver starts it from its own folder to receive the rifle's pose, so a package without it does not work in SteamVR."
  [ $allow_missing_vistrel = yes ] || fail "$msg"
  echo "package: WARNING: $msg Packaging without it because --allow-missing-vistrel was given." >&2
fi

sdk=""; sdk_version=""
if [ -n "${OPENVR_SDK_DIR:-}" ]; then
  [ -f "$OPENVR_SDK_DIR/headers/openvr.h" ] && [ -f "$OPENVR_SDK_DIR/bin/win64/openvr_api.dll" ] &&
    [ -f "$OPENVR_SDK_DIR/LICENSE" ] ||
    fail "OPENVR_SDK_DIR=$OPENVR_SDK_DIR does not look like the OpenVR SDK (expected headers/openvr.h, bin/win64/openvr_api.dll and LICENSE)"
  sdk=$OPENVR_SDK_DIR
  sdk_version=$(sed -n 's/.*k_nSteamVRVersion\(Major\|Minor\|Build\) *= *\([0-9]*\);.*/\2/p' \
                  "$sdk/headers/openvr.h" | paste -sd. -)
  [ -n "$sdk_version" ] && sdk_version=v$sdk_version || sdk_version="(version not stated in its headers)"
else
  fetch_args=()
  [ -n "${OPENVR_SDK_URL:-}" ] && fetch_args+=(--url "$OPENVR_SDK_URL")
  [ -n "${OPENVR_SDK_SUMS:-}" ] && fetch_args+=(--sums "$OPENVR_SDK_SUMS")
  if "$here/fetch-openvr-sdk.sh" "${fetch_args[@]}" "$build/openvr-sdk" >&2; then
    sdk=$build/openvr-sdk
    sdk_version=$("$here/fetch-openvr-sdk.sh" --version)
  elif [ $require_openvr_api = yes ]; then
    fail "the OpenVR SDK could not be fetched (see above) and --require-openvr-api was given: no package without openvr_api.dll"
  fi
fi

# The Linux build: the driver and vistrel, each looking for its libraries next to itself
# ($ORIGIN). The build's own libopenvr_api.so next to vistrel is the test stand-in and never taken.
lsrc="" lvistrel=""
if [ -n "$linux_build" ]; then
  lsrc=$linux_build/pkg/$name/bin/linux64
  [ -f "$lsrc/driver_$name.so" ] || fail "driver_$name.so is missing from $lsrc: build the Linux preset first"
  [ -f "$lsrc/tarvolt-probe" ] || fail "tarvolt-probe is missing from $lsrc: build the Linux preset first (CMake target tarvolt-probe)"
  [ -f "$lsrc/vistrel" ] && lvistrel=$lsrc/vistrel
  if [ -z "$lvistrel" ]; then
    msg="the Linux vistrel is missing from $lsrc: the build did not produce it (CMake target vistrel)."
    [ $allow_missing_vistrel = yes ] || fail "$msg"
    echo "package: WARNING: $msg Packaging without it because --allow-missing-vistrel was given." >&2
  fi
  if [ -n "$sdk" ] && [ ! -f "$sdk/bin/linux64/libopenvr_api.so" ]; then
    fail "the OpenVR SDK in $sdk has no bin/linux64/libopenvr_api.so"
  fi
  for f in "$lsrc/driver_$name.so" $lvistrel; do
    readelf -d "$f" | grep -q 'R.*PATH.*\[\$ORIGIN\]' || fail "$f does not look for its libraries next to itself (\$ORIGIN)"
  done
fi

mkdir -p "$out/$name/bin/win64"
cp "$src/driver.vrdrivermanifest" "$out/$name/"
cp -R "$src/resources" "$out/$name/resources"
cp "$driver" "$out/$name/bin/win64/"
cp "$probe" "$out/$name/bin/win64/tarvolt-probe.exe"
[ -n "$vistrel" ] && cp "$vistrel" "$out/$name/bin/win64/vistrel.exe"
cp "$here/../LICENSE" "$out/$name/LICENSE"
if [ -n "$sdk" ]; then
  cp "$sdk/bin/win64/openvr_api.dll" "$out/$name/bin/win64/openvr_api.dll"
  write_notices "$out/$name/THIRD-PARTY-NOTICES.txt" bin/win64/openvr_api.dll ${linux_build:+bin/linux64/libopenvr_api.so}
else
  write_notices "$out/$name/THIRD-PARTY-NOTICES.txt"
  echo "package: NOTE: vistrel.exe needs openvr_api.dll from the OpenVR SDK (its bin/win64/openvr_api.dll)." >&2
  echo "package:       It could not be fetched. Copy that file into $name/bin/win64/, next to vistrel.exe," >&2
  echo "package:       before installing, or run again with OPENVR_SDK_DIR=<folder of the OpenVR SDK>." >&2
fi

if [ -n "$linux_build" ]; then
  mkdir -p "$out/$name/bin/linux64"
  # Without the debug information of the optimised build (several megabytes, and the build's folders).
  strip --strip-debug -o "$out/$name/bin/linux64/driver_$name.so" "$lsrc/driver_$name.so"
  [ -n "$lvistrel" ] && strip --strip-debug -o "$out/$name/bin/linux64/vistrel" "$lvistrel"
  strip --strip-debug -o "$out/$name/bin/linux64/tarvolt-probe" "$lsrc/tarvolt-probe"
  if [ -n "$sdk" ]; then
    cp "$sdk/bin/linux64/libopenvr_api.so" "$out/$name/bin/linux64/libopenvr_api.so"
  else
    echo "package: NOTE: the Linux vistrel needs libopenvr_api.so from the OpenVR SDK (its bin/linux64/libopenvr_api.so)." >&2
    echo "package:       Copy that file into $name/bin/linux64/, next to vistrel, before installing," >&2
    echo "package:       or run again with OPENVR_SDK_DIR=<folder of the OpenVR SDK>." >&2
  fi
fi

(cd "$out" && zip -q -r -X "$name.zip" "$name")
tar -C "$out" --owner=0 --group=0 --numeric-owner --sort=name -czf "$out/$name.tar.gz" "$name"
echo "package: $out/$name/, $out/$name.zip and $out/$name.tar.gz"
