// The relay's initialisation loop, its pass and the device it follows, run in this process
// against the client library stand-in and a tracked-device table published by the test.
#include "PoseSamples.h"
#include "PoseSource.h"
#include "Relay.h"
#include "TrackedDevicePublisher.h"

#include <gtest/gtest.h>

#include <functional>
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
// runtime's text, skipping the shutdown between attempts, or counting a failure as success; giving
// up when the runtime's server is not running yet (the relay may start before SteamVR has come up);
// and retrying every 3 s for ever once the server that started the relay has ended (it crashed
// before the relay got through) instead of giving up.
TEST_F(RelayInProcess, InitialisationRetriesWithTheRuntimesTextWhileTheServerLives)
{
    std::vector<uint32_t> pauses;
    std::function<void()> onPause = [] {};
    std::function<bool()> alive = [] { return true; };
    std::vector<std::string> lines;
    const auto init = [&] {
        pauses.clear();
        ::testing::internal::CaptureStdout();
        vr::IVRSystem *system = tarvolt::InitializeOpenVr([&](uint32_t ms) { pauses.push_back(ms), onPause(); }, alive);
        lines = testing_support::CapturedLines();
        return system;
    };
    const auto failed = [](const char *text) { return "Failed to initialize OpenVR, error code: " + std::string(text); };

    devices.FailInit(3, vr::VRInitError_Init_HmdNotFound);
    EXPECT_NE(init(), nullptr);
    EXPECT_EQ(pauses, (std::vector<uint32_t>{3000, 3000, 3000}));
    EXPECT_EQ(lines, std::vector<std::string>(3, failed("Hmd Not Found (108)")));
    EXPECT_EQ(devices.InitCalls(), 4u);
    vr::VR_Shutdown();

    devices.Stop();
    onPause = [&] {
        if (pauses.size() == 2) {
            ASSERT_TRUE(devices.Start());
        }
    };
    EXPECT_NE(init(), nullptr) << "the server came up";
    EXPECT_EQ(lines, std::vector<std::string>(2, failed("Not starting vrserver for background app (121)")));
    vr::VR_Shutdown();

    devices.FailInit(5, vr::VRInitError_IPC_ConnectFailed);
    const uint32_t calls = devices.InitCalls();
    int checks = 0;
    onPause = [] {};
    alive = [&] { return ++checks < 2; };
    EXPECT_EQ(init(), nullptr) << "the server has gone";
    EXPECT_EQ(lines, std::vector<std::string>(2, failed("Connect to VR Server Failed (301)")));
    EXPECT_EQ(devices.InitCalls() - calls, 2u);
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


// Which device the relay follows: the poseSource setting read through the client library's
// settings interface, and the pass's selection by hand or by serial number.
class PoseSourceInProcess : public RelayInProcess {
protected:
    void SetUp() override
    {
        RelayInProcess::SetUp();
        ASSERT_NE(system = Init(), nullptr);
        ASSERT_NE(settings = vr::VRSettings(), nullptr);
    }

    void SetSource(const char *value)
    {
        devices.EditSettings([&](sim::SettingsStore &s) { return sim::PutString(s, "driver_tarvolt_rq508", "poseSource", value); });
    }
    void AddDevice(uint32_t index, int32_t deviceClass, int32_t role, float seed, const char *serial)
    {
        devices.SetDevice(index, deviceClass, role, SamplePose(seed));
        devices.SetSerial(index, serial);
    }
    // What a pass selects with the setting as it now reads.
    vr::TrackedDevicePose_t Selected()
    {
        const tarvolt::PoseSource &source = setting.Read(settings);
        const vr::TrackedDeviceIndex_t index = source.kind == tarvolt::PoseSourceKind::Serial
                                                   ? tarvolt::FindDeviceBySerial(*system, source.serial)
                                                   : vr::k_unTrackedDeviceIndexInvalid;
        return tarvolt::SelectPose(*system, storage, source, index);
    }

    vr::IVRSystem *system = nullptr;
    vr::IVRSettings *settings = nullptr;
    tarvolt::PoseSourceSetting setting;
};

// Catches: a serial matched against the wrong property or only among controllers (trackers are
// another class), the first device taken whatever its serial, or a serial that is not present
// falling back to a hand instead of the default record.
TEST_F(PoseSourceInProcess, ASerialNumberSelectsThatTrackerOrControllerAndNothingElse)
{
    AddDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, 1, "LHR-HAND");
    AddDevice(2, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, 2, "LHR-TRACKER-A");
    AddDevice(3, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, 3, "LHR-TRACKER-B");
    ::testing::internal::CaptureStdout();

    SetSource("LHR-TRACKER-B");
    EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(3))));
    SetSource("LHR-TRACKER-A");
    EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(2))));
    SetSource("LHR-HAND");
    EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(1))));
    SetSource("LHR-TRACKER");  // a prefix of two serials, the serial of none
    EXPECT_TRUE(SameBytes(Selected(), tarvolt::DefaultPoseRecord()));

    EXPECT_EQ(testing_support::CapturedLines(),
              (std::vector<std::string>{"Pose source: serial number LHR-TRACKER-B",
                                        "Pose source: serial number LHR-TRACKER-A",
                                        "Pose source: serial number LHR-HAND", "Pose source: serial number LHR-TRACKER"}));
}

