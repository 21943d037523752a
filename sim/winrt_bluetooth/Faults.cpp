// What a test scripts through the control beyond the simulated radio's own behaviour: the
// Windows version, watcher faults, GATT answers before the link is up, and a stale cache.
#include "Component.h"

#include <cstring>
#include <map>
#include <mutex>
#include <set>

namespace winrt_bluetooth {

namespace {

std::mutex faultsMutex;
WindowsVersion windows = WindowsVersion::Windows11;
WatcherFault watcherFault = WatcherFault::None;
int faultyWatchers = 0;
std::map<sim::Step, int> unreachable;
GUID lacking{};                 // all zeros: the cache lacks nothing
std::set<UINT64> freshDevices;  // devices an uncached services query has refreshed

} // namespace

void SetWindows(WindowsVersion version)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    windows = version;
}

void SetWatcherFault(WatcherFault fault, int watchers)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    watcherFault = fault;
    faultyWatchers = watchers;
}

void AnswerUnreachable(sim::Step step, int count)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    unreachable[step] = count;
}

void SetCacheLacks(const sim::Guid &service)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    lacking = GUID{service.data1, service.data2, service.data3, {}};
    std::memcpy(lacking.Data4, service.data4, sizeof lacking.Data4);
    freshDevices.clear();
}

bool Windows11()
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    return windows == WindowsVersion::Windows11;
}

WatcherFault TakeWatcherFault()
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    if (faultyWatchers <= 0)
        return WatcherFault::None;
    --faultyWatchers;
    return watcherFault;
}

bool TakeUnreachable(sim::Step step)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    int &left = unreachable[step];
    if (left <= 0)
        return false;
    --left;
    return true;
}

bool CacheLacks(UINT64 address, const GUID &service, bool uncached)
{
    std::lock_guard<std::mutex> lock(faultsMutex);
    if (uncached)
        freshDevices.insert(address);
    return lacking != GUID{} && service == lacking && !freshDevices.count(address);
}

} // namespace winrt_bluetooth
