#!/usr/bin/env bash
# Checks a Windows driver package as tools/package.sh lays it out:
#   check_package.sh <package folder> <source package/ folder> <objdump> [vistrel] [openvr_api]
# The folder must hold exactly the manifest, the resources of package/, the driver library,
# tarvolt-probe.exe, and vistrel.exe and openvr_api.dll when named (the latter with THIRD-PARTY-NOTICES.txt, which
# names it on a line of its own); the zip beside it the same files. Every binary must be a
# 64-bit Windows image importing system DLLs only, vistrel.exe also openvr_api.dll.
set -euo pipefail
pkg=$1; source_pkg=$2; objdump=$3; shift 3
want_vistrel=no; want_openvr_api=no
for a in "$@"; do
  case $a in vistrel) want_vistrel=yes ;; openvr_api) want_openvr_api=yes ;; esac
done
status=0
bad() { echo "FAIL: $*"; status=1; }

expected=$( { echo driver.vrdrivermanifest
              (cd "$source_pkg" && find resources -type f)
              echo bin/win64/driver_tarvolt_rq508.dll
              echo bin/win64/tarvolt-probe.exe
              [ $want_vistrel = yes ] && echo bin/win64/vistrel.exe
              [ $want_openvr_api = yes ] && printf '%s\n' bin/win64/openvr_api.dll THIRD-PARTY-NOTICES.txt
              true; } | sort)
actual=$(cd "$pkg" && find . -type f | sed 's|^\./||' | sort)
[ "$expected" = "$actual" ] || bad "files differ from the expected set:
$(diff <(echo "$expected") <(echo "$actual") || true)"
for f in driver.vrdrivermanifest $(cd "$source_pkg" && find resources -type f); do
  [ -f "$pkg/$f" ] && { cmp -s "$source_pkg/$f" "$pkg/$f" || bad "$f differs from package/$f"; }
done

if [ $want_openvr_api = yes ] && [ -f "$pkg/THIRD-PARTY-NOTICES.txt" ]; then
  grep -q '^bin/win64/openvr_api.dll: OpenVR SDK ' "$pkg/THIRD-PARTY-NOTICES.txt" ||
    bad "THIRD-PARTY-NOTICES.txt has no line for bin/win64/openvr_api.dll"
fi

zip=$(dirname "$pkg")/$(basename "$pkg").zip
if [ -f "$zip" ]; then
  zipped=$(zip -sf "$zip" | sed -n 's|^  *tarvolt_rq508/\(.*[^/]\)$|\1|p' | sort)
  [ "$zipped" = "$actual" ] || bad "$zip holds other files than the folder"
else
  bad "no zip beside the folder: $zip"
fi

# Windows system libraries a driver or console program may import; anything else (a MinGW
# runtime DLL, say) would be missing on a user's machine.
is_system_dll() {
  case ${1,,} in
    kernel32.dll|user32.dll|advapi32.dll|ole32.dll|oleaut32.dll|combase.dll|shell32.dll|shlwapi.dll|\
    ws2_32.dll|bcrypt.dll|msvcrt.dll|ucrtbase.dll|ntdll.dll|rpcrt4.dll|runtimeobject.dll|\
    windowsapp.dll|api-ms-win-*.dll|ext-ms-win-*.dll) return 0 ;;
  esac
  return 1
}
check_image() {  # <file> <extra allowed DLL, required>
  local file=$1 extra=${2:-} headers imports found_extra=no
  headers=$("$objdump" -p "$file")
  grep -q 'file format pei-x86-64' <<< "$headers" || bad "$file is not a 64-bit Windows image"
  grep -Eq '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' <<< "$headers" || bad "$file is not PE32+"
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers")
  [ -n "$imports" ] || bad "$file imports nothing"
  for dll in $imports; do
    if [ -n "$extra" ] && [ "${dll,,}" = "${extra,,}" ]; then found_extra=yes
    elif ! is_system_dll "$dll"; then bad "$(basename "$file") imports $dll, which is not a Windows system DLL"; fi
  done
  [ -z "$extra" ] || [ $found_extra = yes ] || bad "$(basename "$file") does not import $extra"
  echo "$(basename "$file"): $(echo $imports)"
}
bin=$pkg/bin/win64
[ -f "$bin/driver_tarvolt_rq508.dll" ] && check_image "$bin/driver_tarvolt_rq508.dll"
[ -f "$bin/tarvolt-probe.exe" ] && check_image "$bin/tarvolt-probe.exe"
[ $want_vistrel = yes ] && [ -f "$bin/vistrel.exe" ] && check_image "$bin/vistrel.exe" openvr_api.dll
[ $want_openvr_api = yes ] && [ -f "$bin/openvr_api.dll" ] && check_image "$bin/openvr_api.dll"
[ $status = 0 ] && echo "package $pkg: as expected"
exit $status
