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

pack() {  # <output dir> [flag...]; stderr kept in <output dir>.log
  local dir=$1; shift
  mkdir -p "$dir"
  "$src/tools/package.sh" "$work/build" "$dir" "$@" 2> "$dir.log"
}
# Packaging never reaches the network here: the SDK's archive is either missing or the test's own.
export OPENVR_SDK_URL=file://$work/no-such-archive.tar.gz
unset OPENVR_SDK_DIR OPENVR_SDK_SUMS

if [ "$vistrel" = built ]; then
  flags=(); parts=vistrel
else
  flags=(--allow-missing-vistrel); parts=""
  # Catches: a package silently shipped without the program that delivers the pose.
  mkdir -p "$work/refused/tarvolt_rq508" && touch "$work/refused/tarvolt_rq508.zip"  # an earlier run's
  if pack "$work/refused"; then bad "packaging without vistrel.exe succeeded without --allow-missing-vistrel"; fi
  grep -q "vistrel.exe is missing" "$work/refused.log" || bad "no clear message about the missing vistrel.exe"
  [ ! -e "$work/refused/tarvolt_rq508" ] && [ ! -e "$work/refused/tarvolt_rq508.zip" ] ||
    bad "a refused package left an earlier package behind"
  echo "vistrel.exe is not built yet: checking the package without it"
fi

# Catches: stray or missing files, stand-ins in the package, foreign DLL imports, a stale zip;
# and, when the SDK cannot be fetched, a package step that fails or keeps quiet about the
# missing openvr_api.dll.
pack "$work/plain" "${flags[@]}" || { cat "$work/plain.log"; bad "packaging without the SDK failed"; }
grep -q "download failed" "$work/plain.log" || bad "the failed download of the OpenVR SDK is not reported"
grep -q "needs openvr_api.dll from the OpenVR SDK" "$work/plain.log" ||
  bad "without the SDK the package step does not say that openvr_api.dll is needed"
"$src/tests/check_package.sh" "$work/plain/tarvolt_rq508" "$src" "$objdump" $parts || status=1

# Catches: a release made without openvr_api.dll although it was required.
mkdir -p "$work/required/tarvolt_rq508"  # an earlier run's
if pack "$work/required" "${flags[@]}" --require-openvr-api; then
  bad "--require-openvr-api packaged without openvr_api.dll"
fi
grep -q "require-openvr-api" "$work/required.log" || bad "no message saying why --require-openvr-api stopped"
[ ! -e "$work/required/tarvolt_rq508" ] || bad "a refused package left an earlier package behind"

# An SDK-shaped tree: openvr_api.dll must be a 64-bit Windows image for the import check, so a
# copy of the driver library stands in for it, marked so that its origin shows.
licence=$'Copyright (c) 2015, Valve Corporation\nAll rights reserved.\n(test licence text)'
sdk_tree() {  # <folder>
  mkdir -p "$1/headers" "$1/bin/win64" "$1/bin/linux64"
  printf '\tstatic const uint32_t k_nSteamVRVersionMajor = 1;\n\tstatic const uint32_t k_nSteamVRVersionMinor = 16;\n\tstatic const uint32_t k_nSteamVRVersionBuild = 8;\n' \
    > "$1/headers/openvr.h"
  cp "$build/pkg/tarvolt_rq508/bin/win64/driver_tarvolt_rq508.dll" "$1/bin/win64/openvr_api.dll"
  echo "marker $(basename "$1")" >> "$1/bin/win64/openvr_api.dll"
  echo "linux library" > "$1/bin/linux64/libopenvr_api.so"
  printf '%s\n' "$licence" > "$1/LICENSE"
}
# Catches: the library or its licence left out of the package, taken from elsewhere than the
# SDK, or shipped without the line that names it.
check_notices() {  # <package> <sdk folder>
  local notices=$1/THIRD-PARTY-NOTICES.txt
  cmp -s "$2/bin/win64/openvr_api.dll" "$1/bin/win64/openvr_api.dll" || bad "$1: openvr_api.dll is not the SDK's"
  [ -f "$notices" ] || { bad "$1: no THIRD-PARTY-NOTICES.txt"; return; }
  grep -qx "bin/win64/openvr_api.dll: OpenVR SDK v1.16.8 .*" "$notices" ||
    bad "$1: THIRD-PARTY-NOTICES.txt does not name openvr_api.dll and its SDK version"
  tail -c "$(stat -c %s "$2/LICENSE")" "$notices" | cmp -s - "$2/LICENSE" ||
    bad "$1: THIRD-PARTY-NOTICES.txt does not end with the SDK's licence"
}

# The SDK fetched by the package step, from an archive of the SDK's shape with its hashes.
sdk_tree "$work/archive/openvr-1.16.8"
tar -czf "$work/sdk.tar.gz" -C "$work/archive" openvr-1.16.8
(cd "$work/archive/openvr-1.16.8" && sha256sum bin/win64/openvr_api.dll bin/linux64/libopenvr_api.so LICENSE) \
  > "$work/sdk.sha256"
OPENVR_SDK_URL=file://$work/sdk.tar.gz OPENVR_SDK_SUMS=$work/sdk.sha256 \
  pack "$work/fetched" "${flags[@]}" --require-openvr-api ||
  { cat "$work/fetched.log"; bad "packaging with the fetched SDK failed"; }
check_notices "$work/fetched/tarvolt_rq508" "$work/archive/openvr-1.16.8"
"$src/tests/check_package.sh" "$work/fetched/tarvolt_rq508" "$src" "$objdump" $parts openvr_api || status=1

# Catches: the fetched SDK needing the network again for the next package.
OPENVR_SDK_SUMS=$work/sdk.sha256 pack "$work/fetched-again" "${flags[@]}" --require-openvr-api ||
  { cat "$work/fetched-again.log"; bad "packaging again from the SDK fetched before failed"; }
check_notices "$work/fetched-again/tarvolt_rq508" "$work/archive/openvr-1.16.8"

# An SDK on disk, given with OPENVR_SDK_DIR; the fetched one must not be taken instead.
sdk=$work/sdk
sdk_tree "$sdk"
OPENVR_SDK_DIR=$sdk pack "$work/with-sdk" "${flags[@]}" || { cat "$work/with-sdk.log"; bad "packaging with OPENVR_SDK_DIR failed"; }
check_notices "$work/with-sdk/tarvolt_rq508" "$sdk"
"$src/tests/check_package.sh" "$work/with-sdk/tarvolt_rq508" "$src" "$objdump" $parts openvr_api || status=1

# Catches: a folder that is not an SDK accepted as one, and the library shipped without its licence.
if OPENVR_SDK_DIR=$work/build pack "$work/not-sdk" "${flags[@]}"; then bad "a folder without the SDK's files was accepted as OPENVR_SDK_DIR"; fi
rm "$sdk/LICENSE"
if OPENVR_SDK_DIR=$sdk pack "$work/no-licence" "${flags[@]}"; then bad "an SDK without its LICENSE was accepted as OPENVR_SDK_DIR"; fi

exit $status
