// The server on POSIX systems: the parent process when it is named vrserver, otherwise the first
// process in /proc of that name; watched through a process descriptor (pidfd) so that its end
// shows even while its parent has not reaped it. Kernels without pidfd fall back to probing the
// process id.
#include "Console.h"
#include "ServerProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace tarvolt {

const char *const kServerProcessName = "vrserver";

namespace {

bool parentLooked = false;
// The server that started this program, or 0. It has ended once this process has another
// parent (an orphan is handed to a reaper at its parent's exit), which no reuse of its id fools.
pid_t parentServer = 0;

// Reads a small /proc file into buffer (NUL-terminated, without allocating); false on failure.
bool ReadProcFile(const char *path, char *buffer, size_t size)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = read(fd, buffer, size - 1);
    close(fd);
    if (n <= 0)
        return false;
    buffer[n] = '\0';
    return true;
}

bool IsNamedServer(long pid)
{
    char path[64];
    char name[64];
    std::snprintf(path, sizeof path, "/proc/%ld/comm", pid);
    if (!ReadProcFile(path, name, sizeof name))
        return false;
    name[std::strcspn(name, "\n")] = '\0';
    return IsServerProcessName(name);
}

bool ParentServerRuns() { return getppid() == parentServer; }

pid_t FindServerProcessId()
{
    IdentifyParentServer();
    if (parentServer != 0)
        return ParentServerRuns() ? parentServer : 0;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return 0;
    pid_t found = 0;
    while (const dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        if (IsNamedServer(pid)) {
            found = static_cast<pid_t>(pid);
            break;
        }
    }
    closedir(proc);
    return found;
}

// Without a pidfd: the process is gone, or has ended and waits to be reaped (a zombie).
bool HasEndedById(pid_t pid)
{
    if (pid == parentServer)
        return !ParentServerRuns();
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    char path[64];
    char stat[512];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    if (!ReadProcFile(path, stat, sizeof stat))
        return true;
    const char *afterName = std::strrchr(stat, ')');
    return afterName != nullptr && (afterName[2] == 'Z' || afterName[2] == 'X');
}

} // namespace

void IdentifyParentServer()
{
    if (parentLooked)
        return;
    parentLooked = true;
    const pid_t parent = getppid();
    if (IsNamedServer(parent))
        parentServer = parent;
}

bool IsVrServerRunning() { return FindServerProcessId() != 0; }

bool FindVrServerProcess(ServerProcess &server)
{
    server = ServerProcess{};
    const pid_t pid = FindServerProcessId();
    if (pid == 0) {
        PrintLine(std::string(kServerProcessName) + " not found.");
        return false;
    }
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd < 0 && !(errno == ENOSYS && !HasEndedById(pid))) {
        PrintLine(std::string("Failed to open ") + kServerProcessName + " process handle.");
        return false;
    }
    // The parent may have ended just before its descriptor was opened, and its id gone to
    // another process since.
    if (pid == parentServer && !ParentServerRuns()) {
        if (fd >= 0)
            close(static_cast<int>(fd));
        PrintLine(std::string(kServerProcessName) + " not found.");
        return false;
    }
    server.handle = fd;
    server.id = pid;
    return true;
}

bool HasServerProcessEnded(const ServerProcess &server)
{
    if (server.handle < 0)
        return HasEndedById(static_cast<pid_t>(server.id));
    pollfd p{static_cast<int>(server.handle), POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

void WaitForServerProcessEnd(const ServerProcess &server)
{
    if (server.handle < 0) {
        // Old kernels only: nothing to wait on, so look every 10 ms.
        while (!HasServerProcessEnded(server))
            usleep(10000);
        return;
    }
    pollfd p{static_cast<int>(server.handle), POLLIN, 0};
    for (;;) {
        const int ready = poll(&p, 1, -1);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return;
    }
}

void CloseServerProcess(ServerProcess &server)
{
    if (server.id != 0 && server.handle >= 0)
        close(static_cast<int>(server.handle));
    server = ServerProcess{};
}

} // namespace tarvolt
