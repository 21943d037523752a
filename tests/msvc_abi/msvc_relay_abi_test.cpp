// The vistrel program against a client library whose exports and IVRSystem are compiled for the
// MSVC ABI, as the official openvr_api.dll is: a copy of the built program in the test package
// pkg-msvcabi/, next to that library (which answers from the simulated runtime through the g++
// stand-in). Every call the relay makes into OpenVR crosses the real ABI boundary; the pose must
// still arrive in the shared pose block.
#include "DriverLibrary.h"
#include "PoseSamples.h"
#include "ProgramRun.h"
#include "TrackedDevicePublisher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testing_support::ProgramRun;
using testing_support::InRawSpace;
using testing_support::SamplePose;
using testing_support::SameBytes;

namespace {

constexpr auto kLimit = 30s;  // only a fail-safe: every wait ends on its condition

class MsvcAbiRelay : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::RemoveLeftoverPoseBlock();
        ASSERT_TRUE(devices.Start());
        mapping = tarvolt::CreatePoseBlockMapping();
        view = tarvolt::MapPoseBlock(mapping);
        ASSERT_NE(view, nullptr);
        std::memset(view, 0, sizeof(tarvolt::SharedPose));
    }

    void TearDown() override
    {
        if (view != nullptr)
            tarvolt::UnmapPoseBlock(view);
        tarvolt::ClosePoseBlockMapping(mapping);
        testing_support::RemoveLeftoverPoseBlock();
    }

    vr::TrackedDevicePose_t ReadBlock()
    {
        auto &block = *static_cast<tarvolt::SharedPose *>(view);
        vr::TrackedDevicePose_t pose;
        tarvolt::AcquirePoseLock(block.lock);
        std::memcpy(static_cast<void *>(&pose), &block.pose, sizeof pose);
        tarvolt::ReleasePoseLock(block.lock);
        return pose;
    }

    // The relay writes from its own process; there is no event for the block's content, so this
    // looks again every millisecond until the block holds the record.
    bool WaitForBlock(const vr::TrackedDevicePose_t &expected)
    {
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (!SameBytes(ReadBlock(), expected)) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // SteamVR's server, then vistrel from the MSVC-ABI package.
    void StartServerAndRelay(const std::string &relayLine)
    {
        ASSERT_TRUE(server.Start(testing_support::ProgramIn(sim::ExecutableDirectory(), "vrserver"),
                                 {"--no-driver", "--no-devices", "--until-eof"}));
        ASSERT_TRUE(server.WaitForLine("vrserver running without a driver", kLimit));
        const std::string package = testing_support::PathIn(sim::BuildDirectory(), "pkg-msvcabi");
        const std::string relayPath = testing_support::ProgramIn(sim::DriverBinaryDirectory(package), "vistrel");
        ASSERT_TRUE(relay.Start(relayPath, {}, {testing_support::StdinMode::Closed})) << relayPath;
        ASSERT_TRUE(relay.WaitForLine(relayLine, kLimit));
    }
    // The server ends; the relay ends with it and makes no call after its shutdown.
    void EndServer()
    {
        server.CloseStdin();
        ASSERT_EQ(server.WaitForExit(kLimit), std::optional<int>(0));
        EXPECT_EQ(relay.WaitForExit(kLimit), std::optional<int>(0));
        EXPECT_EQ(devices.CallsAfterShutdown(), 0u);
    }

    sim::TrackedDevicePublisher devices;
    tarvolt::PoseBlockHandle mapping = nullptr;
    void *view = nullptr;
    ProgramRun server, relay;
};

// Catches: a relay whose OpenVR calls do not survive the MSVC ABI of the client library (an
// initialisation result, an interface check, a pose query or an event read wrongly, or a call
// landing in another slot), so that the pose never arrives, the wrong controller's arrives, the
// server's quit request goes unanswered, or the relay does not end with the server.
TEST_F(MsvcAbiRelay, ThePoseArrivesThroughAnMsvcBuiltClientLibrary)
{
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, SamplePose(7));
    devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(1));
    devices.FailInit(1, vr::VRInitError_IPC_ConnectFailed);
    StartServerAndRelay("OpenVR initialized");
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(1))));
    devices.SetPose(2, SamplePose(2));
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(2))));

    const sim::QuitResult quit = devices.QuitClients();
    EXPECT_EQ(quit.clients, 1u);
    EXPECT_EQ(quit.acknowledged, 1u);
    EXPECT_EQ(quit.killed, 0u);
    EndServer();
    EXPECT_EQ(relay.Lines(), (std::vector<std::string>{
                                 "Tarvolt Vistrel running ...", "Shared memory opened successfully.",
                                 "Failed to initialize OpenVR, error code: Connect to VR Server Failed (301)",
                                 "OpenVR initialized", "vrserver.exe has exited. Exiting..."}));
    EXPECT_EQ(devices.InitCalls(), 2u);
    EXPECT_EQ(devices.ShutdownCalls(), 1u);  // the refused attempt left nothing to shut down
    EXPECT_GT(devices.PoseQueries(), 0u);
}

// Catches: a relay whose settings read or serial look-up does not survive the MSVC ABI of the
// client library (the setting's text or error, a device's class or serial number read wrongly),
// so that the tracker the user named is never followed.
TEST_F(MsvcAbiRelay, ATrackerNamedBySerialNumberIsFollowedThroughAnMsvcBuiltClientLibrary)
{
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(1));
    devices.SetDevice(4, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, SamplePose(4));
    devices.SetSerial(4, "LHR-MOUNT");
    ASSERT_TRUE(devices.EditSettings(
        [](sim::SettingsStore &s) { return sim::PutString(s, "driver_tarvolt_rq508", "poseSource", "LHR-MOUNT"); }));
    StartServerAndRelay("Pose source: serial number LHR-MOUNT");
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(4))));
    EndServer();
}

} // namespace
