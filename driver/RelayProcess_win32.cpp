// Relay process control with the Win32 calls: the module path through GetModuleHandleExW and
// GetModuleFileNameW, CreateProcessW without a window and without inherited handles,
// TerminateProcess with exit code 0; its end watched by a wait on its process handle beside an
// event that wakes the wait. Wide calls throughout, so that the driver's folder may be named in
// any script: the runtime itself loads drivers by their wide path.
#include "RelayProcess.h"

#include "DriverLog.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace tarvolt {

RelayProcessInformation relayProcessInfo{};
const char *const kRelayProgramName = "vistrel.exe";
const char *const kServerProgramName = "vrserver.exe";

namespace {
// Whether relayProcessInfo still holds open handles: once they are closed, their values may name
// other objects of the server process and must not be terminated or closed again. Read by the
// host's thread while the watching thread may change it.
std::atomic<bool> relayHandlesOpen{false};
// The watch's wake: an auto-reset event, null while no watch is open.
std::atomic<HANDLE> wakeEvent{nullptr};

// TerminateProcess only starts the end of the process. The relay is waited for this long, so
// that it no longer writes the block when the next activation zeroes it and no longer runs when
// Deactivate returns; a process that takes longer is left to end on its own.
constexpr DWORD kRelayEndWaitMs = 1000;
} // namespace

ModulePath ReadModuleFileName(HMODULE module, DWORD limit)
{
    ModulePath path;
    DWORD capacity = limit < MAX_PATH ? limit : MAX_PATH;
    for (;;) {
        path.resize(capacity);
        const DWORD length = GetModuleFileNameW(module, path.data(), capacity);
        if (length == 0)
            return {};
        if (length < capacity) {
            path.resize(length);
            return path;
        }
        // The path filled the buffer, so it arrived cut: its directory could be another one.
        if (capacity >= limit)
            return {};
        capacity = capacity * 2 < limit ? capacity * 2 : limit;
    }
}

ModulePath GetDriverDirectory()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GetDriverDirectory), &module)) {
        Log("Failed to get DLL path.");
        return {};
    }
    const ModulePath path = ReadModuleFileName(module, kModulePathLimit);
    if (path.empty()) {
        Log("Failed to get DLL path.");
        return {};
    }
    return DirectoryOfModulePath(path);
}

ModulePath RelayProgramPath(const ModulePath &directory, const char *exeName)
{
    const int size = static_cast<int>(std::strlen(exeName));
    ModulePath name(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, exeName, size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, exeName, size, name.data(), static_cast<int>(name.size()));
    return directory + L"\\" + name;
}

bool LaunchRelayProcess(const char *exeName)
{
    const ModulePath directory = GetDriverDirectory();
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(&relayProcessInfo, sizeof relayProcessInfo);
    relayHandlesOpen = false;

    // Without the library's directory the path would be "\vistrel.exe" at the root of the
    // current drive: whatever lies there is not ours to start.
    if (directory.empty())
        return false;
    const ModulePath path = RelayProgramPath(directory, exeName);
    // No command line, no inherited handles, no console window; the server's own environment
    // and current directory.
    if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &relayProcessInfo))
        return false;
    relayHandlesOpen = true;
    return true;
}

void StartRelayProcess(const char *exeName)
{
    Log(LaunchRelayProcess(exeName) ? "Vistrel process started." : "CreateProcess failed.");
}

void StopRelayProcess()
{
    // A relay that already ended counts as not terminated. Windows fails TerminateProcess on it;
    // Wine reports success, so the end is checked first for the same outcome everywhere.
    const bool running = relayHandlesOpen && WaitForSingleObject(relayProcessInfo.hProcess, 0) == WAIT_TIMEOUT;
    const bool terminated = running && TerminateProcess(relayProcessInfo.hProcess, 0);
    if (terminated) {
        WaitForSingleObject(relayProcessInfo.hProcess, kRelayEndWaitMs);
        Log("Vistrel process terminated.");
    } else {
        Log("Failed to terminate Vistrel process, the process may not exist.");
    }
    if (relayHandlesOpen) {
        CloseHandle(relayProcessInfo.hProcess);
        CloseHandle(relayProcessInfo.hThread);
        relayHandlesOpen = false;
    }
}

bool RelayProcessStarted() { return relayHandlesOpen; }

bool OpenRelayWatch()
{
    wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return wakeEvent.load() != nullptr;
}

void CloseRelayWatch()
{
    if (HANDLE event = wakeEvent.exchange(nullptr))
        CloseHandle(event);
}

void WakeRelayWatch()
{
    if (HANDLE event = wakeEvent.load())
        SetEvent(event);
}

bool WaitForRelayEnd(std::chrono::nanoseconds limit)
{
    DWORD timeout = INFINITE;
    if (limit != std::chrono::nanoseconds::max()) {
        // Whole milliseconds, rounded up so that a short pause does not turn into a busy loop.
        const int64_t ms = (limit.count() + 999999) / 1000000;
        timeout = ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
    }
    const bool child = relayHandlesOpen;
    HANDLE handles[2] = {wakeEvent.load(), relayProcessInfo.hProcess};
    WaitForMultipleObjects(child ? 2 : 1, handles, FALSE, timeout);
    return child && WaitForSingleObject(relayProcessInfo.hProcess, 0) == WAIT_OBJECT_0;
}

RelayEnd CollectRelayEnd()
{
    RelayEnd end;
    if (!relayHandlesOpen)
        return end;
    DWORD code = 0;
    if (GetExitCodeProcess(relayProcessInfo.hProcess, &code) && code != STILL_ACTIVE) {
        end.known = true;
        end.code = code;
    }
    CloseHandle(relayProcessInfo.hProcess);
    CloseHandle(relayProcessInfo.hThread);
    relayHandlesOpen = false;
    return end;
}

// Crash statuses (NTSTATUS values, 0xC0000005 for an access violation) read best in hexadecimal.
std::string RelayExitCodeText(uint32_t code)
{
    if (code < 0xC0000000u)
        return std::to_string(code);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

} // namespace tarvolt
