#include "FrameClock.h"

#include "PoseLock.h"

namespace tarvolt {

namespace {

// A writer stamps in well under a microsecond; a reader that finds it in the middle that many
// times over has met a writer that will never finish.
constexpr int kReadTries = 1000;

// Ticks to nanoseconds, whole seconds and the rest apart so that the product never overflows: the
// same arithmetic as the relay's own clock on Windows, so that both give the same nanoseconds.
int64_t ToNanoseconds(int64_t ticks, int64_t ticksPerSecond)
{
    if (ticksPerSecond == 1000000000)
        return ticks;
    return ticks / ticksPerSecond * 1000000000 + ticks % ticksPerSecond * 1000000000 / ticksPerSecond;
}

} // namespace

FrameClock &FrameClockOf(SharedPose &block)
{
    return *reinterpret_cast<FrameClock *>(reinterpret_cast<unsigned char *>(&block) + kFrameClockOffset);
}

void FrameClockWriter::Stamp(FrameClock &clock, int64_t now)
{
    const int64_t interval = now - last_;
    last_ = now;
    if (period_ == 0) {
        // The first interval seeds the period; a clock that went backwards seeds nothing.
        if (frames_ != 0 && interval > 0)
            period_ = interval;
    } else {
        int64_t error = interval - period_;
        const int64_t bound = period_ / 4;
        error = error > bound ? bound : error < -bound ? -bound : error;
        period_ += error / 16;
    }
    ++frames_;

    // The writer owns the counter; an odd value left by a writer that died mid-stamp is evened.
    const uint32_t sequence = clock.sequence.load(std::memory_order_relaxed) & ~1u;
    clock.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    clock.lastFrame.store(now, std::memory_order_relaxed);
    clock.period.store(period_, std::memory_order_relaxed);
    clock.ticksPerSecond.store(ticksPerSecond_, std::memory_order_relaxed);
    clock.frames.store(frames_, std::memory_order_relaxed);
    clock.sequence.store(sequence + 2, std::memory_order_release);
}

bool ReadFrameClock(const FrameClock &clock, FrameClockReading &reading)
{
    reading = FrameClockReading{};
    for (int tries = 0; tries < kReadTries; ++tries) {
        const uint32_t before = clock.sequence.load(std::memory_order_acquire);
        if ((before & 1u) != 0) {
            CpuPauseHint();
            continue;
        }
        const int64_t last = clock.lastFrame.load(std::memory_order_relaxed);
        const int64_t period = clock.period.load(std::memory_order_relaxed);
        const int64_t rate = clock.ticksPerSecond.load(std::memory_order_relaxed);
        const uint64_t frames = clock.frames.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (clock.sequence.load(std::memory_order_relaxed) != before)
            continue;
        if (frames == 0)
            return true;  // a driver that has stamped no frame (yet)
        if (rate <= 0 || period < 0)
            return false;
        reading.frames = frames;
        reading.lastFrameNs = ToNanoseconds(last, rate);
        reading.periodNs = ToNanoseconds(period, rate);
        return true;
    }
    return false;
}

} // namespace tarvolt
