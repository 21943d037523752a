#!/usr/bin/env bash
# Lays out the SteamVR driver package from a Windows build, and zips it:
#   tools/package.sh <windows build dir> <output dir> [--allow-missing-vistrel]
# gives <output dir>/tarvolt_rq508/ and <output dir>/tarvolt_rq508.zip.
# Only named files are taken from the build: its package folder may also hold stand-ins for
# tests (such as a simulated openvr_api.dll) that must never reach a user.
# OPENVR_SDK_DIR=<official OpenVR SDK> adds the SDK's openvr_api.dll next to vistrel.exe.
set -euo pipefail
name=tarvolt_rq508
build=${1:?usage: package.sh <windows build dir> <output dir> [--allow-missing-vistrel]}
out=${2:?usage: package.sh <windows build dir> <output dir> [--allow-missing-vistrel]}
allow_missing_vistrel=no
[ "${3:-}" = --allow-missing-vistrel ] && allow_missing_vistrel=yes

fail() { echo "package: $*" >&2; exit 1; }

# A package from an earlier run must not survive a failed one and pass for its result.
rm -rf "${out:?}/$name" "$out/$name.zip"

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

(cd "$out" && zip -q -r -X "$name.zip" "$name")
echo "package: $out/$name/ and $out/$name.zip"
