// The server on Windows: the first entry of a Toolhelp process snapshot named vrserver.exe,
// opened for waiting and querying.
#include "Console.h"
#include "ServerProcess.h"

#include <windows.h>
#include <tlhelp32.h>

namespace tarvolt {

const char *const kServerProcessName = "vrserver.exe";

namespace {

DWORD FindServerProcessId()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    DWORD id = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (IsServerProcessName(entry.szExeFile)) {
            id = entry.th32ProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return id;
}

} // namespace

bool IsVrServerRunning() { return FindServerProcessId() != 0; }

bool FindVrServerProcess(ServerProcess &server)
{
    server = ServerProcess{};
    const DWORD id = FindServerProcessId();
    if (id == 0) {
        PrintLine("vrserver.exe not found.");
        return false;
    }
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id);
    if (process == nullptr) {
        PrintLine("Failed to open vrserver.exe process handle.");
        return false;
    }
    server.handle = reinterpret_cast<intptr_t>(process);
    server.id = static_cast<intptr_t>(id);
    return true;
}

bool HasServerProcessEnded(const ServerProcess &server)
{
    return WaitForSingleObject(reinterpret_cast<HANDLE>(server.handle), 0) == WAIT_OBJECT_0;
}

void CloseServerProcess(ServerProcess &server)
{
    if (server.handle != 0)
        CloseHandle(reinterpret_cast<HANDLE>(server.handle));
    server = ServerProcess{};
}

} // namespace tarvolt
