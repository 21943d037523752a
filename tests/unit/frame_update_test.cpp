// The frame update in the driver linked into this program: input event flags become button
// pulses of 21 updates, the pose is read from the shared pose block and published, and
// deactivation takes the block away before the relay program is ended.
#include "ControllerDriver.h"
#include "ConvertPose.h"
#include "DeviceProvider.h"
#include "DriverState.h"
#include "FrameClock.h"
#include "SharedPose.h"
#include "SharedPoseBlock.h"
#include "SimHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Seen {
    std::string name;
    bool boolValue;
    float scalarValue;
    uint64_t frame;
    bool operator==(const Seen &o) const
    {
        return name == o.name && boolValue == o.boolValue && scalarValue == o.scalarValue && frame == o.frame;
    }
};

std::ostream &operator<<(std::ostream &os, const Seen &s)
{
    return os << s.name << "=" << s.boolValue << "/" << s.scalarValue << "@" << s.frame;
}

class FrameUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.UseFactory(&tarvolt::ProviderFactory);
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(), vr::VRInitError_None);
        controller = tarvolt::deviceProvider.controller;
        ASSERT_NE(controller, nullptr);
        activated = host.FramesRun();
    }

    std::vector<Seen> Updates()
    {
        std::vector<Seen> seen;
        for (const sim::ComponentUpdate &u : host.Recorder().Updates()) {
            EXPECT_EQ(u.timeOffset, 0.0);
            seen.push_back({u.name, u.kind == sim::ComponentKind::Boolean && u.boolValue,
                            u.kind == sim::ComponentKind::Scalar ? u.scalarValue : -1.0f, u.frame - activated});
        }
        return seen;
    }

    sim::SimHost host;
    tarvolt::ControllerDriver *controller = nullptr;
    uint64_t activated = 0;  // frames the host ran before the device was active; updates count from it
};

// Catches: a pulse one update too short or too long, value and click reported in the other
// order, a release that forgets the scalar; and an event during a pulse that prolongs it, starts a
// second pulse later (remembered instead of dropped), or stays pending in its flag.
TEST_F(FrameUpdate, OneFireEventPressesInItsUpdateAndReleases21UpdatesLater)
{
    tarvolt::fire = true;
    host.RunFrame();                     // update 1 begins the pulse
    for (int update = 2; update <= 22; ++update) {
        tarvolt::fire = true;            // read in each of the 21 updates after the press
        host.RunFrame();
        EXPECT_FALSE(tarvolt::fire.load()) << update;
    }
    host.RunFrames(30);
    const std::vector<Seen> expected = {{"/input/fire/click", true, -1, 1},
                                        {"/input/fire/value", false, 1.0f, 1},
                                        {"/input/fire/click", false, -1, 22},
                                        {"/input/fire/value", false, 0.0f, 22}};
    EXPECT_EQ(Updates(), expected);
    EXPECT_FALSE(controller->firePulse.active);
    EXPECT_EQ(controller->firePulse.frames, 0);

    tarvolt::fire = true;                // after the pulse a new event presses again
    host.RunFrame();
    ASSERT_EQ(Updates().size(), 6u);
    EXPECT_EQ(Updates()[4], (Seen{"/input/fire/click", true, -1, 53}));
}

// Catches: one button's flag stopping the others in the same update, a wrong table order, a
// scalar sent for a button that has none, or a flag wired to another button's component.
TEST_F(FrameUpdate, TwoButtonsInOneUpdatePulseTogetherInTableOrder)
{
    tarvolt::load_bullet = true;
    tarvolt::eject_mag = true;
    host.RunFrames(22);
    const std::vector<Seen> expected = {{"/input/eject_mag/click", true, -1, 1},
                                        {"/input/load_bullet/click", true, -1, 1},
                                        {"/input/eject_mag/click", false, -1, 22},
                                        {"/input/load_bullet/click", false, -1, 22}};
    EXPECT_EQ(Updates(), expected);

    tarvolt::unload_bullet = true;
    tarvolt::load_mag = true;
    host.RunFrame();
    const std::vector<Seen> all = Updates();
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[4].name, "/input/load_mag/click");
    EXPECT_EQ(all[5].name, "/input/unload_bullet/click");
}

