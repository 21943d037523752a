#pragma once
// Shared by the Bluetooth link's tests: a host that records the driver's log (initialised, its
// device not activated), the rifle as the simulated radio plays it, and the log lines that name
// its UUIDs and address.
#include "DeviceProvider.h"
#include "LinkLog.h"
#include "RadioControl.h"
#include "SimHost.h"
#include "bluetooth/Connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace link_test {

using namespace std::chrono_literals;
inline constexpr std::chrono::milliseconds kLimit = 10s;  // only ever reached by a failing test

inline const std::string kServiceText = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
inline const std::string kCharacteristicText = "{0000FFF1-0000-1000-8000-00805F9B34FB}";
inline constexpr uint64_t kRifleAddress = 0xAABBCCDDEEFFull;
inline const std::string kRifleAddressText = "187723572702975";
inline constexpr sim::Guid kOtherUuid = sim::kBatteryUuid;

// The rifle as it is built (a battery service first, then the target service with a writable
// characteristic before the notifying one).
inline sim::PeripheralScript Rifle(uint64_t address = kRifleAddress) { return sim::RifleScript(address); }

// A host whose driver context serves the log, as after the runtime's Init.
inline void InitHost(sim::SimHost &host)
{
    host.UseFactory(&tarvolt::ProviderFactory);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
}

// The link's lines from position `from` on, without those that platform handlers write at
// times of the platform's choosing.
inline std::vector<std::string> WorkerLines(const sim::HostRecorder &recorder, size_t from = 0)
{
    std::vector<std::string> out;
    for (const std::string &line : testing_support::LinkLines(recorder.LogTexts(), from)) {
        if (line == "Watcher stopped." || line.rfind("Connected to device: ", 0) == 0 ||
            line.rfind("Disconnected from device: ", 0) == 0)
            continue;
        out.push_back(line);
    }
    return out;
}

} // namespace link_test
