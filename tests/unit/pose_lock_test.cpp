// The brief wait for the pose lock that the frame update makes (and the relay before it sleeps),
// run with a clock, pause and yield of the test's own, so that what happens at each try is known
// exactly and nothing depends on how fast this machine is; and the frame clock beside the record.
#include "FrameClock.h"
#include "PoseLock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// The test's world: a clock that moves on by a fixed step at every reading, and counts of the
// pauses and yields, each of which may free the lock at a chosen try.
struct World {
    int64_t clock = 7000000000;
    int64_t step = 0;
    uint32_t pauses = 0;
    uint32_t yields = 0;
    uint32_t clockReads = 0;
    uint32_t freeAtPause = 0;  // 0: never
    uint32_t freeAtYield = 0;  // 0: never
    std::atomic<uint8_t> *lock = nullptr;
};
World world;

int64_t Now()
{
    ++world.clockReads;
    return world.clock += world.step;
}
void Pause()
{
    if (++world.pauses == world.freeAtPause)
        tarvolt::ReleasePoseLock(*world.lock);
}
void Yield()
{
    if (++world.yields == world.freeAtYield)
        tarvolt::ReleasePoseLock(*world.lock);
}

class BriefPoseLockWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        world = World{};
        world.lock = &lock;
        wait.now = Now;
        wait.pause = Pause;
        wait.yield = Yield;
    }

    std::atomic<uint8_t> lock{0};
    tarvolt::PoseLockWait wait = tarvolt::kPoseLockBriefWait;
};

// Catches: a waiter that never gives up on a lock whose holder died (the frame thread would hang
// SteamVR), one that gives up before its bound or sleeps instead of trying, and one that clears or
// steals a lock it never took.
TEST_F(BriefPoseLockWait, ALockHeldForEverIsGivenUpAtTheBoundAndLeftToItsHolder)
{
    lock.store(1);
    world.step = 10000;  // 10 us a reading
    EXPECT_FALSE(tarvolt::AcquirePoseLockBriefly(lock, wait));
    EXPECT_EQ(lock.load(), 1);
    EXPECT_EQ(world.pauses, wait.spinTries) << "first the spin, a pause hint per try";
    EXPECT_GT(world.yields, 0u) << "then tries after yielding";
    // Every reading moves the clock on by a step: the wait ended at its bound, not before it and
    // not long after.
    const int64_t waited = static_cast<int64_t>(world.clockReads - 1) * world.step;
    EXPECT_GE(waited, wait.boundNs);
    EXPECT_LE(waited, wait.boundNs + world.step);
    EXPECT_LE(wait.boundNs, 1000000) << "the frame thread waits at most about 1 ms";
}

// Catches: a lock freed during the spin or during the yields that is not taken (the frame would
// lose its pose), taken without setting the byte (the writer would copy into a record being read),
// or a free lock that costs a reading of the clock on every frame.
TEST_F(BriefPoseLockWait, ALockFreedWhileWaitingIsTakenAtTheNextTry)
{
    EXPECT_TRUE(tarvolt::AcquirePoseLockBriefly(lock, wait));
    EXPECT_EQ(lock.load(), 1);
    EXPECT_EQ(world.clockReads + world.pauses + world.yields, 0u) << "a free lock is taken at once";

    world.freeAtPause = 5;
    EXPECT_TRUE(tarvolt::AcquirePoseLockBriefly(lock, wait));
    EXPECT_EQ(lock.load(), 1);
    EXPECT_EQ(world.pauses, 5u);
    EXPECT_EQ(world.yields, 0u);

    world = World{};
    world.lock = &lock;
    world.step = 1000;
    world.freeAtYield = 3;
    EXPECT_TRUE(tarvolt::AcquirePoseLockBriefly(lock, wait));
    EXPECT_EQ(lock.load(), 1);
    EXPECT_EQ(world.pauses, wait.spinTries);
    EXPECT_EQ(world.yields, 3u);
}

// The frame clock behind the record: its period as the frame update smooths it, and copies of it
// taken while it is being written.
struct PeriodCase {
    const char *what;
    std::vector<int64_t> intervals;  // between stamps, in ticks of 1 ns
    int64_t period;                  // the period after them
    int64_t within;
};

