#pragma once
// Judges a soak run's counts: the first tenth of the loads against the last tenth. Counts that
// are exact (descriptors or handles, threads, shared memory, views, the library) may not be
// higher at the end at all (less what the toolchain's runtime keeps at every load, below), and
// those that must come back to nothing (relays, children, the block, the library) must do so
// after every load; memory may grow only within a tolerance per 100 activation cycles.
#include "SoakRun.h"

#include <string>
#include <vector>

namespace soak {

// Heap in use may grow this much per 100 activation cycles, plus kHeapSlackBytes, between the
// first and the last tenth of a run; resident memory likewise with its own figures. The heap
// figure is exact (glibc's per-thread cache off, the sanitizer's own count, the C runtime's heap
// walk) and comes back to the same byte after every load once the first loads' one-time
// allocations are made, whatever the machine's load: nothing of it depends on timing but the
// order of a few allocations, which the slack covers. 2 kB per 100 cycles still fails a leak of
// about 60 bytes per activation cycle (8 per link drop) in make test's short run and of 20 bytes
// per cycle in the long one. Resident memory moves in pages and with the allocator's arenas, so it
// gets more room; a leak of a relay's worth of memory per cycle still shows.
inline constexpr int64_t kHeapBytesPer100Cycles = 2 * 1024;
inline constexpr int64_t kHeapSlackBytes = 1024;
inline constexpr int64_t kResidentKbPer100Cycles = 512;
inline constexpr int64_t kResidentSlackKb = 1024;

// The Windows build links its threading library (winpthreads) into the driver library, and each
// copy keeps a little for the process's life that unloading the library does not give back: a
// thread made leaves two handles and about 1.2 kB of heap, a condition waited on two handles and
// about 0.8 kB, once per load of the library, however many threads and waits that load has; a
// second thread alive at the same time (the relay's supervision beside the Bluetooth worker)
// about 0.5 kB more, kept for reuse.
// Under Wine one load in three to one in two leaves one handle more, with relays killed or not
// and with no step of the plan in common; it is allowed for too. The runtime loads the driver
// once per server process; a leak of the driver's own (one handle or one block per activation
// cycle or per relay, two or more per load) still shows above this.
//
// AddressSanitizer's stand-in for __cxa_atexit registers a handler of its own with the process
// (not with the library) for every static destructor a library registers, and each takes 32
// bytes of glibc's exit list that no unload gives back: blocks of 1,040 bytes, one every five
// loads or so for the driver's few static destructors. Allowed for as ten such entries a load.
#if defined(_WIN32)
inline constexpr int64_t kHandlesPerLoad = 5;
inline constexpr int64_t kHeapPerLoad = 2560;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int64_t kHandlesPerLoad = 0;
inline constexpr int64_t kHeapPerLoad = 10 * 32;
#else
inline constexpr int64_t kHandlesPerLoad = 0;
inline constexpr int64_t kHeapPerLoad = 0;
#endif

struct Finding {
    std::string count;
    int64_t before = 0;  // before the first load
    int64_t first = 0;   // first tenth of the loads (median for memory, highest otherwise)
    int64_t last = 0;    // last tenth of the loads (likewise)
    std::string rule;    // what the count is held to
    bool held = true;
};

// Fewer loads than this have no first and last tenth to compare: only what must hold after every
// load and at the end is judged.
inline constexpr size_t kLoadsForATrend = 4;

std::vector<Finding> Judge(const SoakRun &run);

// The run's plan, what it did, and the findings as a Markdown table.
std::string Describe(const SoakRun &run, const std::vector<Finding> &findings);

// Every load's counts, one line each, for a closer look at a trend.
std::string DescribeSamples(const SoakRun &run);

} // namespace soak
