#!/usr/bin/env bash
# Fails when a shipped binary links a file of others that package/notices/linked.txt does not
# account for. Every library and start-up file that the binary's link map shows the linker loading
# (its LOAD lines with an absolute path; the build's own files are named relative to the build,
# and shared libraries are only needed at run time) must match a line there that names a notice
# of that folder, or "-" and why none is needed.
#   check_linked_notices.sh <package/notices folder> <link map>...
set -euo pipefail
shopt -s extglob
dir=$1; shift
status=0
bad() { echo "FAIL: $*"; status=1; }
table=$(grep -v '^#' "$dir/linked.txt" | grep .)
for map in "$@"; do
  binary=$(basename "$(dirname "$(dirname "$map")")")/$(basename "$map" .map)
  [ -s "$map" ] || { bad "no link map $map: build the shipped targets first"; continue; }
  for path in $(sed -n 's|^LOAD \(/[^ ]*\)$|\1|p' "$map" | grep -v '\.so[.0-9]*$' | xargs -r realpath -ms | sort -u); do
    found=no
    while read -r pattern notice reason; do
      # shellcheck disable=SC2053  # the pattern is a glob
      [[ $path == $pattern ]] || continue
      found=yes
      if [ "$notice" = - ]; then [ -n "$reason" ] || bad "$dir/linked.txt: '-' without a reason for $pattern"
      else [ -s "$dir/$notice" ] || bad "$dir/linked.txt: no notice $notice in $dir"; fi
      break
    done <<< "$table"
    [ $found = yes ] || bad "$binary links $path, for which $dir/linked.txt has no notice or reason"
  done
  taken=$(sed -n '/^Archive member included/,/^Discarded input/p' "$map" | grep -oE '^/[^(]+\.a' |
    xargs -r -n1 basename | sort -u | tr '\n' ' ' || true)
  echo "$binary: archives of others it takes code from: ${taken:-none}"
done
exit $status