// Catches: a period taken from a single interval (a stall or a pause would send the relay's passes
// far off the frames), one that never follows another frame rate, and one that a clock going
// backwards corrupts.
TEST(FrameClock, ThePeriodFollowsTheFramesAndShrugsOffStallsAndPauses)
{
    constexpr int64_t k90 = 11111111, k144 = 6944444;
    const auto repeat = [](int n, int64_t interval, std::vector<int64_t> v = {}) {
        v.insert(v.end(), n, interval);
        return v;
    };
    const PeriodCase cases[] = {
        {"90 Hz", repeat(100, k90), k90, 1000},
        {"144 Hz", repeat(150, k144), k144, 1000},
        {"a pause of two seconds", repeat(1, 2000000000, repeat(100, k90)), k90, k90 / 64 + 1000},
        {"a clock that went back", repeat(1, -5000000000, repeat(100, k90)), k90, k90 / 64 + 1000},
        {"90 Hz, then 144 Hz for a second", repeat(144, k144, repeat(90, k90)), k144, 1000},
    };
    for (const PeriodCase &c : cases) {
        tarvolt::FrameClock clock{};
        tarvolt::FrameClockReading reading;
        tarvolt::FrameClockWriter writer(1000000000);
        int64_t now = 5000000000;
        writer.Stamp(clock, now);
        for (int64_t interval : c.intervals)
            writer.Stamp(clock, now += interval);
        ASSERT_TRUE(tarvolt::ReadFrameClock(clock, reading, 1000000000));
        EXPECT_EQ(reading.frames, c.intervals.size() + 1) << c.what;
        EXPECT_EQ(reading.lastFrameNs, now) << c.what;
        EXPECT_NEAR(reading.periodNs, c.period, c.within) << c.what;
    }
}

// Catches: a clock read without its sequence counter (a copy made of fields from two stamps, so
// that the relay would aim at a frame time that never was), and a reader that waits for ever on a
// writer that died in the middle of a stamp.
TEST(FrameClock, ACopyIsNeverTornAndAWriterThatDiedMidStampIsNotWaitedFor)
{
    constexpr int kStamps = 200000;
    const auto at = [](int64_t frame) { return frame * 1000 + frame % 7 * 300; };
    std::vector<int64_t> periods(kStamps + 1);  // the period after each stamp, as one writer alone has it
    {
        tarvolt::FrameClock alone{};
        tarvolt::FrameClockWriter stamps(1000000000);
        tarvolt::FrameClockReading reading;
        for (int64_t frame = 1; frame <= kStamps; ++frame) {
            stamps.Stamp(alone, at(frame));
            tarvolt::ReadFrameClock(alone, reading, 1000000000);
            periods[frame] = reading.periodNs;
        }
    }
    tarvolt::FrameClock clock{};
    std::atomic<bool> done{false};
    std::atomic<uint64_t> whole{0};
    std::thread writer([&] {
        // On until the reader has had its copies, however the two threads are scheduled.
        tarvolt::FrameClockWriter stamps(1000000000);
        for (int64_t frame = 1; frame <= kStamps || (whole < 1000 && frame < 1000000000); ++frame)
            stamps.Stamp(clock, at(frame));
        done = true;
    });
    // A copy may fail while the writer is preempted in the middle of a stamp; none may be torn.
    uint64_t torn = 0;
    while (!done) {
        tarvolt::FrameClockReading reading;
        if (!tarvolt::ReadFrameClock(clock, reading, 1000000000) || reading.frames == 0)
            continue;
        ++whole;
        const auto frame = static_cast<int64_t>(reading.frames);
        torn += reading.lastFrameNs != at(frame) || (frame <= kStamps && reading.periodNs != periods[frame]);
    }
    writer.join();
    EXPECT_GE(whole.load(), 1000u);
    EXPECT_EQ(torn, 0u) << "torn copies";

    clock.sequence.store(clock.sequence.load() + 1);  // odd for good
    tarvolt::FrameClockReading reading;
    EXPECT_FALSE(tarvolt::ReadFrameClock(clock, reading, 1000000000));
    EXPECT_EQ(reading.frames, 0u);
    tarvolt::FrameClockWriter next(1000000000);
    next.Stamp(clock, 1000);  // the next writer's counter is its own
    EXPECT_TRUE(tarvolt::ReadFrameClock(clock, reading, 1000000000));
    EXPECT_EQ(reading.frames, 1u);
}

} // namespace
