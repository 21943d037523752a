// The vistrel program as the driver runs it: started from the package folder, next to the client
// library, against a shared pose block, a tracked-device table and a server process that the
// test controls. What it printed, its exit code and what it left in the block are checked.
#include "ProgramRun.h"
#include "DriverLibrary.h"
#include "PoseSamples.h"
#include "Relay.h"
#include "TrackedDevicePublisher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testing_support::ProgramRun;
using testing_support::InRawSpace;
using testing_support::SamplePose;
using testing_support::SameBytes;
using testing_support::StdinMode;

namespace {

constexpr auto kLimit = 30s;  // only a fail-safe: every wait ends on its condition

// A line that names the server as it is named on this platform (vrserver.exe on Windows, vrserver
// elsewhere), followed by the rest of the line.
std::string Server(const char *rest) { return std::string(tarvolt::kServerProcessName) + rest; }

std::string RelayPath()
{
    return testing_support::ProgramIn(
        sim::DriverBinaryDirectory(testing_support::PathIn(sim::BuildDirectory(), "pkg")), "vistrel");
}

class RelayProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::RemoveLeftoverPoseBlock();
        ASSERT_TRUE(devices.Start());
    }

    void TearDown() override
    {
        if (view != nullptr)
            tarvolt::UnmapPoseBlock(view);
        tarvolt::ClosePoseBlockMapping(mapping);
        testing_support::RemoveLeftoverPoseBlock();
    }

    // The block as the driver leaves it before starting the relay: created and zeroed.
    void CreateBlock()
    {
        mapping = tarvolt::CreatePoseBlockMapping();
        view = tarvolt::MapPoseBlock(mapping);
        ASSERT_NE(view, nullptr);
        std::memset(view, 0, sizeof(tarvolt::SharedPose));
    }

    tarvolt::SharedPose &Block() { return *static_cast<tarvolt::SharedPose *>(view); }

    vr::TrackedDevicePose_t ReadBlock()
    {
        vr::TrackedDevicePose_t pose;
        tarvolt::AcquirePoseLock(Block().lock);
        std::memcpy(static_cast<void *>(&pose), &Block().pose, sizeof pose);
        tarvolt::ReleasePoseLock(Block().lock);
        return pose;
    }

    // The block and the table are changed by other processes, which tell nothing; this looks
    // again every millisecond until the condition holds.
    template <class Condition>
    static bool WaitForTable(Condition condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    bool WaitForBlock(const vr::TrackedDevicePose_t &expected)
    {
        return WaitForTable([&] { return SameBytes(ReadBlock(), expected); });
    }

    // The block as the driver made it, opened as the relay opens it.
    void OpenDriversBlock()
    {
        mapping = tarvolt::OpenPoseBlockMapping();
        view = tarvolt::MapPoseBlock(mapping);
        ASSERT_NE(view, nullptr);
    }

    // A server left over from an earlier session, without a driver.
    static void StartLeftover(ProgramRun &leftover)
    {
        testing_support::AdoptOrphans();
        ASSERT_TRUE(leftover.Start(testing_support::ProgramIn(sim::ExecutableDirectory(), "vrserver"),
                                   {"--no-driver", "--no-devices", "--until-eof"}));
        ASSERT_TRUE(leftover.WaitForLine("vrserver running without a driver", kLimit));
    }

    // A server that loads the shipped driver, which starts the relay from the package folder as
    // its child; returns the relay's process id (0 if none).
    int64_t StartServerWithDriver(ProgramRun &run)
    {
        if (!run.Start(testing_support::ProgramIn(sim::ExecutableDirectory(), "vrserver"), {"--no-devices", "--until-eof"}) ||
            !run.WaitForLine("driver log: Vistrel process started.", kLimit))
            return 0;
        return testing_support::FindChildProcess(run.Id(), "vistrel");
    }

    // A process under the server's name that lives until its standard input ends.
    void StartServer(const std::string &directory, const std::string &name)
    {
        ASSERT_TRUE(server.Start(testing_support::ProgramIn(directory, name),
                                 {"--no-driver", "--no-devices", "--until-eof"}));
        ASSERT_TRUE(server.WaitForLine("vrserver running without a driver", kLimit));
    }

    void StartRelay() { ASSERT_TRUE(relay.Start(RelayPath(), {}, {StdinMode::Closed})) << RelayPath(); }

    sim::TrackedDevicePublisher devices;
    tarvolt::PoseBlockHandle mapping = nullptr;
    void *view = nullptr;
    ProgramRun server;
    ProgramRun relay;
};

