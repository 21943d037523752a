// The relay's pose loop and its pace: with a clock of the test's own, the times at which passes
// begin are known exactly; with the platform's timer, only that a wait never ends early, and that
// the server's end ends it.
#include "DriverLibrary.h"
#include "PassPacer.h"
#include "ProgramRun.h"
#include "Relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using tarvolt::PassClockTime;
using tarvolt::PassEnd;
using tarvolt::kPassPeriodNs;

namespace {

// A clock that moves only when the loop waits (to the deadline, plus a wake-up latency) or a pass
// takes time.
class TestTimer final : public tarvolt::PassTimer {
public:
    PassClockTime Now() override { return now; }
    void WaitUntil(PassClockTime deadline) override
    {
        ++waits;
        if (deadline > now)
            now = deadline + wakeLatency;
    }
    void EndWaitsOn(const tarvolt::ServerProcess &) override {}

    PassClockTime now = 3000000000;
    PassClockTime wakeLatency = 0;
    int waits = 0;
};

class PoseLoop : public ::testing::Test {
protected:
    // Runs the loop until `passes` passes have run (then the server has ended), each pass taking
    // passCost, and the one with index stallAt taking stall instead; returns the loop's result.
    bool Run(size_t passes, PassClockTime passCost, size_t stallAt = SIZE_MAX, PassClockTime stall = 0)
    {
        tarvolt::PassPacer pacer(timer, kPassPeriodNs);
        return tarvolt::RunPoseLoop(
            pacer, [&] { return starts.size() >= passes; },
            [&] {
                starts.push_back(timer.now);
                timer.now += starts.size() - 1 == stallAt ? stall : passCost;
                return PassEnd::Written;
            });
    }

