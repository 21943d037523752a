// The pose path end to end: this program is the simulated runtime server (it carries the server's
// name, so the relay finds it); the built driver, loaded from its package, starts the real vistrel,
// which copies the right-hand controller's pose into the pose block the driver publishes from.
#include "ClientEnding.h"
#include "ClientPose.h"
#include "ConvertPose.h"
#include "ProgramRun.h"
#include "SharedPose.h"
#include "SimHost.h"
#include "TrackedDevicePublisher.h"
#include "TrackingSpaces.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto kLimit = 30s;  // only a fail-safe: every wait ends on its condition

// A library folder as players name theirs: Cyrillic, Japanese, simplified Chinese and Korean.
// Each legacy ANSI code page lacks at least one of these scripts.
const std::string kForeignFolder = u8"Игры_ゲーム_游戏_게임";

#if defined(_WIN32)
// Whether a name comes through the ANSI code page unchanged: only then can a narrow Win32 call
// handle a path that contains it.
bool SurvivesAnsiCodePage(const std::string &name)
{
    if (GetACP() == CP_UTF8)
        return true;
    const std::wstring wide = sim::Utf8ToWide(name);
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &usedDefault);
    return !usedDefault;
}
#endif

// The build's package copied into a folder of that name below the build tree; "" on failure.
std::string ForeignPackageRoot()
{
    const std::string root = testing_support::PathIn(sim::BuildDirectory(), kForeignFolder);
    const std::string package = testing_support::PathIn(root, "tarvolt_rq508");
    if (!testing_support::MakeDirectories(package) ||
        !testing_support::CopyFolder(testing_support::PathIn(sim::SimHost::DefaultPackageRoot(), "tarvolt_rq508"),
                                     package))
        return {};
    return root;
}

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

std::string Joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += "\n  " + line;
    return text;
}

