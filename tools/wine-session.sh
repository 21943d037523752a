#!/usr/bin/env bash
# Runs a command with a persistent wineserver for the Windows build's prefix, so that each
# Windows test process starts in a fraction of a second instead of two; ends the server after.
#   wine-session.sh <build dir> <command...>
#
# The prefix (<build dir>/wineprefix) has the test-only Windows Runtime Bluetooth classes of
# sim/winrt_bluetooth registered by class id, as Windows registers its own, so that the shipped
# driver finds them unchanged. Beside it, <build dir>/wineprefix-bare has no such classes, like
# the Wine of Debian and a Windows without them; tests of that case run there (WINEPREFIX).
set -uo pipefail
build=$(realpath -m "$1"); shift
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
prefix="$build/wineprefix"
bare="$build/wineprefix-bare"
record=winrt-bluetooth.reg  # in a prefix: the registration last imported there
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
reg_string() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }

# Classes of Wine's own that the component replaces, with the DLL Wine registers for each.
wine_own() {
  case "$1" in
    Windows.Devices.Enumeration.DeviceInformation) echo 'C:\windows\system32\windows.devices.enumeration.dll' ;;
    Windows.Foundation.Metadata.ApiInformation) echo 'C:\windows\system32\wintypes.dll' ;;
  esac
}

# The registry file for the classes the component serves; with "-", one that removes them (and
# gives Wine back its own).
classes_reg() {
  local dll
  dll=$(windows_path "$build/bin/winrt_bluetooth.dll")
  printf 'REGEDIT4\n'
  for class in Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher \
               Windows.Devices.Bluetooth.BluetoothLEDevice Windows.Storage.Streams.DataReader \
               Windows.Devices.Enumeration.DeviceInformation \
               Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession \
               Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParameters \
               Windows.Foundation.Metadata.ApiInformation; do
    key="HKEY_LOCAL_MACHINE\\Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\$class"
    if [ "${1:-}" = - ]; then
      printf '\n[-%s]\n' "$key"
      own=$(wine_own "$class")
      if [ -n "$own" ]; then
        printf '\n[%s]\n"DllPath"=%s\n' "$key" "$(reg_string "$own")"
      fi
    else
      # In-process, either apartment, base trust: what Windows records for its own classes.
      printf '\n[%s]\n"ActivationType"=dword:00000000\n"DllPath"=%s\n"Threading"=dword:00000000\n"TrustLevel"=dword:00000000\n' \
        "$key" "$(reg_string "$dll")"
    fi
  done
}

import_reg() {  # <prefix> <file>
  WINEPREFIX="$1" $wine regedit /S "$(windows_path "$2")" >/dev/null 2>&1 </dev/null
}

if [ ! -f "$prefix/system.reg" ]; then
  echo "Creating the Wine prefix in $prefix"
  mkdir -p "$prefix"
  WINEPREFIX="$prefix" $wine wineboot -i >/dev/null 2>&1
fi
# The registry reaches its files when the server ends.
WINEPREFIX="$prefix" $wineserver -w
# The bare prefix is a copy of the main one whose drive_c is made of hard links (a second
# wineboot takes many seconds and some 700 MB; Wine does not rewrite those files), without the
# classes.
if [ ! -f "$bare/system.reg" ]; then
  echo "Making the Wine prefix without the Bluetooth classes in $bare"
  rm -rf "$bare" "$bare.tmp"
  mkdir "$bare.tmp"
  cp -al "$prefix/drive_c" "$bare.tmp/"
  cp -a "$prefix/dosdevices" "$prefix"/*.reg "$prefix/.update-timestamp" "$bare.tmp/"
  if [ -f "$prefix/$record" ]; then
    classes_reg - >"$bare.tmp/unregister.reg"
    import_reg "$bare.tmp" "$bare.tmp/unregister.reg"
    rm -f "$bare.tmp/unregister.reg"
    WINEPREFIX="$bare.tmp" $wineserver -k >/dev/null 2>&1 || true
  fi
  mv "$bare.tmp" "$bare"
fi

for p in "$prefix" "$bare"; do
  WINEPREFIX="$p" $wineserver -p >/dev/null 2>&1
  # The first program of a session starts Wine's background services, which inherit its output and
  # keep it open until the server ends: under ctest that first test would never finish. Start them
  # here, detached from the command's output.
  WINEPREFIX="$p" $wine cmd /c exit >/dev/null 2>&1 </dev/null || true
done

# Once per prefix, and again when the build directory moved.
wanted=$(classes_reg)
if [ "$wanted" != "$(cat "$prefix/$record" 2>/dev/null)" ]; then
  printf '%s\n' "$wanted" >"$prefix/$record.new"
  if import_reg "$prefix" "$prefix/$record.new"; then
    mv "$prefix/$record.new" "$prefix/$record"
  else
    echo "Could not register the Windows Runtime Bluetooth classes in $prefix" >&2
  fi
fi

export WINEPREFIX="$prefix"
"$@"
status=$?
for p in "$prefix" "$bare"; do
  WINEPREFIX="$p" $wineserver -k >/dev/null 2>&1 || true
done
exit $status
