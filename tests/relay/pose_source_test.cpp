// Which device the relay follows: the poseSource setting read through the client library's
// settings interface, and the pass's selection by hand or by serial number, in this process
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

class PoseSourceInProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(devices.Start());
        system = tarvolt::InitializeOpenVr([](uint32_t) {}, [] { return true; });
        ASSERT_NE(system, nullptr);
        settings = vr::VRSettings();
        ASSERT_NE(settings, nullptr);
    }
    void TearDown() override { vr::VR_Shutdown(); }

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

    sim::TrackedDevicePublisher devices;
    vr::IVRSystem *system = nullptr;
    vr::IVRSettings *settings = nullptr;
    tarvolt::PoseSourceSetting setting;
    tarvolt::PassStorage storage{};
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
