#pragma once
// Control of the pose relay program: the driver starts it from its own directory when the device
// is activated and terminates it when the device is deactivated. It tracks at most one relay
// process per loaded library, the one it started last.
#include <chrono>
#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/types.h>
#endif

namespace tarvolt {

#if defined(_WIN32)
using RelayProcessInformation = PROCESS_INFORMATION;
// File paths as Windows' wide-character calls take and hand them out. The narrow calls go through
// the ANSI code page, which turns every character outside it into '?': a driver installed in a
// folder named in another script would look for its relay in a folder that does not exist.
using ModulePath = std::wstring;
#else
using ModulePath = std::string;
// The POSIX counterpart of PROCESS_INFORMATION: the child's process id, 0 for none.
struct RelayProcessInformation {
    pid_t processId;
};
#endif

// All zero at load; zeroed at every start attempt and filled by a successful start. After
// StopRelayProcess the values stay, but the process is never touched through them again.
extern RelayProcessInformation relayProcessInfo;

// The file name of the relay program next to the driver library on this platform
// ("vistrel.exe" on Windows, "vistrel" elsewhere).
extern const char *const kRelayProgramName;

// The directory of the driver library's file, without a trailing separator. Logs
// "Failed to get DLL path." and returns an empty string when the module cannot be found or its
// path does not fit the buffer (a cut path could name another directory).
ModulePath GetDriverDirectory();

#if defined(_WIN32)
// The buffer for the driver's own path grows from MAX_PATH up to this many wide characters, the
// length of the longest path that Windows handles (32767 characters in the \\?\ form, and the
// terminating null), so that a package below a deep folder still finds its relay.
constexpr DWORD kModulePathLimit = 32768;

// The module's full path, read into a buffer that starts at MAX_PATH wide characters and doubles
// up to limit; empty when reading fails or the path does not fit limit characters with its
// terminating null.
ModulePath ReadModuleFileName(HMODULE module, DWORD limit);
#endif

// Everything before the last backslash or forward slash of a module path; a path without either
// is returned whole.
ModulePath DirectoryOfModulePath(const ModulePath &modulePath);

// The program's path: the directory, the platform's separator (always a backslash on Windows,
// whatever separator the directory uses) and the file name (UTF-8).
ModulePath RelayProgramPath(const ModulePath &directory, const char *exeName);

// Starts exeName from the driver library's directory without a console, without inherited
// handles and in the server's own current directory; logs "Vistrel process started." or
// "CreateProcess failed.".
void StartRelayProcess(const char *exeName);

// The same without the log line; true when the program was started.
bool LaunchRelayProcess(const char *exeName);

// Terminates the recorded process (exit code 0), waits (bounded) until it has ended, and closes
// its handles; logs "Vistrel process terminated." or "Failed to terminate Vistrel process, the
// process may not exist.".
void StopRelayProcess();

// Whether a relay was started and neither StopRelayProcess nor CollectRelayEnd has run for it
// since (it may have ended on its own meanwhile).
bool RelayProcessStarted();

// Watching the relay for its end, for the thread that looks after it. The wake ends the watch's
// current or next wait at once; it may be raised from any thread, the frame thread included: it
// neither allocates nor blocks. Open and close run on the thread that starts and stops the
// watching; the others on the watching thread, except WakeRelayWatch.
bool OpenRelayWatch();
void CloseRelayWatch();
void WakeRelayWatch();

// Waits until the recorded relay has ended, the wake is raised, or `limit` (real time; max: no
// limit) has passed. True when the relay has ended; it stays recorded until CollectRelayEnd.
// Without a recorded relay it waits for the wake or the limit only.
bool WaitForRelayEnd(std::chrono::nanoseconds limit);

// How a relay ended, as the platform tells.
struct RelayEnd {
    bool known = false;      // false: the status was lost (another part of the server reaped it)
    bool signalled = false;  // POSIX: ended by a signal, whose number is `code`
    uint32_t code = 0;       // exit code, or the signal
};

// Collects a relay that WaitForRelayEnd saw ended: reaps it (POSIX), or reads its exit code and
// closes its handles (Windows). It is no longer recorded afterwards.
RelayEnd CollectRelayEnd();

// The runtime's server program as this platform names it ("vrserver.exe" on Windows, "vrserver"
// elsewhere), and an exit code as the platform writes it (Windows: crash statuses in hexadecimal).
extern const char *const kServerProgramName;
std::string RelayExitCodeText(uint32_t code);

// The driver's log line for an ended relay: its exit code or signal, with what vistrel's own exit
// codes mean ("Vistrel process ended with exit code 2 (vrserver not found).").
std::string RelayEndLine(const RelayEnd &end);

} // namespace tarvolt
