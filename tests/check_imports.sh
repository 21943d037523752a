#!/usr/bin/env bash
# Fails when a Windows library imports a DLL that is not part of Windows: the driver is loaded
# from its own folder by the runtime, where no MinGW runtime DLLs are found.
#   check_imports.sh <library.dll> <objdump>
set -euo pipefail
lib=$1; objdump=$2
imports=$("$objdump" -p "$lib" | awk '/DLL Name:/ {print $3}')
if [ -z "$imports" ]; then echo "no imports found in $lib"; exit 1; fi
status=0
while read -r name; do
  case "${name,,}" in
    kernel32.dll|msvcrt.dll|ole32.dll|oleaut32.dll|advapi32.dll|user32.dll|combase.dll|api-ms-win-*.dll) ;;
    *) echo "imports a DLL that is not part of Windows: $name"; status=1 ;;
  esac
done <<< "$imports"
[ $status = 0 ] && echo "imports of $(basename "$lib"): $(echo $imports)"
exit $status