// Catches: left_hand still following the right hand, or taking any controller that is not the
// right hand; a change back to the default that is not told.
TEST_F(PoseSourceInProcess, LeftHandFollowsTheLeftHandControllerOnly)
{
    AddDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, 1, "LHR-RIGHT");
    AddDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, 2, "LHR-LEFT");
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(1)))) << "the default is the right hand";
    SetSource("left_hand");
    EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(2))));
    devices.RemoveDevice(2);
    EXPECT_TRUE(SameBytes(Selected(), tarvolt::DefaultPoseRecord())) << "no left hand: the default record";
    SetSource("right_hand");
    EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(1))));
    EXPECT_EQ(testing_support::CapturedLines(),
              (std::vector<std::string>{"Pose source: left_hand", "Pose source: right_hand"}));
}

// Catches: a bad value followed (the rifle following itself runs away; an empty or cut-off
// serial matches a wrong device), not told, or told again every second while it stays.
TEST_F(PoseSourceInProcess, EveryBadValueMeansTheRightHandAndIsToldOnce)
{
    AddDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, 1, "LHR-RIGHT");
    AddDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_Treadmill, 2, tarvolt::kRifleSerialNumber);
    const std::string tooLong(200, 'x');
    struct Bad {
        std::function<bool(sim::SettingsStore &)> set;
        std::string line;
    };
    const std::vector<Bad> bad = {
        {[](sim::SettingsStore &s) { return sim::PutInt32(s, "driver_tarvolt_rq508", "poseSource", 2); },
         "Setting poseSource = (not a string) is not a string; using the default right_hand."},
        {[](sim::SettingsStore &s) { return sim::PutString(s, "driver_tarvolt_rq508", "poseSource", ""); },
         "Setting poseSource = \"\" is empty; using the default right_hand."},
        {[&](sim::SettingsStore &s) { return sim::PutString(s, "driver_tarvolt_rq508", "poseSource", tooLong.c_str()); },
         "Setting poseSource = \"" + std::string(39, 'x') + "...\" is too long for a serial number; using the default right_hand."},
        {[](sim::SettingsStore &s) {
             return sim::PutString(s, "driver_tarvolt_rq508", "poseSource", tarvolt::kRifleSerialNumber);
         },
         "Setting poseSource = \"aaa_tarvolt_rq508_controller\" is the rifle itself; using the default right_hand."},
    };
    for (const Bad &b : bad) {
        ASSERT_TRUE(devices.EditSettings(b.set));
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(1))));
        EXPECT_TRUE(SameBytes(Selected(), InRawSpace(SamplePose(1))));
        EXPECT_EQ(testing_support::CapturedLines(), std::vector<std::string>{b.line});
        EXPECT_EQ(setting.Current().kind, tarvolt::PoseSourceKind::RightHand);
    }
}

// Catches: a relay that calls a settings interface it does not have.
TEST(PoseSourceSetting, WithoutASettingsInterfaceTheSourceIsTheRightHand)
{
    tarvolt::PoseSourceSetting setting;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(setting.Read(nullptr).kind, tarvolt::PoseSourceKind::RightHand);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

} // namespace
