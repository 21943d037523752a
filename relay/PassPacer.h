#pragma once
// The pace of the relay's passes. The pose it copies changes at the tracking rate, so passes run
// at a steady rate on a grid of absolute deadlines, waited for with the platform's fine timer,
// instead of as fast as the runtime calls allow (which kept a whole core busy for as long as
// SteamVR ran). After a missed deadline (a stalled pass, a process that was not scheduled) one
// pass runs at once and the grid starts again from it: the pose is read afresh each pass, so a
// burst of passes to catch up would only burn time.
//
// A task that runs about once a second fits into the passes: compare the time of the pass
// (PassTime) with a deadline of the task's own, and move that deadline on by a second.
#include <cstdint>
#include <memory>

namespace tarvolt {

// Nanoseconds on the platform's monotonic clock.
using PassClockTime = int64_t;

inline constexpr int64_t kPassesPerSecond = 1000;
inline constexpr PassClockTime kPassPeriodNs = 1000000000 / kPassesPerSecond;

// The platform's fine timer. Windows: QueryPerformanceCounter, and a high-resolution waitable
// timer (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 and later), or, where the system
// refuses that, an ordinary one with the system's timer period raised to 1 ms while the timer
// lives. POSIX: CLOCK_MONOTONIC and clock_nanosleep with TIMER_ABSTIME.
class PassTimer {
public:
    virtual ~PassTimer() = default;
    virtual PassClockTime Now() = 0;
    // Returns once the clock has reached the deadline (at once for one that has passed).
    virtual void WaitUntil(PassClockTime deadline) = 0;

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
    // The first pass is due at once; later ones every period after it.
    PassPacer(PassTimer &timer, PassClockTime period);

    // Waits for the next pass's deadline, one period after the current pass's; returns at once
    // when that has passed already, and the grid then continues from now.
    void WaitForNextPass();

    // The deadline of the current pass (its start, when it was late).
    PassClockTime PassTime() const { return deadline_; }

private:
    PassTimer &timer_;
    PassClockTime period_;
    PassClockTime deadline_;
};

} // namespace tarvolt
