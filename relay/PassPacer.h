#pragma once
// The pace of the relay's passes. The driver reads the pose once per frame, so the relay makes
// one pass per frame, a margin before the frame that will take its record, timed by the frame
// clock that the driver's frame update stamps into the block (FrameClock.h). Where there is no
// steady clock to follow (no frame yet, frames stopped, frames irregular, a driver that stamps
// none) it makes passes on a grid of absolute deadlines at a fixed rate until the clock is steady
// again. After a missed deadline one pass runs at once and the grid starts again from it: the pose
// is read afresh each pass, so a burst of passes to catch up would only burn time.
//
// The margin covers how late the relay's wakes come (the timer, the scheduler, the pass itself):
// it grows by a step when a frame found the record of the pass before and one step more would have
// covered it, or when passes keep coming past the frame's predicted time (a frame on time would
// have found the previous record); while passes come in time it shrinks very slowly, so that it
// settles just above the wakes' usual lateness and a late wake stays rare. A single wake far past
// the margin is a relay the scheduler did not run, which no margin covers.
//
// A task that runs about once a second fits into the passes: compare the time of the pass
// (PassTime) with a deadline of the task's own, and move that deadline on by a second.
#include "FrameClock.h"
#include "ServerProcess.h"

#include <cstdint>
#include <memory>

namespace tarvolt {

// Nanoseconds on the platform's monotonic clock (the frame clock's, in the same unit).
using PassClockTime = int64_t;

// The pace without a steady frame clock: 250 passes a second.
inline constexpr PassClockTime kFallbackPeriodNs = 4000000;
// The earlier fixed pace of 1,000 passes a second, whatever the frames did; make bench still
// measures it beside the frame pace.
inline constexpr int64_t kPassesPerSecond = 1000;
inline constexpr PassClockTime kPassPeriodNs = 1000000000 / kPassesPerSecond;

// The margin: where it starts, its bounds, what it grows by after a late pass, and what each pass
// in time takes off (a growth is undone over about 2,000 frames, so that it settles
// where about one pass in 2,000 comes just too late). Below the floor a wake is late at nearly
// every frame. The ceiling is above the lateness of the coarsest timers the relay meets (a timer
// period of 1 ms: Windows without high-resolution timers, and Wine, whose waits end up to a little
// over a millisecond late).
inline constexpr PassClockTime kStartMarginNs = 400000;
inline constexpr PassClockTime kMinMarginNs = 100000;
inline constexpr PassClockTime kMaxMarginNs = 2000000;
inline constexpr PassClockTime kMarginGrowthNs = 100000;
inline constexpr PassClockTime kMarginShrinkNs = 50;
// Passes in a row past the margin that grow it although no frame took a record twice: more than
// a burst of load makes (a frame or two), fewer than a tenth of a second's frames.
inline constexpr int kLateInARow = 8;
// The frames followed: between 20 and 500 a second. A frame on the beat comes no earlier than half
// the margin before where the beat predicts it, and no later than an eighth of the period (at
// most 1 ms) after it. Frames on the beat in a row before the
// relay follows them; a clock whose last frame lies further in the past than this many periods
// has stopped.
inline constexpr PassClockTime kMinFramePeriodNs = 2000000;
inline constexpr PassClockTime kMaxFramePeriodNs = 50000000;
inline constexpr PassClockTime kMaxBeatErrorNs = 1000000;
inline constexpr int kSteadyFrames = 4;
inline constexpr int64_t kStoppedPeriods = 2;

// The pacing decisions, without a clock or a timer of their own: after each pass, given the time
// and the frame clock as read then, the deadline of the next pass.
class FramePacing {
public:
    // The grid's first deadline is `start`; `fallbackPeriod` is its period.
    FramePacing(PassClockTime start, PassClockTime fallbackPeriod);

    // Called after each pass, with its end (`now`) and the frame clock read then (frames 0 when
    // there is none). Returns the next pass's deadline; at or before now, the pass is due at once.
    PassClockTime Next(PassClockTime now, const FrameClockReading &clock);

