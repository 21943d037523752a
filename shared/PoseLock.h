#pragma once
// The pose lock and the named section that holds the shared pose block, for both deliverables.
#include <atomic>
#include <cstdint>

namespace tarvolt {

// Size of the named section; only its first 84 bytes are used.
inline constexpr uint32_t kSharedPoseBlockSize = 1024;
// Pause after each failed attempt to take the pose lock.
inline constexpr uint32_t kLockRetryMs = 10;
// Name of the section: an ANSI name without a namespace prefix on Windows; the POSIX build uses
// the same name after a slash.
inline constexpr const char *kSharedPoseBlockName = "Vistrel_SharedMemory_RQ508";

// Exchanges the lock byte with 1 (a full barrier) until the old value was 0, sleeping
// kLockRetryMs after every failed exchange. No spin phase, no time limit.
void AcquirePoseLock(std::atomic<uint8_t> &lock);

// The same protocol, but gives up after maxSleeps failed attempts' sleeps: the lock has no owner,
// so a process that died holding it would otherwise stall the other side for ever. Returns
// whether the lock is now held.
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
