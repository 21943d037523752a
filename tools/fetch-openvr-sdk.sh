#!/usr/bin/env bash
# Fetches the files of the OpenVR SDK that the driver package ships, from the SDK's public source
# archive of one pinned release, and checks each against its SHA-256 committed beside this script:
#   tools/fetch-openvr-sdk.sh [--url <archive URL>] [--sums <file>] <destination folder>
#   tools/fetch-openvr-sdk.sh --version     (prints the pinned release, such as v1.16.8)
# gives <destination>/bin/win64/openvr_api.dll, <destination>/bin/linux64/libopenvr_api.so and
# <destination>/LICENSE, and nothing else. --url and --sums replace the pinned archive and its
# hashes (a mirror, or the tests' own archive).
# A destination that already holds exactly those files with those hashes is kept as it is, so
# that a machine which fetched once packages offline. On any failure (download, damaged archive,
# a missing file, a wrong hash) the script says why and exits 1, and the destination is gone:
# nothing half-written or stale can pass for a verified SDK.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=v1.16.8
url=https://github.com/ValveSoftware/openvr/archive/refs/tags/$version.tar.gz
sums=$here/openvr-sdk-$version.sha256
usage="usage: fetch-openvr-sdk.sh [--url <archive URL>] [--sums <file>] <destination folder>"

dest=""
while [ $# -gt 0 ]; do
  case $1 in
    --version) echo "$version"; exit 0 ;;
    --url) url=${2:?$usage}; shift 2 ;;
    --sums) sums=${2:?$usage}; shift 2 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) [ -z "$dest" ] || { echo "$usage" >&2; exit 2; }; dest=$1; shift ;;
  esac
done
[ -n "$dest" ] || { echo "$usage" >&2; exit 2; }
dest=${dest%/}

fail() { echo "fetch-openvr-sdk: $*" >&2; exit 1; }

# "<sha256>  <path inside the SDK>" per line, as sha256sum writes them.
[ -f "$sums" ] || fail "no hash list at $sums"
sums=$(cd "$(dirname "$sums")" && pwd)/$(basename "$sums")  # read again from inside the folders
members=()
while read -r hash path; do
  [ -z "$hash" ] && continue
  [[ $hash =~ ^[0-9a-f]{64}$ ]] && [ -n "$path" ] && [[ $path != /* && $path != *..* ]] ||
    fail "$sums: not a line of '<sha256>  <path>': $hash $path"
  members+=("$path")
done < "$sums"
[ ${#members[@]} -gt 0 ] || fail "$sums lists no files"

# True when <folder> holds exactly the listed files, each with its hash.
verified() {
  local dir=$1 listed actual
  [ -d "$dir" ] || return 1
  listed=$(printf '%s\n' "${members[@]}" | sort)
  actual=$(cd "$dir" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort)
  [ "$listed" = "$actual" ] && (cd "$dir" && sha256sum --quiet --strict -c "$sums" >/dev/null 2>&1)
}

if verified "$dest"; then
  echo "fetch-openvr-sdk: $dest already holds the verified files"
  exit 0
fi
# An earlier, different or damaged fetch must not survive a failed one.
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
work=$(mktemp -d "$dest.partial.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

echo "fetch-openvr-sdk: downloading $url"
# Give up on a connection that cannot be made or that stalls, rather than hang the build.
curl -fsSL --connect-timeout 30 --speed-limit 1024 --speed-time 60 -o "$work/sdk.tar.gz" "$url" \
    2> "$work/curl.log" ||
  fail "download failed: $url ($(head -n 1 "$work/curl.log"))"

# The archive holds the SDK in one top folder (openvr-<version>/ for GitHub's archives). Only
# the listed members are written; the samples and the other platforms' files stay in the archive.
mkdir "$work/sdk"
patterns=()
for m in "${members[@]}"; do patterns+=("*/$m"); done
# tar's messages in English whatever the locale: they are told apart below.
set +e
LC_ALL=C tar -xzf "$work/sdk.tar.gz" -C "$work/sdk" --strip-components=1 \
    --wildcards --no-wildcards-match-slash --anchored "${patterns[@]}" 2> "$work/tar.log"
tar_status=$?
set -e
# Members that are not in the archive are reported below by name; anything else tar says means
# the download is not a whole archive.
damage=$(grep -v -e '^[[:space:]]*$' -e 'Not found in archive' -e 'Exiting with failure status' "$work/tar.log" || true)
if [ $tar_status -ne 0 ] && [ -n "$damage" ]; then
  fail "the download from $url is not a readable .tar.gz archive (damaged or cut short): $(head -n 1 <<< "$damage")"
fi
for m in "${members[@]}"; do
  [ -f "$work/sdk/$m" ] && [ ! -L "$work/sdk/$m" ] || fail "the archive from $url has no $m: is it the OpenVR SDK $version?"
done
[ $tar_status -eq 0 ] || fail "could not extract from $url: $(head -n 1 "$work/tar.log")"

while read -r hash path; do
  [ -z "$hash" ] && continue
  actual=$(sha256sum "$work/sdk/$path" | cut -d' ' -f1)
  [ "$actual" = "$hash" ] ||
    fail "$path from $url has SHA-256 $actual, expected $hash (listed in $sums): not the file of the OpenVR SDK $version"
done < "$sums"
verified "$work/sdk" || fail "the archive from $url holds more than the listed files under their names"

mv "$work/sdk" "$dest"
echo "fetch-openvr-sdk: $dest: ${members[*]} (OpenVR SDK $version, SHA-256 checked)"
