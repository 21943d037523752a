#include "SimClock.h"

namespace sim {

SimClock::TimePoint SimClock::Now()
{
    const TimePoint real = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    return base_ + (real - realBase_) * factor_;
}

SimClock::Duration SimClock::RealPause(Duration pause)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pause / factor_;
}

void SimClock::Compress(uint32_t factor)
{
    const TimePoint real = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    base_ += (real - realBase_) * factor_;
    realBase_ = real;
    factor_ = factor == 0 ? 1 : factor;
}

SimClock &SimClockInstance()
{
    static SimClock clock;
    return clock;
}

} // namespace sim
