// The server on Windows: the parent process when it is vrserver.exe (from the Toolhelp process
// snapshot's parent id), otherwise the first entry of the snapshot of that name; opened for
// waiting and querying.
#include "Console.h"
#include "ServerProcess.h"

#include <windows.h>
#include <tlhelp32.h>

namespace tarvolt {

const char *const kServerProcessName = "vrserver.exe";

namespace {

bool parentLooked = false;
// The server that started this program, or 0. Its handle stays open for the program's life, so
// that its id cannot be given to another process while the relay looks it up by that id.
DWORD parentServerId = 0;
HANDLE parentServer = nullptr;

// Walks a process snapshot until visit returns true; false when the snapshot cannot be taken.
template <class Visit>
bool WalkProcesses(Visit visit)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (visit(entry))
            break;
    CloseHandle(snapshot);
    return true;
}

DWORD FindServerProcessId()
{
    IdentifyParentServer();
    if (parentServerId != 0)
        return parentServer != nullptr && WaitForSingleObject(parentServer, 0) == WAIT_OBJECT_0 ? 0 : parentServerId;
    DWORD id = 0;
    WalkProcesses([&](const PROCESSENTRY32 &entry) {
        if (!IsServerProcessName(entry.szExeFile))
            return false;
        id = entry.th32ProcessID;
        return true;
    });
    return id;
}

} // namespace

void IdentifyParentServer()
{
    if (parentLooked)
        return;
    parentLooked = true;
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    WalkProcesses([&](const PROCESSENTRY32 &entry) {
        if (entry.th32ProcessID != self)
            return false;
        parent = entry.th32ParentProcessID;
        return true;
    });
    bool parentIsServer = false;
    if (parent != 0) {
        WalkProcesses([&](const PROCESSENTRY32 &entry) {
            if (entry.th32ProcessID != parent)
                return false;
            parentIsServer = IsServerProcessName(entry.szExeFile);
            return true;
        });
    }
    if (parentIsServer) {
        parentServerId = parent;
        parentServer = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, parent);
    }
}

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

void WaitForServerProcessEnd(const ServerProcess &server)
{
    WaitForSingleObject(reinterpret_cast<HANDLE>(server.handle), INFINITE);
}

void CloseServerProcess(ServerProcess &server)
{
    if (server.handle != 0)
        CloseHandle(reinterpret_cast<HANDLE>(server.handle));
    server = ServerProcess{};
}

} // namespace tarvolt
