// The shipped Windows library, loaded from its package by the simulated runtime under Wine in a
// prefix without any Bluetooth LE classes (Debian's Wine, or a Windows without them): the real
// activation fails with REGDB_E_CLASSNOTREG, and the worker must report it, start over each
// pass, and still end when the device is deactivated. ctest runs it in the build's bare prefix.
#include "SimHost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>

namespace {

constexpr std::chrono::seconds kLimit{60};  // a bound on waiting for events, not a speed check

bool WatcherClassRegistered()
{
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                      L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\"
                                      L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher",
                                      0, KEY_READ, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Catches: a platform error that escapes the worker (it would end the runtime's process), a
// failure that is not reported or is reported again every pass (about 14,000 lines an hour;
// the retries and their count once a minute are checked pass by pass in the link's tests), and
// a worker that blocks its join for ever.
TEST(WithoutTheBluetoothClasses, ReportsTheMissingWatcherOnceAndEndsOnDeactivate)
{
    ASSERT_FALSE(WatcherClassRegistered()) << "this prefix has Bluetooth classes; ctest runs this test in wineprefix-bare";
    sim::SimHost host;
    ASSERT_TRUE(host.Load(sim::SimHost::DefaultPackageRoot(false))) << host.Error();
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);

    auto &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Failed to start the advertisement watcher.", kLimit));
    host.RunFrames(10);

    host.Deactivate();  // joins the worker: returns at the end of its current pass
    EXPECT_EQ(recorder.CountLog("Failed to enter the multithreaded apartment."), 0u)
        << "CoInitializeEx works under Wine; only the Bluetooth classes are missing";
    EXPECT_EQ(recorder.CountLog("Failed to create the advertisement watcher."), 1u);
    EXPECT_EQ(recorder.CountLogPrefix("Starting the advertisement watcher."), 1u);
    EXPECT_EQ(recorder.CountLogPrefix("Failed to start the advertisement watcher."), 1u);
    host.Cleanup();
    EXPECT_EQ(recorder.CountLog("Bluetooth callbacks are still held by the platform; the driver stays loaded."), 0u)
        << "no callback was ever handed to the platform";
    host.Unload();
}

} // namespace
