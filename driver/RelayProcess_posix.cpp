// Relay process control on POSIX: the module path through dladdr, posix_spawn with the standard
// streams on /dev/null and no other descriptor inherited, SIGKILL and a reap to end it.
#include "RelayProcess.h"

#include "DriverLog.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char **environ;

namespace tarvolt {

RelayProcessInformation relayProcessInfo{};
const char *const kRelayProgramName = "vistrel";

namespace {

// Whether relayProcessInfo names a child that has not been reaped yet: once it has, the process
// id may belong to another process and must not be signalled again.
bool relayChildUnreaped = false;

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

void StartRelayProcess(const char *exeName)
{
    const ModulePath directory = GetDriverDirectory();
    relayProcessInfo = RelayProcessInformation{};
    relayChildUnreaped = false;
    // Without the library's directory the path would be "/vistrel": not ours to start.
    if (directory.empty()) {
        Log("CreateProcess failed.");
        return;
    }
    pid_t pid = 0;
    if (SpawnDetached(RelayProgramPath(directory, exeName), exeName, pid)) {
        relayProcessInfo.processId = pid;
        relayChildUnreaped = true;
        Log("Vistrel process started.");
    } else {
        Log("CreateProcess failed.");
    }
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
    if (terminated)
        Log("Vistrel process terminated.");
    else
        Log("Failed to terminate Vistrel process, the process may not exist.");
}

bool RelayProcessStarted() { return relayChildUnreaped; }

} // namespace tarvolt
