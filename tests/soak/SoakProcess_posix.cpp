// The soak's platform part on Linux: counts from /proc and the allocator, signals to end relays.
#include "SoakProcess.h"

#include <dirent.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers replace the allocator and keep their own statistics (sanitizer/allocator_interface.h,
// which not every compiler installs).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define SOAK_SANITIZER_HEAP 1
#endif

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace soak {

namespace {

constexpr const char *kRelayName = "vistrel";
constexpr const char *kBlockPath = "/dev/shm/Vistrel_SharedMemory_RQ508";
constexpr const char *kDriverFile = "driver_tarvolt_rq508";
constexpr const char *kSharedMemoryPrefixes[] = {"Vistrel_", "TarvoltSim_"};

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Calls visit(name) for every entry of a folder but "." and "..".
template <class Visit>
void ForEachEntry(const char *folder, Visit visit)
{
    DIR *dir = opendir(folder);
    if (dir == nullptr)
        return;
    while (const dirent *entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            visit(entry->d_name);
    closedir(dir);
}

struct ProcessEntry {
    long pid;
    long parent;
    std::string name;
};

std::vector<ProcessEntry> Processes()
{
    std::vector<ProcessEntry> out;
    ForEachEntry("/proc", [&](const char *name) {
        char *end = nullptr;
        const long pid = std::strtol(name, &end, 10);
        if (pid <= 0 || *end != '\0')
            return;
        // "<pid> (<name>) <state> <parent> ...": the name may hold spaces and parentheses.
        const std::string stat = ReadFile("/proc/" + std::string(name) + "/stat");
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 > stat.size())
            return;
        out.push_back({pid, std::strtol(stat.c_str() + close + 4, nullptr, 10), stat.substr(open + 1, close - open - 1)});
    });
    return out;
}

int64_t CountMapsLinesWith(const std::string &maps, const char *text)
{
    int64_t count = 0;
    std::istringstream lines(maps);
    std::string line;
    while (std::getline(lines, line))
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

// Waits until the process has ended, without collecting it (that is its parent's business).
bool WaitUntilEnded(int pidfd)
{
    pollfd p{pidfd, POLLIN, 0};
    while (poll(&p, 1, 10000) < 0) {
    }
    return (p.revents & POLLIN) != 0;
}

} // namespace

Counts TakeCounts()
{
    Counts c;
    const long page = sysconf(_SC_PAGESIZE);
    long size = 0, resident = 0;
    if (std::sscanf(ReadFile("/proc/self/statm").c_str(), "%ld %ld", &size, &resident) == 2)
        c.residentKb = resident * page / 1024;
#if defined(SOAK_SANITIZER_HEAP)
    c.heapBytes = static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    c.heapBytes = static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
    ForEachEntry("/proc/self/fd", [&](const char *) { ++c.descriptors; });
    --c.descriptors;  // the folder's own, open while it is read
    ForEachEntry("/proc/self/task", [&](const char *) { ++c.threads; });
    const long self = getpid();
    for (const ProcessEntry &p : Processes()) {
        ++c.processes;
        c.children += p.parent == self ? 1 : 0;
        c.relays += p.parent == self && p.name == kRelayName ? 1 : 0;
    }
    // The block's and the simulated server's own: other programs on the machine make and remove
    // entries of their own at any time.
    ForEachEntry("/dev/shm", [&](const char *name) {
        for (const char *prefix : kSharedMemoryPrefixes)
            if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) {
                ++c.sharedMemory;
                break;
            }
    });
    const std::string maps = ReadFile("/proc/self/maps");
    c.blockViews = CountMapsLinesWith(maps, kBlockPath);
    c.driverLoaded = CountMapsLinesWith(maps, kDriverFile) > 0 ? 1 : 0;
    return c;
}

const char *HeapSource()
{
#if defined(SOAK_SANITIZER_HEAP)
    return "the sanitizer's allocator statistics";
#else
    return "mallinfo2, glibc's per-thread cache off";
#endif
}

bool ResidentMemoryJudged()
{
#if defined(SOAK_SANITIZER_HEAP)
    return false;
#else
    return true;
#endif
}

void MakeHeapFigureExact(char **argv)
{
#if !defined(SOAK_SANITIZER_HEAP)
    // glibc's per-thread cache keeps up to seven freed blocks of each size for every thread, and
    // mallinfo2 counts them as in use: heap in use would creep up while the cache fills. The run
    // starts itself once more with the cache off, which makes the figure exact.
    constexpr const char *kMarker = "TARVOLT_SOAK_HEAP_EXACT";
    if (std::getenv(kMarker) != nullptr)
        return;
    std::string tunables = "glibc.malloc.tcache_count=0";
    if (const char *given = std::getenv("GLIBC_TUNABLES"))
        tunables = std::string(given) + ":" + tunables;
    setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
    setenv(kMarker, "1", 1);
    // By its own path, not /proc/self/exe: the process takes its name from the path, and vistrel
    // follows it by that name.
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return;
    path[n] = '\0';
    execv(path, argv);
    // Without the restart the figure still counts, only less exactly.
#else
    (void)argv;
#endif
}

std::vector<int64_t> ChildRelays()
{
    std::vector<int64_t> out;
    const long self = getpid();
    for (const ProcessEntry &p : Processes())
        if (p.parent == self && p.name == kRelayName)
            out.push_back(p.pid);
    return out;
}

bool KillProcess(int64_t pid)
{
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (pidfd < 0)
        return false;
    const bool killed = kill(static_cast<pid_t>(pid), SIGKILL) == 0 && WaitUntilEnded(pidfd);
    close(pidfd);
    return killed;
}

bool KillWhileHoldingLock(int64_t pid, const std::atomic<uint8_t> &lock, int tries, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> runFor(0, 200);  // microseconds between two stops
    const pid_t id = static_cast<pid_t>(pid);
    for (int i = 0; i < tries; ++i) {
        if (kill(id, SIGSTOP) != 0)
            return false;
        // The relay is this process's child: the wait reports the stop once it is complete. An end
        // is reported too, but left for the driver to collect.
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(id), &info, WSTOPPED | WEXITED | WNOWAIT) != 0 ||
            info.si_code != CLD_STOPPED)
            return false;
        if (lock.load() != 0)
            return KillProcess(pid);
        kill(id, SIGCONT);
        // Let it run for a moment of random length, so that the next stop lands elsewhere.
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(runFor(random));
        while (std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }
    return false;
}

std::string DescribeMachine()
{
    std::string model = "unknown processor";
    std::istringstream cpu(ReadFile("/proc/cpuinfo"));
    std::string line;
    while (std::getline(cpu, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    std::string load = ReadFile("/proc/loadavg");
    load = load.substr(0, load.find(' ', load.find(' ', load.find(' ') + 1) + 1));
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores usable, load average " + load;
}

} // namespace soak
