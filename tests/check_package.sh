#!/usr/bin/env bash
# Checks a driver package as tools/package.sh lays it out, or as a user unpacks it:
#   check_package.sh <package folder> <source dir> <objdump> [vistrel] [openvr_api] [linux]
# The folder must hold exactly the files the README's install section lists (the first code
# block after "## Installing"; a folder there stands for its files in package/), less the Linux
# files unless [linux] is given and less vistrel and the OpenVR client library unless named; a zip
# beside it the same files. Every Windows binary must be a 64-bit image importing system DLLs
# only, vistrel.exe also openvr_api.dll; the Linux ones must need only libraries the README's
# Linux install section names, no glibc newer than 2.34, and look for them next to themselves.
set -euo pipefail
pkg=$1; source=$2; objdump=$3; shift 3
want_vistrel=no; want_openvr_api=no; want_linux=no
for a in "$@"; do
  case $a in vistrel) want_vistrel=yes ;; openvr_api) want_openvr_api=yes ;; linux) want_linux=yes ;; esac
done
status=0
bad() { echo "FAIL: $*"; status=1; }

listed=$(awk '/^## Installing/ {s=1} s && /^```/ {if (b) exit; b=1; next} b {print $1}' "$source/README.md" | sed 1d)
[ -n "$listed" ] || bad "no list of the package's files in the README's install section"
expected=$(for f in $listed; do
             [[ $f == bin/linux64/* && $want_linux = no ]] && continue
             [[ $f == */vistrel* && $want_vistrel = no ]] && continue
             [[ $f == *openvr_api* && $want_openvr_api = no ]] && continue
             if [[ $f == */ ]]; then (cd "$source/package" && find "${f%/}" -type f); else echo "$f"; fi
           done | sort)
actual=$(cd "$pkg" && find . -type f | sed 's|^\./||' | sort)
[ "$expected" = "$actual" ] || bad "files differ from the README's list:
$(diff <(echo "$expected") <(echo "$actual") || true)"
for f in driver.vrdrivermanifest $(cd "$source/package" && find resources -type f); do
  [ -f "$pkg/$f" ] && { cmp -s "$source/package/$f" "$pkg/$f" || bad "$f differs from package/$f"; }
done
cmp -s "$source/LICENSE" "$pkg/LICENSE" || bad "LICENSE is not the repository's"
node -e 'for (const f of process.argv.slice(1)) try { JSON.parse(require("fs").readFileSync(f, "utf8")) }
  catch (e) { console.log(`FAIL: ${f}: ${e.message}`); process.exitCode = 1 }' \
  $(find "$pkg" -name '*.json' -o -name '*.vrdrivermanifest' -o -name '*.vrsettings') || status=1
# No path of the machine that built it (the build folders lie inside the source folder).
for f in $(grep -rlF -- "$source" "$pkg"); do bad "${f#"$pkg"/} holds the path of the source folder"; done

notices=$(cat "$pkg/THIRD-PARTY-NOTICES.txt" 2>/dev/null || true)
for n in $(awk '!/^#/ && NF && $2 != "-" {print $2}' "$source/package/notices/linked.txt" | sort -u); do
  [[ $notices == *"$(<"$source/package/notices/$n")"* ]] || bad "THIRD-PARTY-NOTICES.txt lacks package/notices/$n"
done
if [ $want_openvr_api = yes ]; then
  grep -q '^bin/win64/openvr_api.dll: OpenVR SDK ' <<< "$notices" || bad "THIRD-PARTY-NOTICES.txt has no line for bin/win64/openvr_api.dll"
fi

zip=$(dirname "$pkg")/$(basename "$pkg").zip
if [ -f "$zip" ]; then
  zipped=$(zip -sf "$zip" | sed -n 's|^  *tarvolt_rq508/\(.*[^/]\)$|\1|p' | sort)
  [ "$zipped" = "$actual" ] || bad "$zip holds other files than the folder"
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
[ -f "$bin/driver_tarvolt_rq508.dll" ] && check_image "$bin/driver_tarvolt_rq508.dll" &&
  { "$source/tests/check_exports.sh" "$bin/driver_tarvolt_rq508.dll" "$objdump" HmdDriverFactory || status=1; }
[ -f "$bin/tarvolt-probe.exe" ] && check_image "$bin/tarvolt-probe.exe"
[ $want_vistrel = yes ] && [ -f "$bin/vistrel.exe" ] && check_image "$bin/vistrel.exe" openvr_api.dll
[ $want_openvr_api = yes ] && [ -f "$bin/openvr_api.dll" ] && check_image "$bin/openvr_api.dll"

if [ $want_linux = yes ]; then
  linux_section=$(awk '/^## Installing in SteamVR \(Linux\)/ {s=1; next} s && /^## / {exit} s' "$source/README.md")
  for f in driver_tarvolt_rq508.so vistrel tarvolt-probe; do
    file=$pkg/bin/linux64/$f
    [ -f "$file" ] || continue
    [ -x "$file" ] || bad "bin/linux64/$f is not executable"
    needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    for lib in $needed; do
      [[ $linux_section == *"\`$lib\`"* ]] || bad "bin/linux64/$f needs $lib, which the README's Linux install section does not name"
    done
    glibc=$(readelf -V "$file" | grep -oE 'GLIBC_[0-9.]+' | sed 's/GLIBC_//' | sort -uV | tail -1)
    [ "$(printf '%s\n' "$glibc" 2.34 | sort -V | tail -1)" = 2.34 ] || bad "bin/linux64/$f needs glibc $glibc, newer than 2.34"
    runpath=$(readelf -d "$file" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
    [ "$runpath" = '$ORIGIN' ] || { [ $f = tarvolt-probe ] && [ -z "$runpath" ]; } ||
      bad "bin/linux64/$f looks for its libraries in '$runpath', not only next to itself (\$ORIGIN)"
    echo "bin/linux64/$f: needs $(echo $needed), glibc $glibc${runpath:+, run path $runpath}"
  done
  [ -f "$pkg/bin/linux64/driver_tarvolt_rq508.so" ] &&
    { "$source/tests/check_exports.sh" "$pkg/bin/linux64/driver_tarvolt_rq508.so" objdump HmdDriverFactory || status=1; }
fi
[ $status = 0 ] && echo "package $pkg: as expected"
exit $status
