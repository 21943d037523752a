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
    if (!continued) {
        onBeat_ = 0;
    } else if (frames == 0) {
        // The frame due between the last pass and this one did not come: late by most of a period.
        if (followed && frameDue_)
            onBeat_ = 0;
    } else {
        const PassClockTime error = clock.lastFrameNs - seenLast_ - static_cast<PassClockTime>(frames) * period;
        const PassClockTime tolerance = std::min(period / 8, kMaxBeatErrorNs);
        if (error > tolerance || error < -tolerance)
            onBeat_ = 0;
        else if (onBeat_ < kSteadyFrames)
            ++onBeat_;
        if (followed)
            AdaptMargin(now - deadline_, frames);
    }

    // The beat: where the next frame is due at the earliest. A frame that came earlier than
    // predicted moves it there at once; later ones pull it only a sixteenth of the way, because a
    // frame's lateness (its thread woke late) says nothing about the next one.
    if (onBeat_ == 0) {
        beat_ = clock.lastFrameNs;
    } else if (frames != 0) {
        const PassClockTime predicted = beat_ + static_cast<PassClockTime>(frames) * period;
        beat_ = clock.lastFrameNs < predicted ? clock.lastFrameNs : predicted + (clock.lastFrameNs - predicted) / 16;
    }
    seenFrames_ = clock.frames;
    seenLast_ = clock.lastFrameNs;
}

void FramePacing::AdaptMargin(PassClockTime late, uint64_t frames)
{
    // Each frame after the first since the last pass took the record that the one before had.
    reused_ += frames - 1;
    // The pass wrote `late` after its deadline, the predicted frame time less the margin: at or
    // beyond the margin, a frame that came on time would have found the previous record. A wake
    // later than any margin allowed (the relay was not scheduled) says nothing about the margin.
    const bool wouldHaveMissed = late >= margin_ || frames >= 2;
    if (wouldHaveMissed && late < kMaxMarginNs)
        margin_ = std::min(std::max(margin_, late) + kMarginGrowthNs, kMaxMarginNs);
    else if (!wouldHaveMissed)
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

PassPacer::PassPacer(PassTimer &timer, const FrameClock &clock)
    : timer_(timer), clock_(&clock), pacing_(timer.Now(), kFallbackPeriodNs), deadline_(timer.Now())
{
}

PassPacer::PassPacer(PassTimer &timer, PassClockTime period)
    : timer_(timer), clock_(nullptr), pacing_(timer.Now(), period), deadline_(timer.Now())
{
}

void PassPacer::WaitForNextPass()
{
    const PassClockTime now = timer_.Now();
    FrameClockReading reading;
    if (clock_ != nullptr)
        ReadFrameClock(*clock_, reading);
    const PassClockTime next = pacing_.Next(now, reading);
    if (next <= now) {
        deadline_ = now;
        return;
    }
    timer_.WaitUntil(next);
    deadline_ = next;
}

} // namespace tarvolt