    bool FollowsFrames() const { return onBeat_ >= kSteadyFrames; }
    PassClockTime Margin() const { return margin_; }
    // Frames that found the record of the pass before, counted while following the frames.
    uint64_t ReusedRecords() const { return reused_; }
    // Passes decided while following the frames, and on the grid.
    uint64_t FramePasses() const { return framePasses_; }
    uint64_t GridPasses() const { return gridPasses_; }

private:
    // Follows the beat of the frames and adapts the margin from what the frames did since the
    // last pass.
    void Observe(PassClockTime now, const FrameClockReading &clock);
    // From how late the pass wrote after its deadline, and the frames since the last pass.
    void AdaptMargin(PassClockTime late, uint64_t frames);

    PassClockTime fallbackPeriod_;
    PassClockTime deadline_;
    PassClockTime margin_ = kStartMarginNs;
    int onBeat_ = 0;
    int lateFrames_ = 0;  // late frames in a row
    uint64_t seenFrames_ = 0;
    // The frames' grid as predicted: its earliest edge, where a frame that comes in time comes.
    PassClockTime beat_ = 0;
    // Whether a frame is due before the next pass (the one before the frame that pass is for).
    bool frameDue_ = false;
    // Passes following the frames that came past their margin, in a row.
    int lateInARow_ = 0;
    uint64_t reused_ = 0;
    uint64_t framePasses_ = 0;
    uint64_t gridPasses_ = 0;
};

// The platform's fine timer. Windows: QueryPerformanceCounter, and a high-resolution waitable
// timer (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 and later), or, where the system
// refuses that, an ordinary one with the system's timer period raised to 1 ms while the timer
// lives. POSIX: CLOCK_MONOTONIC and clock_nanosleep with TIMER_ABSTIME, or, while a server is
// watched, ppoll on its process descriptor.
class PassTimer {
public:
    virtual ~PassTimer() = default;
    virtual PassClockTime Now() = 0;
    // Returns once the clock has reached the deadline (at once for one that has passed), or once
    // the watched server has ended.
    virtual void WaitUntil(PassClockTime deadline) = 0;
    // Ends waits also when this server ends, so that its end is seen at once and not only after a
    // frame's wait. The server must stay open while the timer waits.
    virtual void EndWaitsOn(const ServerProcess &server) = 0;

    // How often the thread has come back from the system's wait: about once per WaitUntil when
    // the timer works; many times over if the wait returned early and the clock was watched.
    uint64_t WakeUps() const { return wakeUps_; }

protected:
    uint64_t wakeUps_ = 0;
};

// Which of the platform's timers to open: its finest, or the one it falls back to where the
// finest is refused (Windows before 1803; tests open it on purpose). POSIX has only one.
enum class PassTimerKind { Finest, Fallback };

// Never null: a platform without any timer object left waits in the thread's own sleep.
std::unique_ptr<PassTimer> OpenPassTimer(PassTimerKind kind = PassTimerKind::Finest);

class PassPacer {
public:
    // Passes in step with the frame clock (its ticks at the given rate, the platform's by
    // default), on the 250-a-second grid while it is not steady. The first pass is due at once.
    PassPacer(PassTimer &timer, const FrameClock &clock, int64_t ticksPerSecond = MonotonicTicksPerSecond());
    // Passes on a fixed grid, whatever the frames do (the earlier pace, for make bench).
    PassPacer(PassTimer &timer, PassClockTime period);

    // Reads the frame clock, decides the next pass's deadline and waits for it; returns at once
    // when that has passed already.
    void WaitForNextPass();

    // The deadline of the current pass (its start, when it was late).
    PassClockTime PassTime() const { return deadline_; }
    const FramePacing &Pacing() const { return pacing_; }

private:
    PassTimer &timer_;
    const FrameClock *clock_;
    int64_t ticksPerSecond_;
    FramePacing pacing_;
    PassClockTime deadline_;
};

} // namespace tarvolt
