// The shipped driver_tarvolt_rq508.dll, unchanged, loaded from its package by the simulated
// runtime under Wine, over the Windows Runtime Bluetooth classes of the test component that the
// test prefix registers: the driver's real activation path (RoActivateInstance,
// RoGetActivationFactory, the statics, the DataReader) and its whole Bluetooth session.
#include "ComponentRig.h"
#include "SimHost.h"

namespace {

using namespace component_test;

const std::string kKeptLoaded = "Bluetooth callbacks are still held by the platform; the driver stays loaded.";

class ShippedDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ClassesRegistered()) << "the Bluetooth classes are not registered in this Wine prefix; "
                                            "run the tests through tools/wine-session.sh";
        ASSERT_NE(component.Control(), nullptr) << component.Error();
        rifle = AddRifleAmongOthers(component.Radio());
        BeforeActivate();
        ASSERT_TRUE(host.Load(sim::SimHost::DefaultPackageRoot(false))) << host.Error();
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    }
    void TearDown() override
    {
        PrintStateIfFailed(host.Recorder(), component.Control());
        host.Shutdown();
    }

    virtual void BeforeActivate() {}
    virtual void AfterCleanup() {}

    // Deactivate and Cleanup as the runtime calls them, then the library goes: nothing of the
    // driver is left with the platform, so nothing keeps it loaded.
    void EndSession()
    {
        MustReturn("Deactivate", [&] { host.Deactivate(); });
        MustReturn("Cleanup", [&] { host.Cleanup(); });
        EXPECT_EQ(host.Recorder().CountLog(kKeptLoaded), 0u);
        AfterCleanup();
        ExpectNothingHeldAfterCleanup(*component.Control());
        host.Unload();
    }

    Component component;
    sim::SimHost host;
    int rifle = -1;
};

// Catches, in the product artefact as Windows would run it: an activation path that does not
// reach the platform's classes (class names, factory or statics interfaces, IIDs), a handler
// refused by the platform's way of raising it (a null argument), a notification not read through
// the DataReader statics or not turned into the press at the next frame, a lost link that is not
// noticed or not recovered, a Deactivate that hangs, and a driver that leaves delegates or
// objects with the platform when it is unloaded, or stays loaded for nothing.
TEST_F(ShippedDriver, FindsConnectsFiresDropsAndComesBack)
{
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit));
    EXPECT_EQ(WorkerLines(recorder), FirstConnectionLines());
    ASSERT_TRUE(recorder.WaitForLog("Connected to device: Rifle Q508", kLimit));
    EXPECT_GT(recorder.CountLogPrefix("Found device: Phone 7 (Address: "), 0u);

    host.RunFrames(3);
    ExpectTriggerPulse(host, component.Radio(), rifle);
    ExpectDropAndReturn(recorder, component.Radio(), rifle);
    ExpectTriggerPulse(host, component.Radio(), rifle);
    EndSession();
}

// Catches: a driver that misses the radio going away mid-session (Bluetooth switched off, the
// adapter unplugged), that stops or throws when the platform aborts the scan it starts, that
// stops running frames, or that cannot be deactivated, cleaned up and unloaded afterwards.
TEST_F(ShippedDriver, SurvivesTheRadioGoneMidSession)
{
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit));
    ExpectRadioGoneNoticed(recorder, component.Radio());
    const uint64_t frames = host.FramesRun();
    host.RunFrames(10);
    EXPECT_EQ(host.FramesRun(), frames + 10);
    EndSession();
    component.Radio().SetRadioAvailable(true);
}

// The rifle out of reach in a way that keeps the platform's device lookup running (a device that
// answers its first packets and then nothing): the operation never ends by itself.
class ShippedDriverLookupNeverEnds : public ShippedDriver {
    void BeforeActivate() override { component.Radio().Hold(rifle, sim::Step::Connect); }
};

