#pragma once
// The simulation's clock: real time, or real time sped up by a factor that a long run sets, so
// that hours of play take minutes. A driver or test built with a simulated counterpart (the
// simulated radio, the fake bluetoothd) has it as its PlatformClock: then every pause of the
// driver is `factor` times shorter and every timer `factor` times faster.
#include "Clock.h"

#include <cstdint>
#include <mutex>

namespace sim {

class SimClock final : public tarvolt::Clock {
public:
    TimePoint Now() override;
    Duration RealPause(Duration pause) override;
    // From now on this clock runs `factor` times as fast as real time (0 and 1: real time). It
    // stays monotonic across a change.
    void Compress(uint32_t factor);

private:
    std::mutex mutex_;
    uint32_t factor_ = 1;
    TimePoint realBase_ = std::chrono::steady_clock::now();  // real time at the last change
    TimePoint base_ = realBase_;                             // this clock's time then
};

SimClock &SimClockInstance();

} // namespace sim
