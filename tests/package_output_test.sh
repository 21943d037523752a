#!/usr/bin/env bash
# Runs tools/package.sh on a copy of the Windows build's package folder and checks its output.
#   package_output_test.sh <source dir> <windows build dir> <objdump> <built|absent>
# The last argument says whether the build has vistrel.exe; without it the package step must
# refuse unless told to go on, and the package is checked without vistrel.exe.
set -euo pipefail
src=$1; build=$2; objdump=$3; vistrel=$4
work=$build/package-test
rm -rf "$work"; mkdir -p "$work/build"
status=0
bad() { echo "FAIL: $*"; status=1; }

# A build tree that also holds what the tests put there: a simulated openvr_api.dll and a test
# program next to the driver. Neither may reach the package.
cp -R "$build/pkg" "$work/build/pkg"
mkdir -p "$work/build/bin"
[ -f "$build/bin/vistrel.exe" ] && cp "$build/bin/vistrel.exe" "$work/build/bin/"
cp "$build/pkg/tarvolt_rq508/bin/win64/driver_tarvolt_rq508.dll" "$work/build/pkg/tarvolt_rq508/bin/win64/openvr_api.dll"
echo stand-in > "$work/build/pkg/tarvolt_rq508/bin/win64/unit_tests.exe"

pack() {  # <output dir> [flag]; stderr kept in <output dir>.log
  mkdir -p "$1"
  "$src/tools/package.sh" "$work/build" "$1" ${2:-} 2> "$1.log"
}

if [ "$vistrel" = built ]; then
  flag=""; parts=vistrel
else
  flag=--allow-missing-vistrel; parts=""
  # Catches: a package silently shipped without the program that delivers the pose.
  mkdir -p "$work/refused/tarvolt_rq508" && touch "$work/refused/tarvolt_rq508.zip"  # an earlier run's
  if pack "$work/refused"; then bad "packaging without vistrel.exe succeeded without --allow-missing-vistrel"; fi
  grep -q "vistrel.exe is missing" "$work/refused.log" || bad "no clear message about the missing vistrel.exe"
  [ ! -e "$work/refused/tarvolt_rq508" ] && [ ! -e "$work/refused/tarvolt_rq508.zip" ] ||
    bad "a refused package left an earlier package behind"
  echo "vistrel.exe is not built yet: checking the package without it"
fi

# Catches: stray or missing files, stand-ins in the package, foreign DLL imports, a stale zip.
pack "$work/plain" $flag || { cat "$work/plain.log"; bad "packaging failed"; }
grep -q "needs openvr_api.dll from the OpenVR SDK" "$work/plain.log" ||
  bad "without OPENVR_SDK_DIR the package step does not say that openvr_api.dll is needed"
"$src/tests/check_package.sh" "$work/plain/tarvolt_rq508" "$src/package" "$objdump" $parts || status=1

# Catches: the SDK's openvr_api.dll not copied, or copied from somewhere else.
sdk=$work/sdk
mkdir -p "$sdk/headers" "$sdk/bin/win64"
echo "// placeholder" > "$sdk/headers/openvr.h"
cp "$build/pkg/tarvolt_rq508/bin/win64/driver_tarvolt_rq508.dll" "$sdk/bin/win64/openvr_api.dll"
echo "marker" >> "$sdk/bin/win64/openvr_api.dll"
OPENVR_SDK_DIR=$sdk pack "$work/with-sdk" $flag || { cat "$work/with-sdk.log"; bad "packaging with OPENVR_SDK_DIR failed"; }
cmp -s "$sdk/bin/win64/openvr_api.dll" "$work/with-sdk/tarvolt_rq508/bin/win64/openvr_api.dll" ||
  bad "openvr_api.dll in the package is not the SDK's"
"$src/tests/check_package.sh" "$work/with-sdk/tarvolt_rq508" "$src/package" "$objdump" $parts openvr_api || status=1

# Catches: a folder that is not an SDK accepted as one.
if OPENVR_SDK_DIR=$work/build pack "$work/not-sdk" $flag; then bad "a folder without the SDK's files was accepted as OPENVR_SDK_DIR"; fi

exit $status
