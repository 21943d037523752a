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
