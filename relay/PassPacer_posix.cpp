// The pass timer on POSIX systems: the monotonic clock, and clock_nanosleep to an absolute time on
// it, so that an interrupted or late wake never shifts the next deadline.
#include "PassPacer.h"

#include <time.h>

#include <cerrno>

namespace tarvolt {

namespace {

class PosixPassTimer final : public PassTimer {
public:
    PassClockTime Now() override
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<PassClockTime>(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

    void WaitUntil(PassClockTime deadline) override
    {
        if (deadline <= Now())
            return;
        const timespec at{static_cast<time_t>(deadline / 1000000000), static_cast<long>(deadline % 1000000000)};
        // A signal's handler ends the sleep early; the deadline stays where it was.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR)
            ++wakeUps_;
        ++wakeUps_;
    }
};

} // namespace

std::unique_ptr<PassTimer> OpenPassTimer(PassTimerKind) { return std::make_unique<PosixPassTimer>(); }

} // namespace tarvolt
