#include "ProcessIdentity.h"

#include <windows.h>

#include <cstdlib>

namespace sim {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

namespace {

// The creation time of a process that has not ended, as one number; 0 otherwise.
uint64_t StartTimeOf(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT || !GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

} // namespace

uint64_t ProcessStartTime(uint32_t processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr)
        return 0;
    const uint64_t start = StartTimeOf(process);
    CloseHandle(process);
    return start;
}

// Exit code 0: a background application that SteamVR killed at its exit was seen to end with
// code 0 (ValveSoftware/openvr issue 1490).
bool KillProcess(uint32_t processId, uint64_t startTime)
{
    if (processId == 0 || processId == CurrentProcessId() || startTime == 0)
        return false;
    HANDLE process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId);
    if (process == nullptr)
        return false;
    const bool killed = StartTimeOf(process) == startTime && TerminateProcess(process, 0);
    CloseHandle(process);
    return killed;
}

void CrashThisProcess()
{
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_ACCESS_VIOLATION));
    std::abort();
}

} // namespace sim
