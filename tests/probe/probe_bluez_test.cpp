// The shipped Linux tarvolt-probe on its BlueZ radio, against the fake bluetoothd on a private
// bus that the probe is pointed at as its system bus (DBUS_SYSTEM_BUS_ADDRESS).
#include "FakeBluez.h"
#include "PrivateBus.h"
#include "ProbeProgram.h"

#include <cstdlib>

namespace {

using namespace probe_test;

class ShippedProbeOnBluez : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(bus.Start(error)) << error;
        bluez = std::make_unique<sim::FakeBluez>(bus.Address());
        ASSERT_TRUE(bluez->Start(error)) << error;
        bluez->SetAdvertiseInterval(20ms);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.Address().c_str(), 1);
    }
    void TearDown() override
    {
        if (bluez)
            bluez->Shutdown();
    }
    sim::PrivateBus bus;
    std::unique_ptr<sim::FakeBluez> bluez;
};

// Catches: a shipped watch that does not find the rifle, connect and subscribe through
// bluetoothd as the driver does, misses the rifle's notifications, does not end on Ctrl-C with
// its result, or leaves the rifle connected after it.
TEST_F(ShippedProbeOnBluez, WatchConnectsShowsTheTriggerAndLetsTheRifleGo)
{
    const int rifle = bluez->AddPeripheral(sim::RifleScript(0xAABBCCDDEEFFull));
    Probe probe;
    ASSERT_TRUE(probe.Start(ShippedProbe(), {"watch"}));
    ASSERT_TRUE(probe.WaitFor("state   connected and subscribed (AA:BB:CC:DD:EE:FF)"));
    bluez->Notify(rifle, {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D});
    ASSERT_TRUE(probe.WaitFor("action  fire  5B 00 00 00 00 5D"));
    ASSERT_TRUE(probe.Interrupt());
    EXPECT_EQ(probe.Exit(), 0);
    EXPECT_EQ(probe.Report().back(), "Stopped by Ctrl-C. The rifle connected 1 time and sent 1 action.");
    // The device was let go: Disconnect, once.
    EXPECT_TRUE(bluez->WaitForStats([](const sim::RadioStats &s) { return s.closes == 1; }, kLimit));
}

// Catches: what BlueZ says is missing (an adapter, its power, bluetoothd, the bus) not reaching
// the user as the reason for exit code 2.
TEST_F(ShippedProbeOnBluez, WhatIsMissingIsTheReasonForExit2)
{
    const auto verdictOf = [](const char *command) {
        Probe probe;
        EXPECT_TRUE(probe.Start(ShippedProbe(), {command}));
        EXPECT_EQ(probe.Exit(), 2) << command;
        return probe.Report().empty() ? std::string() : probe.Report().back();
    };
    bluez->SetPowered(false);
    EXPECT_TRUE(Contains(verdictOf("scan"), "the Bluetooth adapter is off (the Bluetooth adapter /org/bluez/hci0 is powered off)"));
    bluez->RemoveAdapter();
    EXPECT_TRUE(Contains(verdictOf("watch"), "no Bluetooth adapter (bluetoothd has no Bluetooth adapter)"));
    bluez->Vanish();
    EXPECT_TRUE(Contains(verdictOf("scan"), "the Bluetooth stack is missing (bluetoothd is not running"));
    bus.Stop();
    EXPECT_TRUE(Contains(verdictOf("watch"), "the Bluetooth stack is missing (cannot connect to the system bus"));
}

} // namespace
