#pragma once
// The time the driver's pauses and timers run on. The shipped library runs on the platform's
// monotonic clock. The build with the simulated radio links the simulation's clock instead, which
// plays a long run's hours in minutes: every pause shorter and every timer faster by one factor.
// Which clock a build has is decided when it is linked (PlatformClock is defined beside the radio
// backend, as PlatformRadio is), so that the shipped binaries carry nothing that changes it.
#include <chrono>

namespace tarvolt {

class Clock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    // Now on this clock; never goes back.
    virtual TimePoint Now() = 0;
    // How long a pause of `pause` on this clock lasts in real time.
    virtual Duration RealPause(Duration pause) = 0;
};

// The platform's monotonic clock, in real time.
Clock &SteadyClock();

// The clock of this build; defined by the radio backend linked into it.
Clock &PlatformClock();

} // namespace tarvolt
