#pragma once
// Shared pieces of the end-to-end measurements: the simulated host with the driver built with the
// simulated radio, brought up until the rifle is connected, and small statistics helpers. Each
// measurement runs in a process of its own, because the driver's library-wide state (the run
// flag is only ever cleared) belongs to one load of the library.
#include "FakeBluez.h"
#include "PrivateBus.h"
#include "RadioControl.h"
#include "SimHost.h"

#include <cstdlib>
#include <memory>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

using namespace std::chrono_literals;
using Clock = sim::Clock;
// Only ever reached when something is broken.
inline constexpr std::chrono::milliseconds kE2eLimit = 20s;

// The shipped driver's BlueZ path: a private D-Bus daemon with the fake bluetoothd on it, which the
// driver takes for the system bus. Kept for the life of the process.
inline sim::RadioControl *StartFakeBluez()
{
    static sim::PrivateBus bus;
    static std::unique_ptr<sim::FakeBluez> bluez;
    std::string error;
    if (!bus.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return nullptr;
    }
    bluez = std::make_unique<sim::FakeBluez>(bus.Address());
    if (!bluez->Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return nullptr;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.Address().c_str(), 1);
    return bluez.get();
}

// Loads pkg-sim (or, through BlueZ, the shipped driver of pkg), adds the rifle, initialises and
// activates, and waits for the connection. Returns the radio's control, or null after printing
// why not.
inline sim::RadioControl *BringUp(sim::SimHost &host, int &rifle, bool bluez = false)
{
    sim::RadioControl *radio = bluez ? StartFakeBluez() : nullptr;
    if (bluez && radio == nullptr)
        return nullptr;
    if (!host.Load(sim::SimHost::DefaultPackageRoot(!bluez))) {
        std::fprintf(stderr, "cannot load the driver: %s\n", host.Error().c_str());
        return nullptr;
    }
    if (!bluez) {
        auto entry = reinterpret_cast<sim::SimRadioEntry>(host.Symbol(sim::kSimRadioExport));
        if (entry == nullptr) {
            std::fprintf(stderr, "the driver has no simulated radio\n");
            return nullptr;
        }
        radio = entry();
    }
    rifle = radio->AddPeripheral(sim::RifleScript(0xAABBCCDDEEFFull));
    if (host.Init() != vr::VRInitError_None || host.Activate() != vr::VRInitError_None) {
        std::fprintf(stderr, "the driver did not come up\n");
        return nullptr;
    }
    if (!host.Recorder().WaitForLog("Device successfully connected.", kE2eLimit)) {
        std::fprintf(stderr, "the rifle was not connected\n");
        return nullptr;
    }
    return radio;
}

// The q-quantile (0..1) of the values, nearest rank.
inline double Quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    size_t rank = static_cast<size_t>(q * static_cast<double>(values.size()) + 0.5);
    rank = std::min(std::max<size_t>(rank, 1), values.size());
    return values[rank - 1];
}

inline void Row(const std::string &label, const std::string &value)
{
    std::printf("ROW\t%s\t%s\n", label.c_str(), value.c_str());
    std::fflush(stdout);
}

inline std::string Format(const char *format, double a, double b = 0.0, double c = 0.0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

} // namespace bench
