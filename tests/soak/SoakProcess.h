#pragma once
// What the soak run needs of the platform: a reading of what this process holds (the driver and
// the relays it starts live in it), the relays it can see, and the ways a relay ends without
// warning: killed at once, or killed while it holds the pose lock.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// One reading. Every figure but the two memory ones is exact and must come back to the same
// value after each load of the driver; the memory figures are compared with a tolerance.
struct Counts {
    int64_t residentKb = 0;    // resident memory (Windows: the working set)
    int64_t heapBytes = 0;     // heap in use, from the allocator's own statistics
    int64_t descriptors = 0;   // open file descriptors (Windows: handles)
    int64_t threads = 0;
    int64_t children = 0;      // child processes (POSIX: ended ones not yet collected included)
    int64_t relays = 0;        // vistrel processes among the children (a relay lives on as one until collected)
    int64_t sharedMemory = 0;  // POSIX: the block's and the simulated server's entries in /dev/shm;
                               // Windows: the pose block's section (0 or 1)
    int64_t blockViews = 0;    // views of the pose block mapped in this process
    int64_t driverLoaded = 0;  // the driver library still mapped in this process (0 or 1)
    int64_t processes = 0;     // every process in sight (Wine's helpers among them): shown only, as
                               // other programs come and go
};

Counts TakeCounts();

// Where heapBytes comes from on this build.
const char *HeapSource();
// Whether resident memory is judged: under a sanitizer its quarantine keeps freed memory resident
// on purpose, and the figure is only shown.
bool ResidentMemoryJudged();

// Called first thing in main: makes heapBytes exact where the allocator needs to be told so. May
// start the program afresh (with the same arguments) and not return.
void MakeHeapFigureExact(char **argv);

// The relays this process started through the driver it hosts, by process id.
std::vector<int64_t> ChildRelays();

// Ends a process at once, as a crash or a user's task manager does; when this returns, nothing of
// it runs any more. It is left to its parent (the driver) to collect.
bool KillProcess(int64_t pid);

// Stops the relay again and again, each time at another moment, until it is stopped while it holds
// the pose lock, and kills it there: the lock byte then stays 1 for good. Gives up after `tries`
// stops and lets the relay run on (false).
bool KillWhileHoldingLock(int64_t pid, const std::atomic<uint8_t> &lock, int tries, uint32_t seed);

// The processor, the number of cores and the load average (or what the platform tells of them).
std::string DescribeMachine();

} // namespace soak