class RelayWithoutBlock : public RelayProgram, public ::testing::WithParamInterface<int> {};

// Catches: a relay that waits for ever for a key no one can press (standard input closed or
// empty; on Windows, started as the driver starts it, its hidden console), that goes on to OpenVR
// without a block, or that prints other lines or exits otherwise.
TEST_P(RelayWithoutBlock, EndsWithCode1AfterThreeLinesWithoutTouchingOpenVr)
{
    testing_support::StartOptions options;
    options.stdinMode = GetParam() == 1 ? StdinMode::Null : StdinMode::Closed;
    options.likeTheDriver = GetParam() == 2;  // no console window, no handles: no lines to read
    ASSERT_TRUE(relay.Start(RelayPath(), {}, options)) << RelayPath();
    const std::optional<int> code = relay.WaitForExit(kLimit);
    ASSERT_TRUE(code.has_value()) << "the relay did not end";
    EXPECT_EQ(*code, 1);
    if (!options.likeTheDriver) {
        EXPECT_EQ(relay.Lines(), (std::vector<std::string>{"Tarvolt Vistrel running ...",
                                                           "Failed to open file mapping object.",
                                                           "Failed to open shared memory, exiting..."}));
    }
    EXPECT_EQ(devices.InitCalls(), 0u);
}

INSTANTIATE_TEST_SUITE_P(StandardInput, RelayWithoutBlock, ::testing::Values(0, 1, 2), [](const auto &info) {
    return std::string(info.param == 0 ? "Closed" : info.param == 1 ? "NullDevice" : "StartedLikeTheDriver");
});

// Catches: a relay that reports success without a server to follow, or lingers (retrying OpenVR
// every 3 s for ever) when the server is gone; and one that leaves OpenVR initialised on its way
// out.
TEST_F(RelayProgram, EndsWithCode2WithoutServer)
{
    CreateBlock();
    // Initialised, then refused by a runtime whose server is gone: no retry after the refusal.
    for (const std::string third : {"OpenVR initialized",
                                    "Failed to initialize OpenVR, error code: Connect to VR Server Failed (301)"}) {
        ProgramRun run;
        ASSERT_TRUE(run.Start(RelayPath(), {}, {StdinMode::Closed}));
        EXPECT_EQ(run.WaitForExit(kLimit), std::optional<int>(2));
        EXPECT_EQ(run.Lines(), (std::vector<std::string>{"Tarvolt Vistrel running ...", "Shared memory opened successfully.",
                                                         third, Server(" not found."),
                                                         "SteamVR (" + Server(") not found. Exiting...")}));
        EXPECT_EQ(devices.ShutdownCalls(), 1u) << "OpenVR left initialised, or shut down twice";
        devices.FailInit(1, vr::VRInitError_IPC_ConnectFailed);
    }
}

struct ServerName {
    const char *folder;  // below the build's bin folder; empty: bin itself
    const char *name;
    bool refusedFirst;   // the first initialisation refused: one retry after the real 3 s pause
};

void PrintTo(const ServerName &server, std::ostream *os) { *os << server.name; }

class RelayWithServer : public RelayProgram, public ::testing::WithParamInterface<ServerName> {};