    TestTimer timer;
    std::vector<PassClockTime> starts;
};

// Catches: a loop that runs flat out (a core kept busy for as long as SteamVR runs), one that waits
// a period after each pass (its rate drifts by the pass's cost and each late wake-up), and a rate
// other than 1,000 passes a second.
TEST_F(PoseLoop, PassesBeginOnAGridOfAbsoluteDeadlines)
{
    timer.wakeLatency = 60000;
    const PassClockTime first = timer.now;
    EXPECT_FALSE(Run(1000, 300000));
    ASSERT_EQ(starts.size(), 1000u);
    for (size_t i = 1; i < starts.size(); ++i)
        ASSERT_EQ(starts[i], first + static_cast<PassClockTime>(i) * kPassPeriodNs + timer.wakeLatency) << "pass " << i;
    EXPECT_EQ(kPassPeriodNs, 1000000);
}

// Catches: a loop that makes up for missed deadlines with a burst of passes back to back after a
// stall, and one that waits a whole further period before the first pass after it.
TEST_F(PoseLoop, AStallIsFollowedByOnePassAtOnceAndThenTheSteadyRate)
{
    EXPECT_FALSE(Run(40, 200000, 10, 5500000));
    ASSERT_EQ(starts.size(), 40u);
    const PassClockTime stallEnd = starts[10] + 5500000;
    EXPECT_EQ(starts[11], stallEnd) << "the pass after the stall runs at once";
    for (size_t i = 12; i < starts.size(); ++i)
        EXPECT_EQ(starts[i], stallEnd + static_cast<PassClockTime>(i - 11) * kPassPeriodNs) << "pass " << i;
    for (size_t i = 1; i < starts.size(); ++i)
        EXPECT_GE(starts[i] - starts[i - 1], kPassPeriodNs) << "passes " << i - 1 << " and " << i;
}

// Catches: a server's end that goes unnoticed for more than the wait before the next pass (the
// relay would write on after SteamVR has gone), a pass that ends the loop without being heeded,
// and a quit request answered only after another wait.
TEST_F(PoseLoop, TheServersEndAndTheQuitRequestEndTheLoopAtOnce)
{
    const PassClockTime end = timer.now + 5 * kPassPeriodNs + kPassPeriodNs / 2;
    {
        tarvolt::PassPacer pacer(timer, kPassPeriodNs);
        EXPECT_FALSE(tarvolt::RunPoseLoop(pacer, [&] { return timer.now >= end; }, [&] {
            starts.push_back(timer.now);
            return PassEnd::Written;
        }));
    }
    ASSERT_EQ(starts.size(), 6u);
    EXPECT_LT(starts.back(), end);
    EXPECT_LE(timer.now, end + kPassPeriodNs) << "the end is seen before the next pass";

    for (const PassEnd last : {PassEnd::ServerEnded, PassEnd::QuitRequested}) {
        timer.waits = 0;
        int passes = 0;
        tarvolt::PassPacer pacer(timer, kPassPeriodNs);
        const bool quit = tarvolt::RunPoseLoop(pacer, [] { return false; },
                                               [&] { return ++passes == 3 ? last : PassEnd::Written; });
        EXPECT_EQ(quit, last == PassEnd::QuitRequested);
        EXPECT_EQ(passes, 3);
        EXPECT_EQ(timer.waits, 2) << "no wait after the pass that ended the loop";
    }
}

class PlatformPassTimer : public ::testing::TestWithParam<tarvolt::PassTimerKind> {};

// Catches, on Windows (under Wine too), a due time given with the wrong sign or unit (a positive
// one is a date in 1601 and ends each wait at once, so that the relay would watch the clock flat
// out), a timer that wakes early again and again, and a fallback timer that does not work;
// everywhere, a wait that ends before its deadline or never returns for one already passed.
TEST_P(PlatformPassTimer, SleepsUntilTheDeadlineAndNotBefore)
{
    const std::unique_ptr<tarvolt::PassTimer> timer = tarvolt::OpenPassTimer(GetParam());
    ASSERT_NE(timer, nullptr);
    timer->WaitUntil(timer->Now() - 1000000000);
    EXPECT_EQ(timer->WakeUps(), 0u) << "a deadline that has passed needs no wait";
    constexpr int kWaits = 20;
    PassClockTime deadline = timer->Now();
    for (int i = 0; i < kWaits; ++i) {
        deadline += i % 2 ? kPassPeriodNs : kPassPeriodNs / 4;
        timer->WaitUntil(deadline);
        const PassClockTime woke = timer->Now();
        ASSERT_GE(woke, deadline) << "wait " << i;
        deadline = woke;
    }
    // A wait that works comes back once, now and then twice; one that does not comes back
    // thousands of times.
    EXPECT_LE(timer->WakeUps(), 3u * kWaits);
}

// Catches: a wait for the next pass that the server's end does not cut short (the relay would see
// SteamVR gone only after a frame's wait), and a frame clock stamped on another clock than the
// one the relay's passes keep (its passes would aim at frames that are not there).
TEST_P(PlatformPassTimer, EndsItsWaitWithTheServerAndKeepsTheFrameClocksTime)
{
    using namespace std::chrono_literals;
    const std::unique_ptr<tarvolt::PassTimer> timer = tarvolt::OpenPassTimer(GetParam());
    tarvolt::FrameClock clock{};
    tarvolt::FrameClockWriter().Stamp(clock, tarvolt::MonotonicTicks());
    tarvolt::FrameClockReading reading;
    ASSERT_TRUE(tarvolt::ReadFrameClock(clock, reading));
    const PassClockTime now = timer->Now();
    EXPECT_GE(now, reading.lastFrameNs);
    EXPECT_LT(now - reading.lastFrameNs, 1000000000);

    testing_support::ProgramRun server;
    ASSERT_TRUE(server.Start(testing_support::ProgramIn(sim::ExecutableDirectory(), "vrserver"),
                             {"--no-driver", "--no-devices", "--until-eof"}));
    ASSERT_TRUE(server.WaitForLine("vrserver running without a driver", 30s));
    tarvolt::ServerProcess process;
    ASSERT_TRUE(tarvolt::FindVrServerProcess(process));
    timer->EndWaitsOn(process);
    server.CloseStdin();
    ASSERT_TRUE(server.WaitForExit(30s).has_value());
    const PassClockTime deadline = timer->Now() + 20000000000;
    timer->WaitUntil(deadline);
    EXPECT_LT(timer->Now(), deadline) << "the wait outlived the server";
    tarvolt::CloseServerProcess(process);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PlatformPassTimer,
                         ::testing::Values(tarvolt::PassTimerKind::Finest, tarvolt::PassTimerKind::Fallback),
                         [](const auto &info) {
                             return info.param == tarvolt::PassTimerKind::Finest ? "Finest" : "Fallback";
                         });

} // namespace
