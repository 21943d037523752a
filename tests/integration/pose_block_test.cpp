// The shared pose block between two real processes: the built library in the simulated host
// reads it every frame while a helper process opens it by name and writes or holds its lock, as
// the relay program does.
#include "DriverLibrary.h"
#include "RelayTestPackage.h"
#include "SharedPose.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

constexpr double C = 0.9659258262890683;

class PoseBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Load(RelayTestRoot())) << host.Error();
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
    }

    // A process that opens the block by its name, as the relay does.
    static void StartHelper(ProgramRun &run)
    {
        ASSERT_TRUE(run.Start(ProgramIn(sim::ExecutableDirectory(), "pose_block_helper"), {}));
        ASSERT_EQ(run.Ask("open"), "ok");
    }

    // The position of the last published pose, which the helper chose per record.
    double LastY()
    {
        sim::PoseRecord last{};
        EXPECT_TRUE(host.Recorder().LastPose(last));
        return last.pose.vecPosition[1];
    }

    sim::SimHost host;
    ProgramRun helper;
};

// Catches: a lock held by another process that stalls the frame without bound (it would hang the
// runtime's frame thread for ever): here a relay that died holding it (killed mid-copy); a frame that publishes the record under the dead holder's lock, and a lock
// byte left held into the next activation, so that the next relay could never write again.
TEST_F(PoseBlock, ARelayKilledHoldingTheLockLeavesTheLastPoseAndTheNextRelayTakesItAgain)
{
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    StartHelper(helper);
    ASSERT_EQ(helper.Ask("write 200 0 5 0"), "ok");
    host.RunFrame();
    ASSERT_EQ(LastY(), 5.0);
    ASSERT_EQ(helper.Ask("hold"), "held");
    ASSERT_EQ(helper.Ask("put 200 0 9 0"), "ok");
    helper.Kill();  // the lock byte stays 1: nobody will ever release it

    const size_t before = host.Recorder().PoseCount();
    host.RunFrames(3);  // each frame returns after the bounded wait
    EXPECT_EQ(host.Recorder().PoseCount(), before);
    EXPECT_EQ(host.Device()->GetPose().vecPosition[1], 5.0) << "the last pose did not stay";

    // A runtime that activates again without deactivating, then the normal cycle: each time the
    // next relay finds the lock free.
    for (const bool deactivateFirst : {false, true}) {
        if (deactivateFirst)
            host.Deactivate();
        ASSERT_EQ(host.Activate(), vr::VRInitError_None);
        ProgramRun next;
        StartHelper(next);
        ASSERT_EQ(next.Ask("write 200 0 6 0"), "ok");
        host.RunFrame();
        EXPECT_EQ(LastY(), 6.0);
        ASSERT_EQ(next.Ask("hold"), "held");
        next.Kill();
    }
}

// Catches: a block that outlives its last user (on POSIX its name stayed in /dev/shm for as long
// as the machine ran), a relay that still runs at Deactivate losing its block under it, and a
// block that is not made afresh for the next activation.
TEST_F(PoseBlock, NothingOfTheBlockOutlivesItsUsersAndTheNextActivationMakesItAfresh)
{
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    StartHelper(helper);
    ASSERT_EQ(helper.Ask("write 200 0 1 0"), "ok");
    host.Deactivate();
    // The relay that still has the block keeps a working block until it ends.
    ASSERT_EQ(helper.Ask("write 200 0 2 0"), "ok");
    ASSERT_EQ(helper.Ask("hold"), "held");
    helper.Kill();
    tarvolt::PoseBlockHandle left = tarvolt::OpenPoseBlockMapping();
    tarvolt::ClosePoseBlockMapping(left);
    EXPECT_EQ(left, nullptr) << "the block is still there after its last user";

    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    ProgramRun next;
    StartHelper(next);
    ASSERT_EQ(next.Ask("write 200 0 3 0"), "ok");
    host.RunFrame();
    EXPECT_EQ(LastY(), 3.0);
}

// Catches: a block of the same name that is not re-used, a record or lock left as a previous
// holder left it, or a zeroing that reaches past the record.
TEST_F(PoseBlock, AnExistingSectionIsReusedAndOnlyItsRecordIsZeroed)
{
    tarvolt::PoseBlockHandle mapping = tarvolt::CreatePoseBlockMapping();
    ASSERT_NE(mapping, nullptr);
    auto *bytes = static_cast<unsigned char *>(tarvolt::MapPoseBlock(mapping));
    ASSERT_NE(bytes, nullptr);
    std::memset(bytes, 0xA5, tarvolt::kSharedPoseBlockSize);  // the lock byte reads as held, too

    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    EXPECT_EQ(host.Recorder().CountLog("Failed to create file mapping object."), 0u);
    for (uint32_t i = 0; i < sizeof(tarvolt::SharedPose); ++i)
        ASSERT_EQ(bytes[i], 0) << i;
    for (uint32_t i = sizeof(tarvolt::SharedPose); i < tarvolt::kSharedPoseBlockSize; ++i)
        ASSERT_EQ(bytes[i], 0xA5) << i;

    host.RunFrame();  // the zero record of a fresh block: no pose yet, only the mounting turn
    sim::PoseRecord last{};
    ASSERT_TRUE(host.Recorder().LastPose(last));
    EXPECT_FALSE(last.pose.poseIsValid);
    EXPECT_EQ(last.pose.qRotation.w, C);

    host.Deactivate();
    tarvolt::UnmapPoseBlock(bytes);
    tarvolt::ClosePoseBlockMapping(mapping);
}

} // namespace
