// The brief wait for the pose lock that the frame update makes (and the relay before it sleeps),
// run with a clock, pause and yield of the test's own, so that what happens at each try is known
// exactly and nothing depends on how fast this machine is.
#include "PoseLock.h"

#include <gtest/gtest.h>

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

} // namespace