// Catches: a Deactivate that waits for a platform operation that never finishes (SteamVR's
// shutdown would hang), an operation left running instead of canceled, a step that does not
// fail through its normal path, and a library unloaded while the platform still holds that
// operation's completion handler: its release, when the platform finally lets the operation go,
// would run code that is gone. Cleanup keeps the library loaded and says so.
TEST_F(ShippedDriverLookupNeverEnds, DeactivateCancelsItAndTheLibraryOutlivesItsHandler)
{
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Connecting to device: " + kRifleAddressText, kLimit));
    ASSERT_TRUE(component.Radio().WaitUntilHeld(rifle, sim::Step::Connect, kLimit));
    host.RunFrames(3);
    MustReturn("Deactivate", [&] { host.Deactivate(); });
    EXPECT_EQ(recorder.CountLog("Failed to connect to device: " + kRifleAddressText), 1u);
    EXPECT_EQ(recorder.CountLog(kKeptLoaded), 0u);
    MustReturn("Cleanup", [&] { host.Cleanup(); });
    EXPECT_EQ(recorder.CountLog(kKeptLoaded), 1u);
    EXPECT_EQ(component.Control()->Stats().canceled, 1);
    host.Unload();
    ASSERT_NE(GetModuleHandleW(L"driver_tarvolt_rq508.dll"), nullptr)
        << "the library was unloaded while the platform held its completion handler";
    component.Radio().Release(rifle, sim::Step::Connect);  // the platform lets it go, late
    ExpectNothingHeldAfterCleanup(*component.Control());
}

struct VersionCase {
    winrt_bluetooth::WindowsVersion version;
    const char *name;
};
void PrintTo(const VersionCase &c, std::ostream *out) { *out << c.name; }

// The rifle is held connected by another program when SteamVR starts, and does not advertise.
class ShippedDriverRifleHeldElsewhere : public ShippedDriver, public ::testing::WithParamInterface<VersionCase> {
protected:
    void BeforeActivate() override
    {
        component.Control()->SetWindows(GetParam().version);
        component.Radio().SetOtherHolder(rifle, true);
    }
    void AfterCleanup() override { component.Radio().SetOtherHolder(rifle, false); }
};

// Catches, in the product artefact: a connected rifle that is not found without an advertisement
// (Windows' connected devices not asked, the device not opened by its id), a link Windows is not
// asked to keep (no GattSession with MaintainConnection on while connected), Windows 11's short
// connection interval not asked for, or asked of a Windows 10, and a teardown that leaves the
// session on, closes an object twice, or lets go of the session or request without closing it.
TEST_P(ShippedDriverRifleHeldElsewhere, FindsItAmongTheConnectedDevicesKeepsTheLinkAndLetsGoOnce)
{
    const int requests = GetParam().version == winrt_bluetooth::WindowsVersion::Windows11 ? 1 : 0;
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit));
    EXPECT_EQ(recorder.CountLogPrefix("Found connected device: Rifle Q508 "), 1u);
    EXPECT_EQ(recorder.CountLogPrefix("Found device: Rifle Q508 "), 0u) << "the held rifle advertised";
    EXPECT_TRUE(component.Control()->WaitForStats(
        [&](const winrt_bluetooth::ComponentStats &s) { return s.sessionsMaintaining == 1 && s.requestsOpen == requests; }, kLimit))
        << "no GattSession keeping the link, or the connection-parameters request not held";
    host.RunFrames(3);
    ExpectTriggerPulse(host, component.Radio(), rifle);
    EndSession();
    const winrt_bluetooth::ComponentStats after = component.Control()->Stats();
    EXPECT_GT(after.connectedListings, 0);
    EXPECT_EQ(after.sessionsOpened, 1);
    EXPECT_EQ(after.requestsGranted, requests);
}

INSTANTIATE_TEST_SUITE_P(Windows, ShippedDriverRifleHeldElsewhere,
                         ::testing::Values(VersionCase{winrt_bluetooth::WindowsVersion::Windows10, "Windows10"},
                                           VersionCase{winrt_bluetooth::WindowsVersion::Windows11, "Windows11"}),
                         [](const ::testing::TestParamInfo<VersionCase> &info) { return std::string(info.param.name); });

} // namespace
