// Relay process control on POSIX: the module path through dladdr, posix_spawn with the standard
// streams on /dev/null and no other descriptor inherited, SIGKILL and a reap to end it. Its end is
// watched through a process descriptor (pidfd), woken through an eventfd.
#include "RelayProcess.h"

#include "DriverLog.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

extern char **environ;

namespace tarvolt {

RelayProcessInformation relayProcessInfo{};
const char *const kRelayProgramName = "vistrel";
const char *const kServerProgramName = "vrserver";

namespace {

// Whether relayProcessInfo names a child that has not been reaped yet: once it has, the process
// id may belong to another process and must not be signalled again. Read by the host's thread
// while the watching thread may change it.
std::atomic<bool> relayChildUnreaped{false};
// The child's process descriptor, -1 without one (kernels before 5.3 have none: the watch then
// looks every kNoPidfdPollMs).
int relayPidfd = -1;
// The watch's wake, -1 while no watch is open.
std::atomic<int> wakeFd{-1};
constexpr int kNoPidfdPollMs = 100;

void ClosePidfd()
{
    if (relayPidfd >= 0)
        close(relayPidfd);
    relayPidfd = -1;
}

// Whether the unreaped child has ended, without reaping it.
bool ChildEnded(pid_t pid)
{
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;  // reaped behind our back (SIGCHLD ignored): gone all the same
    return info.si_pid == pid;
}

// The child's start-up: standard streams on /dev/null, every other descriptor closed, default
// signal dispositions and an empty signal mask whatever the calling thread had.
bool SpawnDetached(const std::string &path, const char *exeName, pid_t &pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    bool ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                 posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
                 posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
                 posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0 &&
                 posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
                 posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
                 posix_spawnattr_setsigdefault(&attributes, &all) == 0;
    char *const argv[] = {const_cast<char *>(exeName), nullptr};
    const bool started = ready && posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ) == 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

} // namespace

ModulePath GetDriverDirectory()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&GetDriverDirectory), &info) == 0 || info.dli_fname == nullptr ||
        info.dli_fname[0] == '\0') {
        Log("Failed to get DLL path.");
        return {};
    }
    return DirectoryOfModulePath(info.dli_fname);
}

ModulePath RelayProgramPath(const ModulePath &directory, const char *exeName)
{
    return directory + "/" + exeName;
}

bool LaunchRelayProcess(const char *exeName)
{
    const ModulePath directory = GetDriverDirectory();
    relayProcessInfo = RelayProcessInformation{};
    relayChildUnreaped = false;
    ClosePidfd();
    // Without the library's directory the path would be "/vistrel": not ours to start.
    pid_t pid = 0;
    if (directory.empty() || !SpawnDetached(RelayProgramPath(directory, exeName), exeName, pid))
        return false;
    relayProcessInfo.processId = pid;
    relayChildUnreaped = true;
    // Not reaped yet, so the id is still the child's.
    relayPidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return true;
}

void StartRelayProcess(const char *exeName)
{
    Log(LaunchRelayProcess(exeName) ? "Vistrel process started." : "CreateProcess failed.");
}

void StopRelayProcess()
{
    bool terminated = false;
    if (relayChildUnreaped) {
        const pid_t pid = relayProcessInfo.processId;
        int status = 0;
        // A child that already ended is reaped here and, as on Windows, counts as not terminated.
        if (waitpid(pid, &status, WNOHANG) == 0) {
            terminated = kill(pid, SIGKILL) == 0;
            while (terminated && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        relayChildUnreaped = false;
    }
    ClosePidfd();
    if (terminated)
        Log("Vistrel process terminated.");
    else
        Log("Failed to terminate Vistrel process, the process may not exist.");
}

bool RelayProcessStarted() { return relayChildUnreaped; }

bool OpenRelayWatch()
{
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return wakeFd >= 0;
}

void CloseRelayWatch()
{
    const int fd = wakeFd.exchange(-1);
    if (fd >= 0)
        close(fd);
}

void WakeRelayWatch()
{
    const int fd = wakeFd.load();
    const uint64_t one = 1;
    if (fd >= 0 && write(fd, &one, sizeof one) < 0) {
        // Full (never, at 2^64 - 2) or closed: a wait that is due ends anyway.
    }
}

bool WaitForRelayEnd(std::chrono::nanoseconds limit)
{
    const bool child = relayChildUnreaped;
    const pid_t pid = relayProcessInfo.processId;
    if (child && ChildEnded(pid))
        return true;
    pollfd fds[2] = {{wakeFd.load(), POLLIN, 0}, {relayPidfd, POLLIN, 0}};
    const nfds_t count = child && relayPidfd >= 0 ? 2 : 1;
    // Whole milliseconds, rounded up so that a short pause does not turn into a busy loop.
    int timeout = -1;
    if (limit != std::chrono::nanoseconds::max())
        timeout = static_cast<int>(std::min<int64_t>((limit.count() + 999999) / 1000000, 1 << 30));
    if (child && relayPidfd < 0 && (timeout < 0 || timeout > kNoPidfdPollMs))
        timeout = kNoPidfdPollMs;
    if (poll(fds, count, timeout) > 0 && (fds[0].revents & POLLIN) != 0) {
        uint64_t raised = 0;
        if (read(fds[0].fd, &raised, sizeof raised) < 0) {
            // Taken by nobody else: the wake is only ever read here.
        }
    }
    return child && ChildEnded(pid);
}

RelayEnd CollectRelayEnd()
{
    RelayEnd end;
    if (!relayChildUnreaped)
        return end;
    siginfo_t info{};
    int result = 0;
    while ((result = waitid(P_PID, static_cast<id_t>(relayProcessInfo.processId), &info, WEXITED)) != 0 &&
           errno == EINTR) {
    }
    if (result == 0) {
        end.known = true;
        end.signalled = info.si_code != CLD_EXITED;
        end.code = static_cast<uint32_t>(info.si_status);
    }
    relayChildUnreaped = false;
    ClosePidfd();
    return end;
}

std::string RelayExitCodeText(uint32_t code) { return std::to_string(code); }

} // namespace tarvolt
