#include "PassPacer.h"

#include <algorithm>

namespace tarvolt {

FramePacing::FramePacing(PassClockTime start, PassClockTime fallbackPeriod)
    : fallbackPeriod_(fallbackPeriod), deadline_(start)
{
}

void FramePacing::Observe(PassClockTime now, const FrameClockReading &clock)
{
    const bool followed = FollowsFrames();
    const PassClockTime period = clock.periodNs;
    // A clock to follow: frames at a rate that can be followed, the last one not in the future
    // (the relay's clock and the driver's are one clock; a stamp ahead of it is a jump) and not
    // further back than a missed frame or two (otherwise the frames have stopped).
    const bool running = clock.frames != 0 && period >= kMinFramePeriodNs && period <= kMaxFramePeriodNs &&
                         clock.lastFrameNs <= now + kMaxBeatErrorNs &&
                         now - clock.lastFrameNs <= kStoppedPeriods * period;
    // Frames counted since the last pass; a count that went back is another writer's (a driver
    // activated again), whose first frames tell nothing yet.
    const bool continued = running && seenFrames_ != 0 && clock.frames >= seenFrames_;
    const uint64_t frames = continued ? clock.frames - seenFrames_ : 0;
    seenFrames_ = clock.frames;
    const PassClockTime tolerance = std::min(period / 8, kMaxBeatErrorNs);
    const PassClockTime predicted = beat_ + static_cast<PassClockTime>(frames) * period;
    const PassClockTime error = clock.lastFrameNs - predicted;
    // Off the beat: a frame earlier than the beat by half the margin (a pass timed by this beat
    // would come late for the next one), or frames late by more than the tolerance twice in a row
    // (the beat has moved, or the frames are irregular). A single late frame is a frame thread
    // that woke late; the beat goes on. So does one that did not come between two passes when one
    // was due.
    bool offBeat = !continued;
    if (continued && (frames != 0 ? error > tolerance : followed && frameDue_))
        offBeat = ++lateFrames_ >= 2;
    else if (continued && frames != 0)
        lateFrames_ = 0;
    if (continued && frames != 0 && error < -std::min(tolerance, margin_ / 2))
        offBeat = true;
    if (offBeat) {
        onBeat_ = 0;
        lateFrames_ = 0;
        beat_ = clock.lastFrameNs;
        return;
    }
    if (frames == 0)
        return;
    if (followed)
        AdaptMargin(now - deadline_, frames);
    if (onBeat_ < kSteadyFrames)
        ++onBeat_;
    // The beat: where the next frame is due at the earliest. A frame that came earlier than
    // predicted moves it there at once; a later one pulls it a sixteenth of the way (of at most the
    // tolerance), because a frame's lateness (its thread woke late) says little about the next one.
    beat_ = error < 0 ? clock.lastFrameNs : predicted + std::min(error, tolerance) / 16;
}

void FramePacing::AdaptMargin(PassClockTime late, uint64_t frames)
{
    // The pass came `late` after its deadline, the predicted frame time less the margin: at or past
    // the margin, a frame that came on time would have found the previous record.
    const bool pastMargin = late >= margin_;
    lateInARow_ = pastMargin ? lateInARow_ + 1 : 0;
    bool grow = false;
    if (frames >= 2) {
        // Each frame after the first since the last pass took the record that the one before had.
        // When one step more of margin would have covered that (the wake was just past the margin,
        // or the frame came early), the margin grows by the step. A wake far past it is the
        // scheduler's: the relay was not run for a while, which happens now and then on a busy
        // machine and which no margin covers; growing for it would make every pose older for
        // minutes.
        reused_ += frames - 1;
        grow = late < margin_ + kMarginGrowthNs;
    }
    // Passes that keep writing just after their frame leave every frame a record one frame old
    // without any frame taking one twice: lateness that has come to stay grows the margin too.
    if (lateInARow_ >= kLateInARow) {
        grow = true;
        lateInARow_ = 0;
    }
    if (grow)
        margin_ = std::min(margin_ + kMarginGrowthNs, kMaxMarginNs);
    else if (!pastMargin)
        margin_ = std::max(margin_ - kMarginShrinkNs, kMinMarginNs);
}

PassClockTime FramePacing::Next(PassClockTime now, const FrameClockReading &clock)
{
    Observe(now, clock);
    if (FollowsFrames()) {
        ++framePasses_;
        // The record just written serves a frame due within half a period; the next pass is for
        // the frame after it.
        const PassClockTime period = clock.periodNs;
        const PassClockTime horizon = now + period / 2;
        PassClockTime frame = beat_ + period;
        if (frame <= horizon)
            frame += ((horizon - frame) / period + 1) * period;
        deadline_ = frame - margin_;
        frameDue_ = frame - period > now;
        return deadline_;
    }
    ++gridPasses_;
    frameDue_ = false;
    const PassClockTime next = deadline_ + fallbackPeriod_;
    deadline_ = next > now ? next : now;
    return deadline_;
}

PassPacer::PassPacer(PassTimer &timer, const FrameClock &clock, int64_t ticksPerSecond)
    : timer_(timer), clock_(&clock), ticksPerSecond_(ticksPerSecond), pacing_(timer.Now(), kFallbackPeriodNs),
      deadline_(timer.Now())
{
}

PassPacer::PassPacer(PassTimer &timer, PassClockTime period)
    : timer_(timer), clock_(nullptr), ticksPerSecond_(0), pacing_(timer.Now(), period), deadline_(timer.Now())
{
}

void PassPacer::WaitForNextPass()
{
    const PassClockTime now = timer_.Now();
    FrameClockReading reading;
    if (clock_ != nullptr)
        ReadFrameClock(*clock_, reading, ticksPerSecond_);
    const PassClockTime next = pacing_.Next(now, reading);
    if (next <= now) {
        deadline_ = now;
        return;
    }
    timer_.WaitUntil(next);
    deadline_ = next;
}

} // namespace tarvolt
