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
        controller = tarvolt::deviceProvider.controller;
        ASSERT_NE(controller, nullptr);
    }
    void TearDown() override
    {
        host.Shutdown();
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

    sim::PrivateBus bus;
    std::unique_ptr<sim::FakeBluez> bluez;
    sim::SimHost host;
    tarvolt::ControllerDriver *controller = nullptr;
};

} // namespace bluez_test
