#pragma once
// Processes as the simulated server knows its clients: by id and by the moment they started, so
// that a client that has ended counts as gone even when its id has been given to another process,
// and only a client still running is ever killed.
#include <cstdint>

namespace sim {

uint32_t CurrentProcessId();

// When the process started, in the platform's own units; 0 when no such process runs (one that
// has ended and waits to be reaped counts as not running).
uint64_t ProcessStartTime(uint32_t processId);

// Kills the process if it still runs and started at startTime; false otherwise. Never the
// calling process.
bool KillProcess(uint32_t processId, uint64_t startTime);

// Ends the calling process as an unhandled crash does, without a core file: SIGSEGV on POSIX,
// exit status STATUS_ACCESS_VIOLATION on Windows (without Windows Error Reporting's dialog).
[[noreturn]] void CrashThisProcess();

} // namespace sim
