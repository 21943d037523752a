#pragma once
// The frame clock: when the driver's frame update last read the pose, and the smoothed period of
// its frames, kept in the shared pose block behind the pose record. The relay reads it to make
// one pass per frame, a little before the frame that takes its record, instead of passes on a
// fixed grid that the frames mostly throw away.
//
// The frame update writes it without the pose lock and without waiting: a sequence counter that
// is odd while the fields change tells a reader that its copy may be torn, and the reader copies
// again. The two sides are different processes, so the time is the platform's system-wide
// monotonic clock in its own ticks (CLOCK_MONOTONIC in nanoseconds; QueryPerformanceCounter's
// counts, whose rate is the same for every process of the system, so the reader converts them
// with its own QueryPerformanceFrequency).
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarvolt {

struct SharedPose;

// Placed at byte 88 of the block, the first 8-byte boundary after the 84-byte record (bytes 84 to
// 87 stay unused), so that every 64-bit field is naturally aligned and read in one access.
struct FrameClock {
    // Odd while the frame update writes the fields below; each stamp adds 2, so that half of it
    // counts the frames stamped (0: none yet).
    std::atomic<uint32_t> sequence;
    uint32_t unused;
    std::atomic<int64_t> lastFrame;       // ticks at which the last frame update read the pose
    std::atomic<int64_t> period;          // smoothed period of the frame updates in ticks
};

inline constexpr size_t kFrameClockOffset = 88;

static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free,
              "the clock's fields are shared between processes: no lock may hide inside them");
static_assert(offsetof(FrameClock, lastFrame) == 8 && sizeof(FrameClock) == 24, "the clock's layout");
static_assert(kFrameClockOffset >= 84 && kFrameClockOffset % 8 == 0, "after the record, 8-byte aligned");
static_assert(kFrameClockOffset + sizeof(FrameClock) <= 1024, "inside the block");

// The clock of a mapped block (a whole 1024-byte view).
inline FrameClock &FrameClockOf(SharedPose &block)
{
    return *reinterpret_cast<FrameClock *>(reinterpret_cast<unsigned char *>(&block) + kFrameClockOffset);
}

// The platform's system-wide monotonic clock, the same in every process: CLOCK_MONOTONIC in
// nanoseconds (POSIX), QueryPerformanceCounter (Windows); and its ticks per second.
int64_t MonotonicTicks();
int64_t MonotonicTicksPerSecond();

// The frame update's side. Each Stamp takes the time just after the frame copied the pose. The
// period starts at 1/90 s, the common headset's, and follows the time between stamps, smoothed
// over about 16 frames; a single interval moves it by at most 1/64 of itself, so that a stall, a
// pause or a frame that came early does not throw it off, while another frame rate is followed
// within a second. No lock, no wait, no allocation, and few instructions: it runs in every frame.
// The writer owns the sequence counter; whatever a writer before it left there (even one that
// died in the middle of a stamp) does not matter.
class FrameClockWriter {
public:
    explicit FrameClockWriter(int64_t ticksPerSecond = MonotonicTicksPerSecond()) : period_(ticksPerSecond / 90) {}
    void Stamp(FrameClock &clock, int64_t now);

private:
    int64_t period_;
    int64_t last_ = 0;
    uint32_t sequence_ = 0;
};

// The clock as the relay uses it, in nanoseconds of the same monotonic clock.
struct FrameClockReading {
    uint64_t frames = 0;  // frames stamped, counted from any point; 0: none (or no whole copy)
    int64_t lastFrameNs = 0;
    int64_t periodNs = 0;
};

// Copies the clock without tearing: copies again while the frame update is writing it, a bounded
// number of times, and converts its ticks. False, with an empty reading, when no whole copy was
// had (a writer that died in the middle of a stamp).
bool ReadFrameClock(const FrameClock &clock, FrameClockReading &reading,
                    int64_t ticksPerSecond = MonotonicTicksPerSecond());

} // namespace tarvolt
