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

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// Catches: giving up after a failure, pausing other than 3000 ms, printing a number instead of the
// runtime's text, skipping the shutdown between attempts, or counting a failure as success.
TEST_F(RelayInProcess, InitialisationRetriesWithTheRuntimesTextUntilItSucceeds)
{
    devices.FailInit(3, vr::VRInitError_Init_HmdNotFound);
    std::vector<uint32_t> pauses;
    ::testing::internal::CaptureStdout();
    vr::IVRSystem *system = tarvolt::InitializeOpenVr([&](uint32_t ms) { pauses.push_back(ms); }, [] { return true; });
    const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());

    EXPECT_NE(system, nullptr);
    EXPECT_EQ(pauses, (std::vector<uint32_t>{3000, 3000, 3000}));
    EXPECT_EQ(lines, std::vector<std::string>(3, "Failed to initialize OpenVR, error code: Hmd Not Found (108)"));
    EXPECT_EQ(devices.InitCalls(), 4u);
}

// Catches: a client library stand-in that prints a symbol or "Unknown error" where the official
// library has an English text, so that the relay's failure line would read otherwise than with
// the official library. The codes with texts of their own are the official library's (0, 100-140,
// 200-209, 211-213, 300-310, 400-405, 1000, 1101-1114, 2000); the others fall back to the symbol.
TEST(InitErrorTexts, EveryCodeWithAnOfficialTextHasIt)
{
    std::vector<int> withText = {0, 1000, 2000};
    for (const auto &range : {std::pair<int, int>{100, 140}, {200, 209}, {211, 213}, {300, 310}, {400, 405}, {1101, 1114}})
        for (int code = range.first; code <= range.second; ++code)
            withText.push_back(code);
    for (int code : withText) {
        const std::string text = vr::VR_GetVRInitErrorAsEnglishDescription(static_cast<vr::EVRInitError>(code));
        const std::string suffix = " (" + std::to_string(code) + ")";
        EXPECT_TRUE(text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
            << code << ": " << text;
    }
    EXPECT_STREQ(vr::VR_GetVRInitErrorAsEnglishDescription(vr::VRInitError_Driver_HmdInUse),
                 "HMD already in use by another application (205)");
    EXPECT_STREQ(vr::VR_GetVRInitErrorAsEnglishDescription(vr::VRInitError_Compositor_SharedStateIsNull),
                 "VRInitError_Compositor_SharedStateIsNull");
    EXPECT_STREQ(vr::VR_GetVRInitErrorAsEnglishDescription(vr::VRInitError_VendorSpecific_WindowsNotInDevMode),
                 "VRInitError_VendorSpecific_WindowsNotInDevMode");
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
    const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());

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
    const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());

    EXPECT_EQ(system, nullptr);
    EXPECT_EQ(lines, std::vector<std::string>(2, "Failed to initialize OpenVR, error code: Connect to VR Server Failed (301)"));
    EXPECT_EQ(devices.InitCalls(), 2u);
}

// Catches: a stand-in kinder than the runtime on a base-station setup, whose raw and standing
// spaces coincide (a relay reading the wrong one would pass), or whose room setup disagrees with
// the poses it answers in each space.
TEST_F(RelayInProcess, TheRuntimeAnswersRawAndStandingPosesUnderItsRoomSetup)
{
    vr::TrackedDevicePose_t upright;
    std::memset(static_cast<void *>(&upright), 0, sizeof upright);
    float(*m)[4] = upright.mDeviceToAbsoluteTracking.m;
    m[0][0] = m[1][1] = m[2][2] = 1.0f;
    m[0][3] = 0.2f, m[1][3] = 1.1f, m[2][3] = -0.3f;
    upright.bPoseIsValid = upright.bDeviceIsConnected = true;
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, upright);
    vr::IVRSystem *system = Init();
    ASSERT_NE(system, nullptr);

    static vr::TrackedDevicePose_t standing[vr::k_unMaxTrackedDeviceCount], raw[vr::k_unMaxTrackedDeviceCount];
    system->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, standing, vr::k_unMaxTrackedDeviceCount);
    system->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseRawAndUncalibrated, 0.0f, raw, vr::k_unMaxTrackedDeviceCount);
    EXPECT_TRUE(SameBytes(standing[1], upright));
    const vr::HmdMatrix34_t room = system->GetRawZeroPoseToStandingAbsoluteTrackingPose();
    double apart = 0.0;
    for (int i = 0; i < 3; ++i) {
        const float(*r)[4] = raw[1].mDeviceToAbsoluteTracking.m;
        const double seen = room.m[i][0] * r[0][3] + room.m[i][1] * r[1][3] + room.m[i][2] * r[2][3] + room.m[i][3];
        EXPECT_NEAR(seen, m[i][3], 1e-5) << "axis " << i;
        apart += (r[i][3] - m[i][3]) * (r[i][3] - m[i][3]);
    }
    EXPECT_GT(apart, 1.0) << "raw and standing space lie apart after a room setup";
    EXPECT_TRUE(raw[1].bPoseIsValid && raw[1].bDeviceIsConnected);
    EXPECT_FALSE(raw[0].bDeviceIsConnected) << "a slot without a device";
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
