// The shipped Linux library, loaded from its package folder as SteamVR loads it: its radio is
// BlueZ on the system bus, which these tests point at a private bus (DBUS_SYSTEM_BUS_ADDRESS, as
// SteamVR's container runtime does for the real one).
#include "DriverUnderTest.h"
#include "FakeBluez.h"
#include "LinkLog.h"
#include "PrivateBus.h"

#include <cstdlib>

namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kLimit = 20s;  // only ever reached by a failing test

// Catches: a shipped library that does not reach the rifle through bluetoothd, or a trigger
// message that does not become a press at the next frame; and an unload that leaves the bus
// loop running in unmapped code.
TEST(ShippedLibraryOnLinux, FindsTheRifleThroughBluezAndFires)
{
    sim::PrivateBus bus;
    std::string error;
    ASSERT_TRUE(bus.Start(error)) << error;
    sim::FakeBluez bluez(bus.Address());
    ASSERT_TRUE(bluez.Start(error)) << error;
    bluez.SetAdvertiseInterval(20ms);
    const int rifle = bluez.AddPeripheral(sim::RifleScript(0xAABBCCDDEEFFull));
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.Address().c_str(), 1);

    sim::SimHost host;
    testing_support::PrepareHost(host);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit));
    host.RunFrames(2);
    bluez.Notify(rifle, {0x5B, 0x01, 0x02, 0x03, 0x04, 0x5D});
    ASSERT_TRUE(recorder.WaitForLog("Received data: 91 1 2 3 4 93 END", kLimit));
    host.RunFrame();
    bool pressed = false;
    for (const sim::ComponentUpdate &u : recorder.Updates())
        pressed |= u.name == "/input/fire/click" && u.frame == host.FramesRun() && u.boolValue;
    EXPECT_TRUE(pressed);
    host.Shutdown();  // deactivates and unloads the library
    EXPECT_TRUE(bluez.WaitForStats([](const sim::RadioStats &s) { return s.closes == 1; }, kLimit));
}

} // namespace
