// The pass timer on POSIX systems: the monotonic clock, and clock_nanosleep to an absolute time on
// it, so that an interrupted or late wake never shifts the next deadline. While a server is
// watched through its process descriptor, ppoll waits on the descriptor until the deadline.
// Linux lets a thread's timed waits end up to its timer slack late (50 us by default, so that
// wakes can be merged); the relay wakes once per frame and wants that wake on time, so the timer
// takes the slack down to a microsecond (prctl PR_SET_TIMERSLACK).
#include "PassPacer.h"

#include <poll.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace tarvolt {

namespace {

class PosixPassTimer final : public PassTimer {
public:
    PosixPassTimer()
    {
#if defined(PR_SET_TIMERSLACK)
        prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
    }

    PassClockTime Now() override
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<PassClockTime>(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

    void WaitUntil(PassClockTime deadline) override
    {
        for (PassClockTime remaining; (remaining = deadline - Now()) > 0; ++wakeUps_) {
            if (serverDescriptor_ < 0) {
                // A signal's handler ends the sleep early; the deadline stays where it was.
                const timespec at{static_cast<time_t>(deadline / 1000000000), static_cast<long>(deadline % 1000000000)};
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
                continue;
            }
            const timespec wait{static_cast<time_t>(remaining / 1000000000), static_cast<long>(remaining % 1000000000)};
            pollfd server{serverDescriptor_, POLLIN, 0};
            if (ppoll(&server, 1, &wait, nullptr) > 0) {
                ++wakeUps_;
                return;  // the server has ended
            }
        }
    }

    // Without a process descriptor (kernels before 5.3) the server's end is looked for between
    // passes only.
    void EndWaitsOn(const ServerProcess &server) override
    {
        serverDescriptor_ = server.id != 0 && server.handle >= 0 ? static_cast<int>(server.handle) : -1;
    }

private:
    int serverDescriptor_ = -1;
};

} // namespace

std::unique_ptr<PassTimer> OpenPassTimer(PassTimerKind) { return std::make_unique<PosixPassTimer>(); }

} // namespace tarvolt
