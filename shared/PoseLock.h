#pragma once
// The pose lock and the named section that holds the shared pose block, for both deliverables.
#include <atomic>
#include <cstdint>

namespace tarvolt {

// Size of the named section; only its first 84 bytes are used.
inline constexpr uint32_t kSharedPoseBlockSize = 1024;
// Pause of a waiter that sleeps (the relay, once its brief wait is over).
inline constexpr uint32_t kLockRetryMs = 10;
// Name of the section: an ANSI name without a namespace prefix on Windows; the POSIX build uses
// the same name after a slash.
inline constexpr const char *kSharedPoseBlockName = "Vistrel_SharedMemory_RQ508";

// The lock byte's protocol, the same on both sides: exchange it with 1 (a full barrier) until the
// old value was 0; release it with a release store of 0. A holder keeps it for one 80-byte copy.

// The monotonic clock in nanoseconds, the CPU's pause hint for a spinning thread, and a yield of
// the processor to another thread that is ready to run (a platform operation: SwitchToThread on
// Windows, sched_yield on POSIX).
int64_t MonotonicNanoseconds();
void CpuPauseHint();
void YieldThread();

// How a waiter tries for the lock without sleeping: spinTries tries, each after a CPU pause hint
// (the holder is most likely in the middle of its copy on another core), then tries each after a
// yield (the holder may have been preempted and need a processor), until boundNs have passed
// since the first failed try. The clock, the pause and the yield are the platform's; tests give
// their own.
struct PoseLockWait {
    uint32_t spinTries;
    int64_t boundNs;
    int64_t (*now)() = MonotonicNanoseconds;
    void (*pause)() = CpuPauseHint;
    void (*yield)() = YieldThread;
};

// The brief wait of both sides: 256 tries of spinning (microseconds, many times the length of a
// holder's copy), then yields, 1 ms in all. A lock still held after that belongs to a holder that
// is not running, or that died holding it.
inline constexpr PoseLockWait kPoseLockBriefWait{256, 1000000};

// Tries for the lock as the wait says; never sleeps, allocates nothing and reads the clock only
// once the first try has failed. Returns whether the lock is now held.
bool AcquirePoseLockBriefly(std::atomic<uint8_t> &lock, const PoseLockWait &wait = kPoseLockBriefWait);

// The brief wait, then a sleep of kLockRetryMs before each further try, without a time limit.
void AcquirePoseLock(std::atomic<uint8_t> &lock);

// The same, but gives up after maxSleeps sleeps: the lock has no owner, so a process that died
// holding it would otherwise stall the other side for ever. Returns whether the lock is now held.
bool AcquirePoseLockWithin(std::atomic<uint8_t> &lock, uint32_t maxSleeps);

// Frees the lock with a release store of 0.
void ReleasePoseLock(std::atomic<uint8_t> &lock);

// Platform operations on the named section. A handle of null means failure.
using PoseBlockHandle = void *;

// Creates the section backed by the paging file (shared memory), or opens the one of that name
// that already exists, read-write, kSharedPoseBlockSize bytes.
PoseBlockHandle CreatePoseBlockMapping();
// Opens an existing section for all access; null when there is none.
PoseBlockHandle OpenPoseBlockMapping();
// Maps the whole block read-write; null on failure.
void *MapPoseBlock(PoseBlockHandle mapping);
void UnmapPoseBlock(void *view);
void ClosePoseBlockMapping(PoseBlockHandle mapping);
// Removes the section's name once its creator lets go of it: views and handles still open (a
// relay that has not ended yet) keep working, the memory goes with the last of them, and the next
// creation makes a fresh section. POSIX only: a Windows section goes with its last handle.
void RemovePoseBlockName();

// Sleeps the calling thread (Win32 Sleep on Windows).
void SleepMilliseconds(uint32_t milliseconds);

} // namespace tarvolt
