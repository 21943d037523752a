// The relay's initialisation loop and its pass, run in this process against the client library
// stand-in and a tracked-device table published by the test.
#include "PoseSamples.h"
#include "Relay.h"
#include "TrackedDevicePublisher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing_support::InRawSpace;
using testing_support::SamplePose;
using testing_support::SameBytes;

namespace {

class RelayInProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(devices.Start()); }
    void TearDown() override { vr::VR_Shutdown(); }

    vr::IVRSystem *Init()
    {
        vr::IVRSystem *system =
            tarvolt::InitializeOpenVr([](uint32_t) { FAIL() << "no retry expected"; }, [] { return true; });
        EXPECT_NE(system, nullptr);
        return system;
    }

    sim::TrackedDevicePublisher devices;
    tarvolt::PassStorage storage{};
};

// Catches: giving up after a failure, pausing other than 3000 ms, printing a number instead of the
// runtime's text, skipping the shutdown between attempts, or counting a failure as success.
TEST_F(RelayInProcess, InitialisationRetriesWithTheRuntimesTextUntilItSucceeds)
{
    devices.FailInit(3, vr::VRInitError_Init_HmdNotFound);
    std::vector<uint32_t> pauses;
    ::testing::internal::CaptureStdout();
    vr::IVRSystem *system = tarvolt::InitializeOpenVr([&](uint32_t ms) { pauses.push_back(ms); }, [] { return true; });
    const std::vector<std::string> lines = testing_support::CapturedLines();

    EXPECT_NE(system, nullptr);
    EXPECT_EQ(pauses, (std::vector<uint32_t>{3000, 3000, 3000}));
    EXPECT_EQ(lines, std::vector<std::string>(3, "Failed to initialize OpenVR, error code: Hmd Not Found (108)"));
    EXPECT_EQ(devices.InitCalls(), 4u);
}

// Catches: a relay that gives up when the runtime's server is not running yet (the relay may start
// before SteamVR has come up), or reports that case with another text.
TEST_F(RelayInProcess, InitialisationWaitsForTheServerToComeUp)
{
    devices.Stop();
    int pauses = 0;
    ::testing::internal::CaptureStdout();
    vr::IVRSystem *system = tarvolt::InitializeOpenVr(
        [&](uint32_t) {
            if (++pauses == 2) {
                ASSERT_TRUE(devices.Start());
            }
        },
        [] { return true; });
    const std::vector<std::string> lines = testing_support::CapturedLines();

    EXPECT_NE(system, nullptr);
    EXPECT_EQ(lines, std::vector<std::string>(
                         2, "Failed to initialize OpenVR, error code: Not starting vrserver for background app (121)"));
}

// Catches: a relay that goes on retrying every 3 s for ever once the server that started it has
// ended (it crashed before the relay got through): it must give up instead of lingering.
TEST_F(RelayInProcess, InitialisationGivesUpWhenTheServerIsGone)
{
    devices.FailInit(5, vr::VRInitError_IPC_ConnectFailed);
    int checks = 0;
    ::testing::internal::CaptureStdout();
    vr::IVRSystem *system = tarvolt::InitializeOpenVr([](uint32_t) {}, [&] { return ++checks < 2; });
    const std::vector<std::string> lines = testing_support::CapturedLines();

    EXPECT_EQ(system, nullptr);
    EXPECT_EQ(lines, std::vector<std::string>(2, "Failed to initialize OpenVR, error code: Connect to VR Server Failed (301)"));
    EXPECT_EQ(devices.InitCalls(), 2u);
}

// Catches: the first right hand winning, index order taken for the sorted order, a device that is
// not a controller taken for one because of its role, and a pose read in the applications'
// standing space instead of the raw tracking space that driver poses are published in (on a
// base-station setup the rifle would be displaced by the whole room setup).
TEST_F(RelayInProcess, PassTakesTheLastRightHandInTheSortedControllerList)
{
    devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, SamplePose(1));
    devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(2), 5);
    devices.SetDevice(3, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, SamplePose(3), 9);
    devices.SetDevice(4, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(4), 1);
    devices.SetDevice(5, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_RightHand, SamplePose(5), 10);
    vr::IVRSystem *system = Init();
    ASSERT_NE(system, nullptr);

    EXPECT_TRUE(SameBytes(tarvolt::SelectRightHandPose(*system, storage), InRawSpace(SamplePose(2))));
    EXPECT_FALSE(SameBytes(InRawSpace(SamplePose(2)), SamplePose(2))) << "raw and standing space coincide";
}

// Catches: a default record that claims a tracked pose (valid, Running_OK, so that SteamVR would
// show the rifle tracked at the floor's origin with a degenerate rotation) or says the device is
// gone (the rifle's buttons would stop working), a left hand taken for the right, and a pass
// that keeps the previous pass's right hand once it is gone.
TEST_F(RelayInProcess, PassWithoutARightHandGivesTheDefaultRecord)
{
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(1));
    vr::IVRSystem *system = Init();
    ASSERT_NE(system, nullptr);
    ASSERT_TRUE(SameBytes(tarvolt::SelectRightHandPose(*system, storage), InRawSpace(SamplePose(1))));

    vr::TrackedDevicePose_t expected;
    std::memset(static_cast<void *>(&expected), 0, sizeof expected);
    expected.eTrackingResult = vr::TrackingResult_Uninitialized;
    expected.bPoseIsValid = false;
    expected.bDeviceIsConnected = true;

    devices.RemoveDevice(1);  // no controller at all
    EXPECT_TRUE(SameBytes(tarvolt::SelectRightHandPose(*system, storage), expected));

    devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, SamplePose(2));
    EXPECT_TRUE(SameBytes(tarvolt::SelectRightHandPose(*system, storage), expected));
}

// Catches: a copy that misses part of the record (its tail padding included) or leaves the lock
// held for the driver.
TEST_F(RelayInProcess, WriteCopiesTheWholeRecordAndFreesTheLock)
{
    alignas(8) unsigned char bytes[tarvolt::kSharedPoseBlockSize] = {};
    auto *block = new (bytes) tarvolt::SharedPose;
    vr::TrackedDevicePose_t record = SamplePose(7);
    std::memset(reinterpret_cast<unsigned char *>(&record) + 78, 0xAB, 2);

    EXPECT_TRUE(tarvolt::WritePoseRecord(*block, record, tarvolt::ServerProcess{}));
    EXPECT_EQ(std::memcmp(bytes + 4, &record, 80), 0);
    EXPECT_EQ(block->lock.load(), 0);
    EXPECT_EQ(bytes[84], 0);
}

} // namespace
