#pragma once
// Judges a soak run's counts: the first tenth of the loads against the last tenth. Counts that
// are exact (descriptors or handles, threads, processes, shared memory, views, the library) may
// not be higher at the end at all, and those that must come back to nothing (relays, children,
// the block, the library) must do so after every load; memory may grow only within a tolerance
// per 100 activation cycles.
#include "SoakRun.h"

#include <string>
#include <vector>

namespace soak {

// Heap in use may grow this much per 100 activation cycles, plus kHeapSlackBytes, between the
// first and the last tenth of a run; resident memory likewise with its own figures.
inline constexpr int64_t kHeapBytesPer100Cycles = 2 * 1024;
inline constexpr int64_t kHeapSlackBytes = 1024;
inline constexpr int64_t kResidentKbPer100Cycles = 512;
inline constexpr int64_t kResidentSlackKb = 1024;

// The Windows build links its threading library (winpthreads) into the driver library, and each
// copy keeps a little for the process's life that unloading the library does not give back: a
// thread made leaves two handles and about 1.2 kB of heap, a condition waited on two handles and
// about 0.8 kB, once per load of the library, however many threads and waits that load has.
// Under Wine about one load in three leaves one handle more, with relays killed or not and with
// no step of the plan in common; it is allowed for too. The runtime loads the driver once per
// server process; a leak of the driver's own (one handle or one block per activation cycle or
// per relay, three or more per load) still shows above this.
#if defined(_WIN32)
inline constexpr int64_t kThreadLibraryHandlesPerLoad = 5;
inline constexpr int64_t kThreadLibraryHeapPerLoad = 2048;
#else
inline constexpr int64_t kThreadLibraryHandlesPerLoad = 0;
inline constexpr int64_t kThreadLibraryHeapPerLoad = 0;
#endif

struct Finding {
    std::string count;
    int64_t before = 0;  // before the first load
    int64_t first = 0;   // first tenth of the loads (median for memory, highest otherwise)
    int64_t last = 0;    // last tenth of the loads (likewise)
    std::string rule;    // what the count is held to
    bool held = true;
};

std::vector<Finding> Judge(const SoakRun &run);

// The run's plan, what it did, and the findings as a Markdown table.
std::string Describe(const SoakRun &run, const std::vector<Finding> &findings);

// Every load's counts, one line each, for a closer look at a trend.
std::string DescribeSamples(const SoakRun &run);

} // namespace soak