vr::TrackedDevicePose_t RecordAt(float y)
{
    vr::TrackedDevicePose_t record;
    std::memset(&record, 0, sizeof record);
    record.mDeviceToAbsoluteTracking.m[0][0] = record.mDeviceToAbsoluteTracking.m[1][1] = 1;
    record.mDeviceToAbsoluteTracking.m[2][2] = 1;
    record.mDeviceToAbsoluteTracking.m[1][3] = y;
    record.eTrackingResult = vr::TrackingResult_Running_OK;
    record.bPoseIsValid = record.bDeviceIsConnected = true;
    return record;
}

// Catches: a frame that reads the block before the pose (or misses the conversion), publishes
// under another index or size, or keeps a pose GetPose cannot return; and a block nobody has
// written yet published as the conversion of its zeros (result 0, which ETrackingResult does not
// define, and a controller turned 120 degrees about a diagonal) instead of as the relay's record
// for no controller: not valid, Uninitialized, connected, and only the mounting turn.
TEST_F(FrameUpdate, PublishesTheConversionOfTheBlockEveryFrame)
{
    tarvolt::SharedPose *block = tarvolt::poseBlockView;
    ASSERT_NE(block, nullptr);
    host.RunFrame();
    vr::TrackedDevicePose_t zero;
    std::memset(&zero, 0, sizeof zero);
    vr::TrackedDevicePose_t noController = zero;
    for (int i = 0; i < 3; ++i)
        noController.mDeviceToAbsoluteTracking.m[i][i] = 1;
    noController.eTrackingResult = vr::TrackingResult_Uninitialized;
    noController.bDeviceIsConnected = true;
    sim::PoseRecord published{};
    ASSERT_TRUE(host.Recorder().LastPose(published));
    const vr::DriverPose_t fresh = tarvolt::ConvertPose(noController);
    EXPECT_EQ(std::memcmp(&published.pose, &fresh, sizeof fresh), 0);
    EXPECT_EQ(published.deviceIndex, 0u);
    EXPECT_EQ(published.size, 280u);

    const vr::TrackedDevicePose_t record = RecordAt(1.25f);
    tarvolt::AcquirePoseLock(block->lock);
    std::memcpy(&block->pose, &record, sizeof record);
    tarvolt::ReleasePoseLock(block->lock);
    host.RunFrames(2);  // unchanged records are published again
    EXPECT_EQ(host.Recorder().PoseCount(), 3u);
    ASSERT_TRUE(host.Recorder().LastPose(published));
    const vr::DriverPose_t converted = tarvolt::ConvertPose(record);
    EXPECT_EQ(std::memcmp(&published.pose, &converted, sizeof converted), 0);
    const vr::DriverPose_t kept = controller->GetPose();
    EXPECT_EQ(std::memcmp(&kept, &converted, sizeof converted), 0);
}