// Catches: a server missed because of the letter case of its name; a relay that stops at the first
// refused initialisation or prints its code instead of the runtime's text; a relay that stops following
// the right hand (a changed pose, a hand that goes and comes back); a stale record written after
// the right hand is gone; a pose source setting read only at the start (a change needing
// SteamVR's restart) or a change told but not followed by the passes; and a relay that does not
// notice the server's end, or clears the block on its way out.
TEST_P(RelayWithServer, FollowsTheRightHandAndAChangedPoseSourceUntilTheServerEnds)
{
    const std::string bin = sim::ExecutableDirectory();
    StartServer(*GetParam().folder ? testing_support::PathIn(bin, GetParam().folder) : bin, GetParam().name);
    CreateBlock();
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(1));
    if (GetParam().refusedFirst)
        devices.FailInit(1, vr::VRInitError_IPC_ConnectFailed);
    StartRelay();
    ASSERT_TRUE(relay.WaitForLine("OpenVR initialized", kLimit));
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(1))));

    devices.SetPose(1, SamplePose(2));
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(2))));

    devices.RemoveDevice(1);
    devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, SamplePose(3));
    EXPECT_TRUE(WaitForBlock(tarvolt::DefaultPoseRecord()));

    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(4));
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(4))));

    devices.SetDevice(3, vr::TrackedDeviceClass_GenericTracker, vr::TrackedControllerRole_Invalid, SamplePose(5));
    devices.SetSerial(3, "LHR-RIFLE-MOUNT");
    ASSERT_TRUE(devices.EditSettings(
        [](sim::SettingsStore &s) { return sim::PutString(s, "driver_tarvolt_rq508", "poseSource", "LHR-RIFLE-MOUNT"); }));
    ASSERT_TRUE(relay.WaitForLine("Pose source: serial number LHR-RIFLE-MOUNT", kLimit));
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(5))));

    server.CloseStdin();
    ASSERT_EQ(server.WaitForExit(kLimit), std::optional<int>(0));
    const std::optional<int> code = relay.WaitForExit(kLimit);
    ASSERT_TRUE(code.has_value()) << "the relay did not notice the server's end";
    EXPECT_EQ(*code, 0);
    std::vector<std::string> lines = {"Tarvolt Vistrel running ...", "Shared memory opened successfully.",
                                      "OpenVR initialized", "Pose source: serial number LHR-RIFLE-MOUNT",
                                      Server(" has exited. Exiting...")};
    if (GetParam().refusedFirst)
        lines.insert(lines.begin() + 2, "Failed to initialize OpenVR, error code: Connect to VR Server Failed (301)");
    EXPECT_EQ(relay.Lines(), lines);
    EXPECT_EQ(devices.InitCalls(), GetParam().refusedFirst ? 2u : 1u);
    EXPECT_EQ(devices.DoubleInits(), 0u);
    EXPECT_TRUE(SameBytes(ReadBlock(), InRawSpace(SamplePose(5))));
    EXPECT_EQ(devices.ShutdownCalls(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Names, RelayWithServer,
                         ::testing::Values(ServerName{"", "vrserver", false}, ServerName{"other-case", "VRServer", true}),
                         [](const auto &info) { return std::string(info.param.name); });

// Catches: a relay that waits without bound for a pose lock that its holder (a driver that died)
// will never free, and so outlives the server; and a relay that writes without the lock.
TEST_F(RelayProgram, AStuckPoseLockDoesNotHideTheServersEnd)
{
    StartServer(sim::ExecutableDirectory(), "vrserver");
    CreateBlock();
    Block().lock.store(1);
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(1));
    StartRelay();
    ASSERT_TRUE(relay.WaitForLine("OpenVR initialized", kLimit));
    // A pass has begun once the poses were asked for; it then waits for the lock.
    ASSERT_TRUE(WaitForTable([&] { return devices.PoseQueries() > 0; }));

    server.CloseStdin();
    const std::optional<int> code = relay.WaitForExit(kLimit);
    ASSERT_TRUE(code.has_value()) << "the relay did not notice the server's end";
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(relay.Lines().back(), Server(" has exited. Exiting..."));
    vr::TrackedDevicePose_t untouched;
    std::memset(static_cast<void *>(&untouched), 0, sizeof untouched);
    EXPECT_TRUE(SameBytes(Block().pose, untouched));
}

