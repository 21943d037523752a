#include "Clock.h"

namespace tarvolt {

namespace {

class Steady final : public Clock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    Duration RealPause(Duration pause) override { return pause; }
};

} // namespace

Clock &SteadyClock()
{
    static Steady clock;
    return clock;
}

} // namespace tarvolt
