// The pose path end to end: this test program is the simulated runtime server (it carries the
// server's name, so the relay finds it). It publishes a right-hand controller, loads the built
// driver from its package folder and activates it; the driver starts the real vistrel from that
// folder, the relay copies the controller's pose into the shared pose block, and the driver
// publishes the rifle's pose converted from it.
#include "ClientPose.h"
#include "ConvertPose.h"
#include "ProgramRun.h"
#include "SharedPose.h"
#include "SimHost.h"
#include "TrackedDevicePublisher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr auto kLimit = 30s;  // only a fail-safe: every wait ends on its condition

// A controller held upright, turned by `degrees` about the vertical, at (x, 1.1, -0.3).
vr::TrackedDevicePose_t ControllerPose(float degrees, float x)
{
    vr::TrackedDevicePose_t pose;
    std::memset(static_cast<void *>(&pose), 0, sizeof pose);
    const float c = std::cos(degrees * 3.14159265f / 180.0f), s = std::sin(degrees * 3.14159265f / 180.0f);
    float(*m)[4] = pose.mDeviceToAbsoluteTracking.m;
    m[0][0] = c, m[0][2] = s, m[1][1] = 1.0f, m[2][0] = -s, m[2][2] = c;
    m[0][3] = x, m[1][3] = 1.1f, m[2][3] = -0.3f;
    pose.vVelocity.v[0] = 0.5f;
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = pose.bDeviceIsConnected = true;
    return pose;
}

// What the relay writes when it finds no right-hand controller.
vr::TrackedDevicePose_t NoRightHand()
{
    vr::TrackedDevicePose_t pose;
    std::memset(static_cast<void *>(&pose), 0, sizeof pose);
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = pose.bDeviceIsConnected = true;
    return pose;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::RemoveLeftoverPoseBlock();
        ASSERT_TRUE(devices.Start());
        devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, ControllerPose(0, 0));
        devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, ControllerPose(40, 0.2f));
        devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, ControllerPose(-20, -0.2f));
    }

    void TearDown() override
    {
        host.Shutdown();
        if (view != nullptr)
            tarvolt::UnmapPoseBlock(view);
        tarvolt::ClosePoseBlockMapping(mapping);
        testing_support::RemoveLeftoverPoseBlock();
    }

    // The relay writes from its own process; there is no event for the block's content, so this
    // looks again every millisecond until the block holds the record.
    bool WaitForBlock(const vr::TrackedDevicePose_t &expected)
    {
        auto &block = *static_cast<tarvolt::SharedPose *>(view);
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        for (;;) {
            vr::TrackedDevicePose_t seen;
            tarvolt::AcquirePoseLock(block.lock);
            std::memcpy(static_cast<void *>(&seen), &block.pose, sizeof seen);
            tarvolt::ReleasePoseLock(block.lock);
            if (std::memcmp(&seen, &expected, sizeof seen) == 0)
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
    }

    // The relay's passes show in the table's count of pose queries; looked at every millisecond.
    bool WaitForPasses(uint64_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (devices.PoseQueries() < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    bool PublishedIs(const vr::TrackedDevicePose_t &controller)
    {
        sim::PoseRecord last;
        const vr::DriverPose_t expected = tarvolt::ConvertPose(controller);
        return host.Recorder().LastPose(last) && last.deviceIndex == 0 &&
               std::memcmp(&last.pose, &expected, sizeof expected) == 0;
    }

    sim::TrackedDevicePublisher devices;
    sim::SimHost host;
    tarvolt::PoseBlockHandle mapping = nullptr;
    void *view = nullptr;
};

// Catches: a relay missing from the package or not startable there (it needs the client library
// next to it), one that follows another device than the right hand or stops following it, a
// driver that publishes something else than the conversion of what the relay wrote, or publishes
// it late, and a relay that deactivation leaves running.
TEST_F(EndToEnd, TheRightHandControllersPoseBecomesTheRiflesPose)
{
    ASSERT_TRUE(host.Load(sim::SimHost::DefaultPackageRoot())) << host.Error();
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    ASSERT_EQ(host.Recorder().CountLog("Vistrel process started."), 1u);
    mapping = tarvolt::OpenPoseBlockMapping();
    view = tarvolt::MapPoseBlock(mapping);
    ASSERT_NE(view, nullptr);

    ASSERT_TRUE(WaitForBlock(ControllerPose(40, 0.2f)));
    host.RunFrame();
    EXPECT_TRUE(PublishedIs(ControllerPose(40, 0.2f)));

    devices.SetPose(1, ControllerPose(75, 0.35f));
    ASSERT_TRUE(WaitForBlock(ControllerPose(75, 0.35f)));
    host.RunFrame();
    EXPECT_TRUE(PublishedIs(ControllerPose(75, 0.35f)));

    // SteamVR's shutdown: the relay disconnects when asked, and the driver still ends it.
    const sim::QuitResult quit = devices.QuitClients();
    EXPECT_EQ(quit.clients, 1u);
    EXPECT_EQ(quit.killed, 0u);
    host.Deactivate();
    EXPECT_EQ(host.Recorder().CountLog("Vistrel process terminated."), 1u);
    EXPECT_EQ(host.Recorder().CountLog("Failed to terminate Vistrel process, the process may not exist."), 0u);
}

// Catches: a relay that takes the rifle itself for the hand it is mounted on. The runtime lists
// the rifle among the controllers, with its role hint (treadmill) as its role and the pose the
// driver publishes for it; relaying that pose would feed the rifle's pose back into itself.
TEST_F(EndToEnd, TheRiflesOwnPoseIsNeverRelayed)
{
    host.ListDevicesIn(&devices);
    ASSERT_TRUE(host.Load(sim::SimHost::DefaultPackageRoot())) << host.Error();
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    const sim::TrackedDeviceSlot rifle = devices.Slot(3);
    ASSERT_EQ(rifle.deviceClass, vr::TrackedDeviceClass_Controller);
    ASSERT_EQ(rifle.role, vr::TrackedControllerRole_Treadmill);
    mapping = tarvolt::OpenPoseBlockMapping();
    view = tarvolt::MapPoseBlock(mapping);
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(WaitForBlock(ControllerPose(40, 0.2f)));
    host.RunFrame();
    ASSERT_TRUE(PublishedIs(ControllerPose(40, 0.2f)));
    sim::PoseRecord published;
    ASSERT_TRUE(host.Recorder().LastPose(published));
    const vr::TrackedDevicePose_t listed = sim::ClientPoseOf(published.pose);
    ASSERT_EQ(std::memcmp(devices.Slot(3).pose, &listed, sizeof listed), 0);

    // Without the right hand the rifle is the only controller besides the left hand, and moves.
    devices.RemoveDevice(1);
    ASSERT_TRUE(WaitForBlock(NoRightHand()));
    for (int frame = 0; frame < 3; ++frame) {
        host.RunFrame();
        const uint64_t passes = devices.PoseQueries();
        ASSERT_TRUE(WaitForPasses(passes + 2));
        EXPECT_TRUE(WaitForBlock(NoRightHand()));
    }
}

} // namespace
