// The relay's passes against the driver's frames on one simulated clock: frames stamp the frame
// clock as the frame update does and take whatever record the last pass wrote; the relay's waits
// end late by a wake latency of the test's. No real sleep: every time is the simulation's.
#include "PassPacer.h"
#include "Relay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using tarvolt::PassClockTime;
using tarvolt::PassEnd;

namespace {

constexpr PassClockTime kMs = 1000000;
constexpr PassClockTime kSeconds = 1000 * kMs;

struct Case {
    const char *name;
    double hz;
    PassClockTime pauseAt = 0, pauseFor = 0;  // frames stop for a while
    PassClockTime jumpAt = 0, jumpBy = 0;     // from then on the frames' grid is moved on by jumpBy...
    int badStamps = 0;                        // ...or that many stamps are 10 s in the future
    bool stamps = true;                       // false: a driver that never stamps the clock
    bool irregular = false;                   // frames a quarter to twice a period apart
};

std::string Name(const ::testing::TestParamInfo<Case> &info) { return info.param.name; }
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// The frames and the relay on one clock. Frames run on a grid at the case's rate, each late by a
// few tens of microseconds (a frame thread's wake); the relay's wakes are 40 to 120 us late (450 to
// 530 us from the third second to the sixth: a busy machine), one in 4,000 by 1.5 ms (preempted).
class Simulation final : public tarvolt::PassTimer {
public:
    explicit Simulation(const Case &c) : c_(c), period_(static_cast<PassClockTime>(1e9 / c.hz)) {}

    PassClockTime Now() override { return now_; }
    void WaitUntil(PassClockTime deadline) override
    {
        const bool busy = now_ > start_ + 3 * kSeconds && now_ < start_ + 6 * kSeconds;
        const PassClockTime late = random_() % 4000 == 0 ? 1500000 : (busy ? 450000 : 40000) + random_() % 80000;
        deadlines.push_back(deadline);
        RunUntil(std::max(deadline, now_) + late);
    }
    void EndWaitsOn(const tarvolt::ServerProcess &) override {}

    // One pass: the pose query takes 10 us, then the record is written.
    PassEnd Pass()
    {
        RunUntil(now_ + 10000);
        passes.push_back(now_);
        return PassEnd::Written;
    }

    // Frames that ran up to `until`, each with the age of the record it took (-1: none yet) and
    // whether it took the same record as the frame before it.
    void RunUntil(PassClockTime until)
    {
        for (;; next_ = 0) {
            if (next_ == 0)
                next_ = NextFrame();
            const PassClockTime at = next_;
            if (at > until)
                break;
            now_ = at;
            const bool reused = !passes.empty() && !frames.empty() && frames.back().record == passes.size();
            frames.push_back({at, passes.empty() ? -1 : at - passes.back(), passes.size(), reused});
            const bool bad = c_.jumpAt != 0 && at >= c_.jumpAt && badLeft_ > 0 && badLeft_--;
            if (c_.stamps)
                writer_.Stamp(clock, bad ? at + 10 * kSeconds : at);
        }
        now_ = until;
    }

    // The next frame's time: on the grid, or, for irregular frames, a quarter to twice a period after
    // the one before; none while paused.
    PassClockTime NextFrame()
    {
        for (;;) {
            const PassClockTime grid = start_ + frame_++ * period_;
            PassClockTime at = grid + static_cast<PassClockTime>(random_() % 50000);
            if (c_.irregular)
                at = irregular_ += period_ / 4 + period_ * static_cast<PassClockTime>(random_() % 1750) / 1000;
            if (c_.jumpAt != 0 && at >= c_.jumpAt)
                at += c_.jumpBy;
            if (c_.pauseFor == 0 || at < c_.pauseAt || at >= c_.pauseAt + c_.pauseFor)
                return at;
        }
    }

