// SteamVR's server on Windows is vrserver.exe; a Toolhelp snapshot lists every process.
#include "SteamVr.h"

#include <windows.h>
#include <tlhelp32.h>

namespace tarvolt::probe {

bool SteamVrServerRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
        found = lstrcmpiW(entry.szExeFile, L"vrserver.exe") == 0;
    CloseHandle(snapshot);
    return found;
}

} // namespace tarvolt::probe
