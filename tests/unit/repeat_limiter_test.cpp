// The limiter that keeps repeated lines from flooding the runtime's log, on a clock of the test's.
#include "RepeatLimiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tarvolt::RepeatLimiter;
using Text = std::optional<std::string>;

class Limiter : public ::testing::Test {
protected:
    RepeatLimiter limiter{[this] { return now; }};
    RepeatLimiter::TimePoint now{};
};

// Catches: a first occurrence that is held back or altered, repeats that get through within the
// minute, a repeat after the minute without its count (or with a count that misses the held-back
// ones or this one), a count that is not started afresh, a line that differs being held back
// because another is, and a "(repeated 1 times)" for a line that nothing was held back for.
TEST_F(Limiter, LogsARepeatAtMostOnceAMinuteWithItsCountAndOtherLinesAtOnce)
{
    const std::string failed = "Failed to start the advertisement watcher.";
    EXPECT_EQ(limiter.Admit(failed), Text(failed));
    for (int pass = 1; pass < 120; ++pass) {
        now += 500ms;
        EXPECT_EQ(limiter.Admit(failed), std::nullopt) << "pass " << pass;
    }
    EXPECT_EQ(limiter.Admit("Found device: Pad (Address: 2)"), Text("Found device: Pad (Address: 2)"));
    EXPECT_EQ(limiter.Admit("Found device: Pad (Address: 3)"), Text("Found device: Pad (Address: 3)"));
    now += 500ms;  // a minute after the first
    EXPECT_EQ(limiter.Admit(failed), Text(failed + " (repeated 120 times)"));
    now += 59s;
    EXPECT_EQ(limiter.Admit(failed), std::nullopt);
    now += 1s;
    EXPECT_EQ(limiter.Admit(failed), Text(failed + " (repeated 2 times)"));
    now += 10min;
    EXPECT_EQ(limiter.Admit(failed), Text(failed));

    // Occurrences counted on a hot path are admitted together, and none of them is lost.
    const std::string faulty = "Pose record with numbers that are not finite; the pose is published as not valid.";
    EXPECT_EQ(limiter.Admit(faulty, 90), Text(faulty));
    now += 30s;
    EXPECT_EQ(limiter.Admit(faulty, 45), std::nullopt);
    now += 30s;
    EXPECT_EQ(limiter.Admit(faulty, 2), Text(faulty + " (repeated 136 times)"));
}

// Catches: a reset that leaves a line held back, so that a new scan would not list the devices
// it sees, and a held-back count lost when many other lines pass through the limiter.
TEST_F(Limiter, ResetStartsAfreshAndManyOtherLinesLoseNoCount)
{
    const std::string phone = "Found device: Phone (Address: 7)";
    EXPECT_TRUE(limiter.Admit(phone));
    EXPECT_FALSE(limiter.Admit(phone));
    limiter.Reset();
    EXPECT_EQ(limiter.Admit(phone), Text(phone));

    for (int i = 0; i < 1000; ++i) {
        now += 1s;
        if (i % 10 == 0)
            limiter.Admit(phone);
        EXPECT_TRUE(limiter.Admit("Found device: Passer-by (Address: " + std::to_string(i) + ")"));
    }
    // The phone's line was last logged at 961 s, and held back at 971, 981 and 991 s.
    now += 30s;
    EXPECT_EQ(limiter.Admit(phone), Text(phone + " (repeated 4 times)"));
}

// Catches: a data race in the limiter (under ThreadSanitizer) and a line logged twice or lost
// when handlers on several platform threads report it at once.
TEST_F(Limiter, LogsALineOnceWhenSeveralThreadsReportItAtOnce)
{
    std::atomic<int> logged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                logged += limiter.Admit("Found device: Watch (Address: 5)") ? 1 : 0;
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(logged.load(), 1);
}

} // namespace