bool SamePose(const vr::DriverPose_t &a, const vr::DriverPose_t &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Catches: a faulty record published as it is (the simulated server fails the test on a number
// that is not finite or a rotation that is not a unit quaternion) or as valid, and its log line
// missing, written from the frame thread itself, or written again for every frame it comes in.
TEST_F(FrameUpdate, FaultyRecordsArePublishedAsNotValidAndLoggedOnceEach)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    vr::TrackedDevicePose_t notFinite = RecordAt(1.0f), noRotation = RecordAt(1.0f);
    notFinite.mDeviceToAbsoluteTracking.m[2][1] = nan;
    noRotation.mDeviceToAbsoluteTracking.m[1][1] = 0;  // claims to be valid
    // Lines from the frame thread (this one), counted by a listener that may outlive the test.
    static std::thread::id frameThread;
    static std::atomic<int> fromFrameThread{0};
    frameThread = std::this_thread::get_id();
    host.Recorder().SetLogListener([](const std::string &) { fromFrameThread += std::this_thread::get_id() == frameThread; });
    for (const vr::TrackedDevicePose_t *record : {&notFinite, &noRotation}) {
        std::memcpy(&tarvolt::poseBlockView->pose, record, sizeof *record);
        host.RunFrames(3);
        sim::PoseRecord published{};
        ASSERT_TRUE(host.Recorder().LastPose(published));
        EXPECT_FALSE(published.pose.poseIsValid);
        EXPECT_EQ(published.pose.result, vr::TrackingResult_Uninitialized);
    }
    for (const std::string line : {"Pose record with numbers that are not finite; the pose is published as not valid.",
                                   "Pose record whose rotation is not one; the pose is published as not valid."}) {
        EXPECT_TRUE(host.Recorder().WaitForLog(line, std::chrono::seconds(30))) << line;
        EXPECT_EQ(host.Recorder().CountLog(line), 1u) << line;
    }
    EXPECT_EQ(fromFrameThread.load(), 0) << "logged from the frame thread";
}

// Catches: a frame thread stalled for ever by a lock nobody will free, a frame that reads the
// record without the lock (here half written by its holder) or publishes something else than the
// last pose, and a pose that stays skipped after the lock came free.
TEST_F(FrameUpdate, ALockNeverFreedKeepsTheLastPoseAndTheNextFrameTriesAgain)
{
    tarvolt::SharedPose *block = tarvolt::poseBlockView;
    ASSERT_NE(block, nullptr);
    const vr::TrackedDevicePose_t first = RecordAt(1.0f);
    std::memcpy(&block->pose, &first, sizeof first);
    host.RunFrame();
    ASSERT_EQ(host.Recorder().PoseCount(), 1u);

    block->lock.store(1);  // a relay that died in the middle of its copy
    const vr::TrackedDevicePose_t torn = RecordAt(2.0f);
    std::memcpy(&block->pose, &torn, 40);
    host.RunFrame();  // the platform's own clock and yield: it returns after about 1 ms
    EXPECT_EQ(host.Recorder().PoseCount(), 1u);
    EXPECT_TRUE(SamePose(controller->GetPose(), tarvolt::ConvertPose(first)));
    EXPECT_EQ(block->lock.load(), 1);  // left to its holder

    std::memcpy(&block->pose, &torn, sizeof torn);
    tarvolt::ReleasePoseLock(block->lock);
    host.RunFrame();
    EXPECT_EQ(host.Recorder().PoseCount(), 2u);
    sim::PoseRecord published{};
    ASSERT_TRUE(host.Recorder().LastPose(published));
    EXPECT_TRUE(SamePose(published.pose, tarvolt::ConvertPose(torn)));
    EXPECT_EQ(block->lock.load(), 0);
}

// Catches: a frame update that sleeps when it finds the lock held (10 ms inside SteamVR's frame
// callback, a missed frame) or yields its processor to a relay that is running on another one,
// instead of spinning briefly and publishing the record in this same frame; and one that never
// stamps the frame clock (the relay would never follow the frames), or stamps it before its copy
// of the pose or from another clock than the relay's.
TEST_F(FrameUpdate, ALockFreedDuringTheSpinIsTakenInTheSameFrameAndStampedAfterTheCopy)
{
    // The relay at work while the frame waits: it finishes its copy and frees the lock after a few
    // of the frame's pause hints, or fails the test when the frame yields or gives up first.
    static tarvolt::SharedPose *block;
    static vr::TrackedDevicePose_t record;
    static int pausesLeft, yields;
    static int64_t freedAt;
    block = tarvolt::poseBlockView;
    ASSERT_NE(block, nullptr);
    record = RecordAt(1.5f);
    pausesLeft = 3;
    yields = 0;
    host.RunFrame();  // a first stamp: the clock has a period from the second on
    controller->poseLockWait.pause = [] {
        if (--pausesLeft == 0) {
            std::memcpy(&block->pose, &record, sizeof record);
            freedAt = tarvolt::MonotonicTicks();
            tarvolt::ReleasePoseLock(block->lock);
        }
    };
    controller->poseLockWait.yield = [] { ++yields; };
    block->lock.store(1);
    host.RunFrame();
    EXPECT_EQ(pausesLeft, 0);
    EXPECT_EQ(yields, 0);
    ASSERT_EQ(host.Recorder().PoseCount(), 2u);
    sim::PoseRecord published{};
    ASSERT_TRUE(host.Recorder().LastPose(published));
    EXPECT_TRUE(SamePose(published.pose, tarvolt::ConvertPose(record)));
    EXPECT_EQ(block->lock.load(), 0) << "the frame frees the lock after its copy";

    const tarvolt::FrameClock &clock = tarvolt::FrameClockOf(*block);
    tarvolt::FrameClockReading reading;
    ASSERT_TRUE(tarvolt::ReadFrameClock(clock, reading));
    EXPECT_EQ(reading.frames, 2u);
    EXPECT_GE(clock.lastFrame.load(), freedAt);
    EXPECT_LE(clock.lastFrame.load(), tarvolt::MonotonicTicks());
    EXPECT_GT(reading.periodNs, 0);
}

// Catches: pulses tied to the block's presence, or a pose call through a null view.
TEST_F(FrameUpdate, WithoutABlockPulsesStillRunAndNoPoseIsSent)
{
    tarvolt::ReleaseSharedPoseBlock();
    ASSERT_EQ(tarvolt::poseBlockView, nullptr);
    tarvolt::fire = true;
    host.RunFrames(22);
    EXPECT_EQ(Updates().size(), 4u);
    EXPECT_EQ(host.Recorder().PoseCount(), 0u);
}

// Catches: the relay ended while the block is still mapped, a view left behind (a frame after
// deactivation would read unmapped memory), a pulse still running at deactivation that ends with
// an input update from a later frame, a pending event that starts one then, or a pose published
// then (a device must not call the runtime after Deactivate; the strict host fails the test on
// any such call); and a device that stays silent once activated again.
TEST_F(FrameUpdate, NothingReachesTheRuntimeBetweenDeactivationAndTheNextActivation)
{
    bool blockGoneAtRelayEnd = false;
    int relayEndLines = 0;
    host.Recorder().SetLogListener([&](const std::string &line) {
        if (line == "Vistrel process terminated." ||
            line == "Failed to terminate Vistrel process, the process may not exist.") {
            ++relayEndLines;
            blockGoneAtRelayEnd = tarvolt::poseBlockView == nullptr && tarvolt::poseBlockMapping == nullptr;
        }
    });
    tarvolt::fire = true;
    host.RunFrames(5);
    ASSERT_TRUE(controller->firePulse.active);
    host.Deactivate();
    host.Recorder().SetLogListener(nullptr);  // its counts end with this scope, the host's logging does not
    EXPECT_EQ(relayEndLines, 1);
    EXPECT_TRUE(blockGoneAtRelayEnd);
    EXPECT_EQ(tarvolt::poseBlockView, nullptr);
    tarvolt::eject_mag = true;
    host.RunFrames(30);
    EXPECT_EQ(Updates().size(), 2u) << "only the press from before the deactivation";
    EXPECT_EQ(host.Recorder().PoseCount(), 5u);

    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    host.RunFrame();
    EXPECT_EQ(host.Recorder().PoseCount(), 6u);
    const std::vector<Seen> after = Updates();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[2].name, "/input/eject_mag/click");
    EXPECT_TRUE(after[2].boolValue);
}

} // namespace