// Catches: a relay that never reads its events, so that SteamVR's quit request finds it still
// connected and SteamVR waits for it and kills it at every exit (possibly holding the pose lock);
// one that takes another event (a process quitting, a quit acknowledged elsewhere, a role change)
// for the quit request; one that keeps calling OpenVR after VR_Shutdown, initialises twice, or
// ends before its server has.
TEST_F(RelayProgram, AnswersTheServersQuitRequestAndEndsWithTheServer)
{
    StartServer(sim::ExecutableDirectory(), "vrserver");
    CreateBlock();
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(1));
    StartRelay();
    ASSERT_TRUE(WaitForBlock(InRawSpace(SamplePose(1))));

    for (uint32_t type : {vr::VREvent_ProcessQuit, vr::VREvent_QuitAcknowledged, vr::VREvent_TrackedDeviceRoleChanged})
        devices.PostEvent(type);
    EXPECT_TRUE(WaitForTable([&] { return devices.PendingEvents() == 0; })) << "the relay reads no events";
    devices.SetPose(1, SamplePose(2));
    EXPECT_TRUE(WaitForBlock(InRawSpace(SamplePose(2))));
    ASSERT_EQ(devices.ConnectedClients(), 1u);

    const sim::QuitResult quit = devices.QuitClients();
    EXPECT_EQ(quit.clients, 1u);
    EXPECT_EQ(quit.acknowledged, 1u);
    EXPECT_EQ(quit.killed, 0u);
    EXPECT_EQ(relay.WaitForExit(0ms), std::nullopt) << "the relay ended before its server";

    server.CloseStdin();
    EXPECT_EQ(relay.WaitForExit(kLimit), std::optional<int>(0));
    EXPECT_EQ(relay.Lines(), (std::vector<std::string>{"Tarvolt Vistrel running ...",
                                                       "Shared memory opened successfully.", "OpenVR initialized",
                                                       Server(" has exited. Exiting...")}));
    EXPECT_EQ(devices.ShutdownCalls(), 1u);
    EXPECT_EQ(devices.CallsAfterShutdown(), 0u);
    EXPECT_EQ(devices.DoubleInits(), 0u);
    EXPECT_TRUE(SameBytes(ReadBlock(), InRawSpace(SamplePose(2))));
}

// Catches: a relay left running, or spinning, after the server that started it through the
// driver died without deactivating it, or one that clears the block on its way out; and one that
// follows a server left over from an earlier session (the first of the name in the process list)
// instead of the one that started it, and so goes on after its own server has died, leaving the
// rifle's pose frozen in the next session.
TEST_F(RelayProgram, FollowsTheServerThatStartedItNotAnEarlierOne)
{
    ProgramRun leftover;
    StartLeftover(leftover);
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, SamplePose(1));
    testing_support::ProcessWatch relayEnd;
    ASSERT_TRUE(relayEnd.Open(StartServerWithDriver(server)));
    OpenDriversBlock();
    ASSERT_TRUE(WaitForBlock(InRawSpace(SamplePose(1))));

    server.Kill();
    EXPECT_EQ(relayEnd.WaitForExit(kLimit), std::optional<int>(0)) << "the relay follows the leftover server";
    EXPECT_TRUE(SameBytes(ReadBlock(), InRawSpace(SamplePose(1))));
    leftover.CloseStdin();
    EXPECT_EQ(leftover.WaitForExit(kLimit), std::optional<int>(0));
}

// Catches: a relay whose server died while its initialisation was still under way (VR_Init can
// take seconds) and that then takes up a leftover server instead of ending with code 2.
TEST_F(RelayProgram, DoesNotTakeUpAnotherServerWhenItsOwnDiesDuringInitialisation)
{
    ProgramRun leftover;
    StartLeftover(leftover);
    devices.DelayInit(std::chrono::duration_cast<std::chrono::milliseconds>(kLimit * 4));
    testing_support::ProcessWatch relayEnd;
    ASSERT_TRUE(relayEnd.Open(StartServerWithDriver(server)));
    ASSERT_TRUE(WaitForTable([&] { return devices.InitCalls() > 0; })) << "the relay never initialised";

    server.Kill();
    devices.DelayInit(0ms);  // its initialisation answers only now, after its server has gone
    EXPECT_EQ(relayEnd.WaitForExit(kLimit), std::optional<int>(2)) << "the relay took up the leftover server";
    EXPECT_EQ(devices.ConnectedClients(), 0u);
    leftover.CloseStdin();
    EXPECT_EQ(leftover.WaitForExit(kLimit), std::optional<int>(0));
}

} // namespace
