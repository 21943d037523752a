#include "FrameClock.h"

#include "PoseLock.h"

#include <algorithm>

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

void FrameClockWriter::Stamp(FrameClock &clock, int64_t now)
{
    // Shifts rather than divisions, no branch, and the writer's own values in locals, so that the
    // stores into the block do not make the compiler read them again.
    const int64_t period = period_;
    const uint32_t sequence = sequence_;
    const int64_t bound = period >> 2;
    const int64_t smoothed = period + (std::max(-bound, std::min(now - last_ - period, bound)) >> 4);
    period_ = smoothed;
    last_ = now;
    sequence_ = sequence + 2;

    clock.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    clock.lastFrame.store(now, std::memory_order_relaxed);
    clock.period.store(smoothed, std::memory_order_relaxed);
    clock.sequence.store(sequence + 2, std::memory_order_release);
}

bool ReadFrameClock(const FrameClock &clock, FrameClockReading &reading, int64_t ticksPerSecond)
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
        std::atomic_thread_fence(std::memory_order_acquire);
        if (clock.sequence.load(std::memory_order_relaxed) != before)
            continue;
        const uint64_t frames = before / 2;
        if (frames == 0)
            return true;  // a driver that has stamped no frame (yet)
        if (ticksPerSecond <= 0 || period < 0)
            return false;
        reading.frames = frames;
        reading.lastFrameNs = ToNanoseconds(last, ticksPerSecond);
        reading.periodNs = ToNanoseconds(period, ticksPerSecond);
        return true;
    }
    return false;
}

} // namespace tarvolt
