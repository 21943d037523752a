#!/usr/bin/env bash
# tools/fetch-openvr-sdk.sh against archives made here from a small tree shaped like the OpenVR
# SDK's source archive, served by file:// URLs: no network.
#   fetch_openvr_sdk_test.sh <source dir> <work dir>
set -euo pipefail
src=$1; work=$2/fetch-openvr-sdk-test
fetch=$src/tools/fetch-openvr-sdk.sh
rm -rf "$work"; mkdir -p "$work"
status=0
bad() { echo "FAIL: $*"; status=1; }

# The SDK's source archive: one top folder; besides the shipped files, other platforms' builds,
# headers, samples and a second LICENSE deeper down, none of which may be taken.
tree=$work/tree/openvr-1.16.8
mkdir -p "$tree/bin/win64" "$tree/bin/linux64" "$tree/bin/win32" "$tree/headers" "$tree/samples/thirdparty/x"
head -c 4096 /dev/urandom > "$tree/bin/win64/openvr_api.dll"
head -c 4096 /dev/urandom > "$tree/bin/linux64/libopenvr_api.so"
head -c 4096 /dev/urandom > "$tree/bin/win32/openvr_api.dll"
printf 'Copyright (c) 2015, Valve Corporation\nAll rights reserved.\n' > "$tree/LICENSE"
echo "a sample's licence" > "$tree/samples/thirdparty/x/LICENSE"
echo "// header" > "$tree/headers/openvr.h"
echo "// sample" > "$tree/samples/sample.cpp"
tar -czf "$work/sdk.tar.gz" -C "$work/tree" openvr-1.16.8
(cd "$tree" && sha256sum bin/win64/openvr_api.dll bin/linux64/libopenvr_api.so LICENSE) > "$work/good.sha256"

run() {  # <name> <archive URL> <sums>: runs the fetch into $work/<name>/sdk, output in <name>.log
  mkdir -p "$work/$1"
  "$fetch" --url "$2" --sums "$3" "$work/$1/sdk" > "$work/$1.log" 2>&1
}
# Catches: a failed fetch that leaves files (a partial download, an extracted file that failed
# its check, an earlier fetch) where the package step would take them for a verified SDK.
left_nothing() {  # <name>
  local left
  left=$(cd "$work/$1" && find . -mindepth 1 | sort)
  [ -z "$left" ] || bad "$1: a failed fetch left $(echo $left)"
}
expect_failure() {  # <name> <text the message must hold> <archive URL> [sums]
  if run "$1" "$3" "${4:-$work/good.sha256}"; then
    bad "$1: the fetch succeeded"
  else
    grep -q -- "$2" "$work/$1.log" || bad "$1: no message saying '$2': $(cat "$work/$1.log")"
  fi
  left_nothing "$1"
}

# Catches: a file taken from the wrong place in the archive (the 32-bit library, a sample's
# LICENSE), more taken than listed, or the whole archive unpacked.
if run good "file://$work/sdk.tar.gz" "$work/good.sha256"; then
  got=$(cd "$work/good/sdk" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort)
  want=$(printf '%s\n' LICENSE bin/linux64/libopenvr_api.so bin/win64/openvr_api.dll)
  [ "$got" = "$want" ] || bad "good: extracted files differ: $(echo $got)"
  for f in $want; do cmp -s "$tree/$f" "$work/good/sdk/$f" || bad "good: $f is not the archive's $f"; done
  [ "$(cd "$work/good" && ls -A)" = sdk ] || bad "good: left more than the destination: $(cd "$work/good" && ls -A)"
else
  bad "good: the fetch failed: $(cat "$work/good.log")"
fi

# Catches: a machine that fetched once needing the network again for every package.
"$fetch" --url "file://$work/no-such.tar.gz" --sums "$work/good.sha256" "$work/good/sdk" > "$work/again.log" 2>&1 ||
  bad "a destination already verified was fetched again: $(cat "$work/again.log")"

# Catches: a file that is not the pinned release's accepted, and the earlier, different fetch
# in the destination kept.
{ echo "$(echo another file | sha256sum | cut -d' ' -f1)  bin/win64/openvr_api.dll"
  grep -v bin/win64/openvr_api.dll "$work/good.sha256"; } > "$work/wrong.sha256"
mkdir -p "$work/wrong-hash/sdk/bin/win64" && echo earlier > "$work/wrong-hash/sdk/bin/win64/openvr_api.dll"
expect_failure wrong-hash "bin/win64/openvr_api.dll from .* has SHA-256 .*expected" "file://$work/sdk.tar.gz" "$work/wrong.sha256"

# Catches: a download cut short taken for a complete one.
head -c $(( $(stat -c %s "$work/sdk.tar.gz") / 2 )) "$work/sdk.tar.gz" > "$work/truncated.tar.gz"
expect_failure truncated "not a readable .tar.gz archive" "file://$work/truncated.tar.gz"

# Catches: an archive of something else (or another release's layout) passing without the file.
rm "$tree/LICENSE"
tar -czf "$work/no-license.tar.gz" -C "$work/tree" openvr-1.16.8
expect_failure missing-file "the archive from .* has no LICENSE" "file://$work/no-license.tar.gz"

# Catches: a failed download going unreported, and a build waiting on it.
expect_failure no-download "download failed" "file://$work/no-such.tar.gz"

[ $status = 0 ] && echo "fetch-openvr-sdk: all cases as expected"
exit $status
