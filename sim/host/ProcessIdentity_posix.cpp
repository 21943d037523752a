#include "ProcessIdentity.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

// The 22nd field of /proc/<id>/stat, the start time in clock ticks since boot. The fields after
// the name are read from its closing parenthesis on, since a name may hold spaces.
uint64_t ProcessStartTime(uint32_t processId)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", processId);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char stat[1024];
    const ssize_t n = read(fd, stat, sizeof stat - 1);
    close(fd);
    if (n <= 0)
        return 0;
    stat[n] = '\0';
    const char *p = std::strrchr(stat, ')');
    if (p == nullptr || p[1] != ' ' || p[2] == 'Z' || p[2] == 'X')
        return 0;
    p += 2;  // the state, field 3
    for (int field = 3; field < 22; ++field) {
        p = std::strchr(p, ' ');
        if (p == nullptr)
            return 0;
        ++p;
    }
    return std::strtoull(p, nullptr, 10);
}

bool KillProcess(uint32_t processId, uint64_t startTime)
{
    if (processId == 0 || processId == CurrentProcessId() || startTime == 0 ||
        ProcessStartTime(processId) != startTime)
        return false;
    return kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

void CrashThisProcess()
{
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
    std::abort();
}

} // namespace sim
