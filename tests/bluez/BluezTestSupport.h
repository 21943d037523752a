#pragma once
// The BlueZ link tests: the driver linked in with the BlueZ radio, a private D-Bus daemon, and the
// fake bluetoothd on it, played through the same RadioControl as the simulated radio.
#include "BluezRadio.h"
#include "FakeBluez.h"
#include "LinkTestSupport.h"
#include "PrivateBus.h"

#include "ControllerDriver.h"

#include <memory>

namespace bluez_test {

using namespace std::chrono_literals;

// Read by the test radio when the driver first uses it.
tarvolt::bluez::BluezOptions &Options();
// Whether the radio's lines reach the test's host. The radio outlives each test, and its bus thread
// may report the private bus going away while the test's host is being destroyed.
void SetRadioLog(bool open);

inline const std::vector<uint8_t> kFire = {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};

class BluezLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(bus.Start(error, RefuseBluez())) << error;
        bluez = std::make_unique<sim::FakeBluez>(bus.Address());
        ASSERT_TRUE(bluez->Start(error)) << error;
        bluez->SetAdvertiseInterval(20ms);
        Options().busAddress = bus.Address();
        Options().callTimeout = 3s;
        Options().connectTimeout = 3s;
        Options().resolveTimeout = 3s;
        link_test::InitHost(host);
        SetRadioLog(true);
        controller = tarvolt::deviceProvider.controller;
        ASSERT_NE(controller, nullptr);
    }
    void TearDown() override
    {
        host.Shutdown();
        SetRadioLog(false);
        if (bluez)
            bluez->Shutdown();
    }
    virtual bool RefuseBluez() const { return false; }

    sim::HostRecorder &Recorder() { return host.Recorder(); }
    bool WaitForLog(const std::string &line, size_t count = 1)
    {
        return Recorder().WaitForLog(line, link_test::kLimit, count);
    }
    bool WaitForLogPrefix(const std::string &prefix, size_t count = 1)
    {
        return Recorder().WaitForLogPrefix(prefix, link_test::kLimit, count);
    }
    bool ActivateAndConnect()
    {
        return controller->Activate(0) == vr::VRInitError_None && WaitForLog("Device successfully connected.");
    }
    // A trigger message from the rifle, as the driver logs it.
    bool Fire(int rifle, size_t count = 1)
    {
        bluez->Notify(rifle, kFire);
        return WaitForLog("Received data: 91 0 0 0 0 93 END", count);
    }
    void AddLamp()
    {
        sim::PeripheralScript lamp;
        lamp.name = u"Desk Lamp";
        lamp.address = 0x5A0000000001ull;
        lamp.connectable = false;
        bluez->AddPeripheral(lamp);
    }

    sim::PrivateBus bus;
    std::unique_ptr<sim::FakeBluez> bluez;
    sim::SimHost host;
    tarvolt::ControllerDriver *controller = nullptr;
};

} // namespace bluez_test
