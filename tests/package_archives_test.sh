#!/usr/bin/env bash
# What a user gets: the package of both platforms made as make package makes it, its zip and its
# .tar.gz each unpacked into an empty folder and checked (check_package.sh), and every file of
# others linked into what ships checked for its notice (check_linked_notices.sh).
#   package_archives_test.sh <source dir> <windows build dir> <linux build dir> <work folder>
# It never reaches the network: the package holds the official openvr_api only when
# OPENVR_SDK_DIR gives it or the Windows build holds the SDK an earlier make package fetched.
set -euo pipefail
src=$1; wbuild=$2; lbuild=$3; work=$(realpath -m "$4")
rm -rf "$work"; mkdir -p "$work/zip" "$work/tar"
export OPENVR_SDK_URL=file://$work/no-sdk.tar.gz
unset OPENVR_SDK_SUMS
"$src/tools/package.sh" "$wbuild" "$work" --linux "$lbuild" 2> "$work/package.log" ||
  { cat "$work/package.log"; exit 1; }
parts=(vistrel linux)
grep -q "needs openvr_api.dll" "$work/package.log" || parts+=(openvr_api)
echo "packaged with: ${parts[*]}"

status=0
(cd "$work/zip" && unzip -q "$work/tarvolt_rq508.zip")
tar -C "$work/tar" -xzf "$work/tarvolt_rq508.tar.gz"
for archive in zip tar; do
  echo "== unpacked from the $archive archive"
  "$src/tests/check_package.sh" "$work/$archive/tarvolt_rq508" "$src" x86_64-w64-mingw32-objdump "${parts[@]}" || status=1
done
echo "== files of others linked into what ships"
maps=()
for b in driver_tarvolt_rq508 vistrel tarvolt-probe; do maps+=("$wbuild/linkmaps/$b.map" "$lbuild/linkmaps/$b.map"); done
"$src/tests/check_linked_notices.sh" "$src/package/notices" "${maps[@]}" || status=1
exit $status
