// The shipped library's whole Bluetooth session as SteamVR runs it: the runtime's half of every
// call compiled for the MSVC ABI, the driver's activation of the Windows Runtime Bluetooth
// classes of the test component (registered in the test prefix), and, in the bare prefix,
// without any such classes.
#include "ComponentRig.h"
#include "MsvcRuntimeHost.h"

namespace {

using namespace component_test;

class MsvcAbiShippedBluetooth : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ClassesRegistered()) << "the Bluetooth classes are not registered in this Wine prefix; "
                                            "run the tests through tools/wine-session.sh";
        ASSERT_NE(component.Control(), nullptr) << component.Error();
        rifle = AddRifleAmongOthers(component.Radio());
        ASSERT_TRUE(host.Load(false)) << host.Error();
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(0), vr::VRInitError_None);
    }
    void TearDown() override { PrintStateIfFailed(host.Recorder(), component.Control()); }
    void EndSession()
    {
        MustReturn("Deactivate", [&] { host.Deactivate(); });
        MustReturn("Cleanup", [&] { host.Cleanup(); });
        EXPECT_EQ(host.Recorder().CountLog(kKeptLoaded), 0u);
        ExpectNothingHeldAfterCleanup(*component.Control());
        host.Shutdown();  // unloads the library
    }

    Component component;
    msvc_abi::MsvcRuntimeHost host;
    int rifle = -1;
};

// Catches, in the product artefact as SteamVR and Windows run it: an activation path that does
// not reach the platform's classes (class names, factory or statics interfaces, IIDs), a handler
// refused by the platform's way of raising it (a null argument), a notification not read through
// the DataReader statics or not turned into the press at the next frame, a press whose bool,
// float or double arguments do not reach the MSVC-ABI input interface intact, a lost link that
// is not noticed or not recovered, a Deactivate that hangs, and delegates or objects left with
// the platform when the library is unloaded, or a library kept loaded for nothing.
TEST_F(MsvcAbiShippedBluetooth, FindsConnectsFiresDropsAndComesBack)
{
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit));
    EXPECT_EQ(WorkerLines(recorder), (std::vector<std::string>{
                                         "Tarvolt Running", "Starting the advertisement watcher.",
                                         "Found device: Rifle Q508 (Address: " + kRifleAddressText + ")",
                                         "Target device found.", "Connecting to device: " + kRifleAddressText,
                                         "Found GATT service: " + kServiceText,
                                         "Subscribing to characteristic: " + kCharacteristicText,
                                         "Successfully subscribed to notifications for characteristic: " + kCharacteristicText,
                                         "Device successfully connected."}));
    ASSERT_TRUE(recorder.WaitForLog("Connected to device: Rifle Q508", kLimit));
    EXPECT_GT(recorder.CountLogPrefix("Found device: Phone 7 (Address: "), 0u);
    host.RunFrames(3);
    ExpectTriggerPulse(host, component.Radio(), rifle);
    component.Radio().Drop(rifle);  // the driver notices, scans again and reconnects on its own
    ASSERT_TRUE(recorder.WaitForLog("Disconnected from device: Rifle Q508", kLimit));
    ASSERT_TRUE(recorder.WaitForLog("Device connection lost.", kLimit));
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit, 2));
    ExpectTriggerPulse(host, component.Radio(), rifle);
    EndSession();
    EXPECT_EQ(msvc_runtime_slot_calls(MsvcInterface_DriverInput, 1), 4u);  // the click: two presses, two releases
    EXPECT_EQ(msvc_runtime_slot_calls(MsvcInterface_DriverInput, 3), 4u);  // the value: 1.0 and 0.0, twice
}

// Catches, where Windows (or Wine) has no Bluetooth LE classes: the missing classes
// (REGDB_E_CLASSNOTREG) escaping the worker into the MSVC-built runtime, a failure that is not
// reported or is reported every pass (about 14,000 lines an hour), an apartment failure reported
// where only the classes are missing, a worker that blocks Deactivate, and a library kept loaded
// although no callback was ever handed to the platform.
TEST(MsvcAbiWithoutTheBluetoothClasses, ReportsTheMissingWatcherOnceAndEndsOnDeactivate)
{
    ASSERT_FALSE(ClassesRegistered()) << "this prefix has Bluetooth classes; ctest runs this test in wineprefix-bare";
    msvc_abi::MsvcRuntimeHost host;
    ASSERT_TRUE(host.Load(false)) << host.Error();
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(0), vr::VRInitError_None);
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Failed to start the advertisement watcher.", kLimit));
    host.RunFrames(10);
    MustReturn("Deactivate", [&] { host.Deactivate(); });
    MustReturn("Cleanup", [&] { host.Cleanup(); });
    EXPECT_EQ(recorder.CountLog("Failed to enter the multithreaded apartment."), 0u);
    EXPECT_EQ(recorder.CountLog("Failed to create the advertisement watcher."), 1u);
    EXPECT_EQ(recorder.CountLog("Starting the advertisement watcher."), 1u);
    EXPECT_EQ(recorder.CountLog("Failed to start the advertisement watcher."), 1u);
    EXPECT_EQ(recorder.CountLog(kKeptLoaded), 0u);
    host.Shutdown();
}

} // namespace