    struct Frame {
        PassClockTime at, age;
        size_t record;
        bool reused;
    };
    tarvolt::FrameClock clock{};
    std::vector<PassClockTime> passes, deadlines;
    std::vector<Frame> frames;

private:
    const Case c_;
    const PassClockTime period_;
    const PassClockTime start_ = 1000 * kSeconds;
    PassClockTime now_ = start_ - 3 * kMs;
    int64_t frame_ = 0;
    PassClockTime next_ = 0, irregular_ = start_;
    int badLeft_ = c_.badStamps;
    std::mt19937 random_{7};
    tarvolt::FrameClockWriter writer_{1000000000};
};

class FramePacing : public ::testing::TestWithParam<Case> {};

PassClockTime Quantile(std::vector<PassClockTime> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
}

// Catches: passes that do not follow the frames (many per frame, or fewer than one, so that frames
// publish an old pose), a margin that does not cover the wakes' lateness (records taken twice) or
// grows without bound (old poses), a pass that waits longer than a frame (a quit request seen
// late), a relay that follows a clock that stopped, jumped or never ran instead of passing at 250
// Hz, and one that does not follow the frames again once they are steady.
TEST_P(FramePacing, OnePassPerFrameJustBeforeItAndTheFixedPaceWithoutSteadyFrames)
{
    const Case c = GetParam();
    Simulation sim(c);
    const PassClockTime end = 1000 * kSeconds + 20 * kSeconds;
    tarvolt::PassPacer pacer(sim, sim.clock, 1000000000);
    tarvolt::RunPoseLoop(pacer, [&] { return sim.Now() >= end; }, [&] { return sim.Pass(); });

    const PassClockTime period = static_cast<PassClockTime>(1e9 / c.hz);
    const PassClockTime anomaly = c.pauseFor != 0 ? c.pauseAt : c.jumpAt;
    const auto settled = [&](PassClockTime t) {
        // Two seconds to settle at the start and after a pause or a jump.
        return t > 1002 * kSeconds && (anomaly == 0 || t < anomaly || t > anomaly + c.pauseFor + 2 * kSeconds);
    };
    for (size_t i = 1; i < sim.passes.size(); ++i)
        ASSERT_LE(sim.passes[i] - sim.passes[i - 1], std::max(period * 3 / 2, 4 * kMs) + 1600000) << "pass " << i;

    if (c.irregular) {
        const double perSecond = static_cast<double>(sim.passes.size()) / 20.0;
        EXPECT_NEAR(perSecond, 250.0, 10.0) << "passes per second";
        return;
    }
    if (!c.stamps) {
        for (size_t i = 1; i < sim.deadlines.size(); ++i)
            ASSERT_EQ(sim.deadlines[i] - sim.deadlines[i - 1], 4 * kMs) << "pass " << i << ": not on the 4 ms grid";
        return;
    }
    std::vector<PassClockTime> ages;
    size_t reused = 0, passes = 0;
    for (const auto &f : sim.frames)
        if (settled(f.at)) {
            ages.push_back(f.age);
            reused += f.reused;
        }
    for (PassClockTime p : sim.passes)
        passes += settled(p);
    ASSERT_GT(ages.size(), 1000u);
    const double perFrame = static_cast<double>(passes) / static_cast<double>(ages.size());
    EXPECT_GT(perFrame, 0.99);
    EXPECT_LT(perFrame, 1.02) << "passes per frame";
    EXPECT_LE(reused * 1000, 2 * ages.size()) << reused << " of " << ages.size() << " frames took a record twice";
    EXPECT_LE(Quantile(ages, 0.5), kMs / 2) << "median age";
    EXPECT_LE(Quantile(ages, 0.99), kMs) << "p99 age";
    EXPECT_GE(pacer.Pacing().Margin(), tarvolt::kMinMarginNs);
    EXPECT_LE(pacer.Pacing().Margin(), tarvolt::kMaxMarginNs);
    if (c.pauseFor != 0) {
        const auto paused = std::count_if(sim.passes.begin(), sim.passes.end(), [&](PassClockTime p) {
            return p > c.pauseAt + 3 * period && p < c.pauseAt + c.pauseFor;
        });
        const auto expected = (c.pauseFor - 3 * period) / (4 * kMs);
        EXPECT_NEAR(static_cast<double>(paused), static_cast<double>(expected), 3.0) << "passes at 250 Hz while paused";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FramePacing,
    ::testing::Values(Case{"At90Hz", 90.0}, Case{"At120Hz", 120.0}, Case{"At144Hz", 144.0},
                      Case{"PausedForTwoSeconds", 90.0, 1008 * kSeconds, 2 * kSeconds},
                      Case{"GridJumpsByHalfAFrame", 90.0, 0, 0, 1008 * kSeconds, 5555555},
                      Case{"StampsJumpTenSecondsAhead", 144.0, 0, 0, 1008 * kSeconds, 0, 5},
                      Case{"NoClockStamped", 90.0, 0, 0, 0, 0, 0, false},
                      Case{"IrregularFrames", 90.0, 0, 0, 0, 0, 0, true, true}),
    Name);

} // namespace
