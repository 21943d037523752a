#!/usr/bin/env bash
# Fails when a library exports anything besides the names given.
#   check_exports.sh <library> <objdump> <allowed name>...
set -euo pipefail
lib=$1; objdump=$2; shift 2
case "$lib" in
  *.dll)
    # The export table: lines "[Ordinal] Name" after "[Ordinal/Name Pointer] Table".
    exports=$("$objdump" -p "$lib" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[/ {print $NF; next} t && NF==0 {t=0}')
    ;;
  *)
    exports=$(nm -D --defined-only "$lib" | awk '{print $NF}')
    ;;
esac
status=0
if [ -z "$exports" ]; then echo "no exports found in $lib"; exit 1; fi
while read -r name; do
  allowed=no
  for a in "$@"; do [ "$name" = "$a" ] && allowed=yes; done
  if [ $allowed = no ]; then echo "unexpected export: $name"; status=1; fi
done <<< "$exports"
for a in "$@"; do
  grep -qx "$a" <<< "$exports" || { echo "missing export: $a"; status=1; }
done
[ $status = 0 ] && echo "exports of $(basename "$lib"): $(echo $exports)"
exit $status
