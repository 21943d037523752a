#pragma once
// Finding the runtime's server process and watching it end.
#include <cstdint>

namespace tarvolt {

// The server process as the relay watches it. Windows: a process handle opened for waiting.
// POSIX: a process descriptor (pidfd), or -1 on kernels without one, with the process id.
struct ServerProcess {
    intptr_t handle = 0;
    intptr_t id = 0;
};

// The server's executable name ("vrserver.exe" on Windows, "vrserver" elsewhere), as vistrel's
// messages also name it; processes are matched without regard to ASCII letter case.
extern const char *const kServerProcessName;

// True when name equals kServerProcessName but for the case of ASCII letters.
bool IsServerProcessName(const char *name);

// Looks at the process that started this program. When it carries the server's name (the driver
// starts the relay from inside the server), that server is the one to follow, and no other: a
// server left over from an earlier session may run beside it. Otherwise (a relay started by
// hand) the first process of the name is followed. Called at start, while the parent surely
// still runs; the lookups below call it themselves when it has not run yet.
void IdentifyParentServer();

// Whether the server to follow runs (false also when the process list cannot be taken).
bool IsVrServerRunning();

// Looks for the server to follow and opens it for waiting. On failure prints "<server> not
// found." (no such process, or no process list) or "Failed to open <server> process handle.",
// the server named as kServerProcessName, and returns false.
bool FindVrServerProcess(ServerProcess &server);

// A zero-time check: has the server ended?
bool HasServerProcessEnded(const ServerProcess &server);

// Waits, without a time limit, until the server has ended.
void WaitForServerProcessEnd(const ServerProcess &server);

void CloseServerProcess(ServerProcess &server);

} // namespace tarvolt