template <class Done> bool PollUntil(Done done)
{
    for (const auto deadline = std::chrono::steady_clock::now() + kLimit; !done(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    return true;
}

// What the relay writes when it finds no right-hand controller.
vr::TrackedDevicePose_t NoRightHand()
{
    vr::TrackedDevicePose_t pose;
    std::memset(static_cast<void *>(&pose), 0, sizeof pose);
    pose.eTrackingResult = vr::TrackingResult_Uninitialized;
    pose.bPoseIsValid = false;
    pose.bDeviceIsConnected = true;
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

    // The relay writes from its own process; nothing signals the block's content, so this looks
    // again every millisecond until the block holds the record.
    bool WaitForBlock(const vr::TrackedDevicePose_t &expected)
    {
        auto &block = *static_cast<tarvolt::SharedPose *>(view);
        return PollUntil([&] {
            vr::TrackedDevicePose_t seen;
            tarvolt::AcquirePoseLock(block.lock);
            std::memcpy(static_cast<void *>(&seen), &block.pose, sizeof seen);
            tarvolt::ReleasePoseLock(block.lock);
            return std::memcmp(&seen, &expected, sizeof seen) == 0;
        });
    }

    // The controller's pose as the relay reads it: in raw tracking space.
    static vr::TrackedDevicePose_t InRawSpace(vr::TrackedDevicePose_t pose)
    {
        sim::TransformPose(sim::Inverse(sim::RoomSetupStandingFromRaw()), pose);
        return pose;
    }

    // The driver published the conversion of the controller's raw pose, and applications see
    // the rifle where the controller is (standing space), 0.25 m along the controller's own z.
    bool PublishedIs(const vr::TrackedDevicePose_t &controller)
    {
        sim::PoseRecord last;
        if (!host.Recorder().LastPose(last) || last.deviceIndex != 0)
            return false;
        const vr::DriverPose_t expected = tarvolt::ConvertPose(InRawSpace(controller));
        EXPECT_EQ(std::memcmp(&last.pose, &expected, sizeof expected), 0) << "not the conversion of the raw pose";
        const float(*m)[4] = controller.mDeviceToAbsoluteTracking.m;
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(last.standing[i][3], m[i][3] + 0.25 * m[i][2], 1e-5) << "axis " << i;
        return std::memcmp(&last.pose, &expected, sizeof expected) == 0;
    }

    std::string DriverLog() { return Joined(host.Recorder().LogTexts()); }

    // The driver loaded from the package and activated; the relay it started has copied the
    // controller's pose, and the next frame publishes its conversion.
    void StartAndPublishTheFirstPose()
    {
        ASSERT_TRUE(host.Load(sim::SimHost::DefaultPackageRoot())) << host.Error();
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(), vr::VRInitError_None);
        ASSERT_EQ(host.Recorder().CountLog("Vistrel process started."), 1u) << "driver log:" << DriverLog();
        mapping = tarvolt::OpenPoseBlockMapping();
        view = tarvolt::MapPoseBlock(mapping);
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(WaitForBlock(InRawSpace(ControllerPose(40, 0.2f))));
        host.RunFrame();
        ASSERT_TRUE(PublishedIs(ControllerPose(40, 0.2f)));
    }
    void MoveAndExpectPublished(const vr::TrackedDevicePose_t &controller)
    {
        devices.SetPose(1, controller);
        ASSERT_TRUE(WaitForBlock(InRawSpace(controller)));
        host.RunFrame();
        EXPECT_TRUE(PublishedIs(controller));
    }

    sim::TrackedDevicePublisher devices;
    sim::SimHost host;
    tarvolt::PoseBlockHandle mapping = nullptr;
    void *view = nullptr;
};

// Catches: a relay missing from the package or not startable there, following another device than
// the right hand, or the rifle itself (listed as a treadmill-role controller with its own pose); a
// pose published late, torn at an irregular frame pace, or other than the conversion of the raw
// record (a standing pose is displaced by the room setup); a crashed relay leaving the rifle frozen
// and valid, its end not logged, or not restarted; and a relay left running at the end.
TEST_F(EndToEnd, TheRightHandControllersPoseBecomesTheRiflesPose)
{
#if defined(_WIN32)
    const std::string crashed = "Vistrel process ended with exit code 0xC0000005.";
#else
    const std::string crashed = "Vistrel process ended by signal 11.";
#endif
    host.ListDevicesIn(&devices);
    StartAndPublishTheFirstPose();
    MoveAndExpectPublished(ControllerPose(75, 0.35f));

    const size_t before = host.Recorder().PoseCount();
    host.SetPacing(sim::Pacing::Irregular, 7);
    host.RunFor(std::chrono::milliseconds(400));
    const std::vector<sim::PoseRecord> poses = host.Recorder().Poses();
    ASSERT_GT(poses.size(), before);
    const vr::DriverPose_t steady = tarvolt::ConvertPose(InRawSpace(ControllerPose(75, 0.35f)));
    for (size_t i = before; i < poses.size(); ++i)
        EXPECT_EQ(std::memcmp(&poses[i].pose, &steady, sizeof steady), 0) << "frame " << poses[i].frame;

    const sim::TrackedDeviceSlot rifle = devices.Slot(3);
    ASSERT_EQ(rifle.deviceClass, vr::TrackedDeviceClass_Controller);
    ASSERT_EQ(rifle.role, vr::TrackedControllerRole_Treadmill);
    vr::TrackedDevicePose_t listed = sim::ClientPoseOf(poses.back().pose);  // in standing space, as applications see it
    sim::TransformPose(sim::RoomSetupStandingFromRaw(), listed);
    ASSERT_EQ(std::memcmp(rifle.pose, &listed, sizeof listed), 0);

    ASSERT_EQ(sim::EndClients(devices, sim::ClientEnd::Crash), 1u);
    ASSERT_TRUE(host.Recorder().WaitForLogPrefix("Vistrel process ended", kLimit)) << DriverLog();
    EXPECT_EQ(host.Recorder().CountLog(crashed), 1u) << DriverLog();
    host.RunFrame();
    sim::PoseRecord last;
    ASSERT_TRUE(host.Recorder().LastPose(last));
    EXPECT_FALSE(last.pose.poseIsValid) << "the rifle stays frozen where the ended relay left it";
    ASSERT_TRUE(host.Recorder().WaitForLog("Vistrel process restarted.", kLimit)) << DriverLog();
    MoveAndExpectPublished(ControllerPose(40, 0.2f));

    // Without the right hand the rifle is the only controller besides the left hand, and moves.
    devices.RemoveDevice(1);
    ASSERT_TRUE(WaitForBlock(NoRightHand()));
    for (int frame = 0; frame < 3; ++frame) {
        host.RunFrame();
        const uint64_t passes = devices.PoseQueries();
        ASSERT_TRUE(PollUntil([&] { return devices.PoseQueries() >= passes + 2; }));
        EXPECT_TRUE(WaitForBlock(NoRightHand()));
    }

    const sim::QuitResult quit = devices.QuitClients();
    EXPECT_EQ(quit.clients, 1u);
    EXPECT_EQ(quit.killed, 0u);
    host.Deactivate();
    EXPECT_EQ(host.Recorder().CountLog("Vistrel process terminated."), 1u);
    EXPECT_EQ(host.Recorder().CountLog("Failed to terminate Vistrel process, the process may not exist."), 0u);
}

// Catches: the simulated server's arguments taken through the ANSI code page (a --root named
// outside it would not load), and a driver that reads its own path or starts the relay through
// the ANSI code page ("CreateProcess failed." and no pose for the rifle), where the runtime loaded
// it by its wide path. Natively the path is bytes, and nothing on the way may mangle them.
TEST(ServerProgram, TakesARootNamedOutsideTheAnsiCodePageAndRelaysThePose)
{
#if defined(_WIN32)
    ASSERT_FALSE(SurvivesAnsiCodePage(kForeignFolder))
        << "code page " << GetACP() << " holds the folder's name: the test would not tell wide calls from narrow ones";
#endif
    testing_support::RemoveLeftoverPoseBlock();
    const std::string root = ForeignPackageRoot();
    ASSERT_FALSE(root.empty()) << "the package could not be copied";
    testing_support::ProgramRun server;
    const std::string program =
        testing_support::ProgramIn(testing_support::PathIn(sim::BuildDirectory(), "bin"), "vrserver");
    ASSERT_TRUE(server.Start(program, {"--root", root, "--until-eof"}));
    ASSERT_TRUE(server.WaitForLine("Loading the driver from " + root, kLimit)) << Joined(server.Lines());
    // Whichever comes first: the relay's start, its failure, or the driver not loading at all.
    const std::string started = "driver log: Vistrel process started.";
    server.WaitForLineWhere(
        [&](const std::string &line) {
            return line == started || line == "driver log: CreateProcess failed." || line.rfind("Cannot load", 0) == 0;
        },
        kLimit);
    ASSERT_TRUE(server.WaitForLine(started, 0s)) << Joined(server.Lines());
    // The rifle's pose is valid only once the relay has copied the controller's into the block.
    EXPECT_TRUE(server.WaitForLineWhere(
        [](const std::string &line) { return line.rfind("pose: ", 0) == 0 && line.find("not valid") == std::string::npos; },
        kLimit))
        << Joined(server.Lines());
    server.CloseStdin();
    EXPECT_EQ(server.WaitForExit(kLimit), std::optional<int>(0));
    EXPECT_TRUE(server.WaitForLine("driver log: Vistrel process terminated.", 0s)) << Joined(server.Lines());
    testing_support::RemoveLeftoverPoseBlock();
}

} // namespace
