#pragma once
// The simulated runtime as the relay program meets it: this process carries the server's name,
// publishes a headset and two controllers in the tracked-device table, and runs the shipped
// driver from the build's package, which starts the real vistrel next to it. The table stamps
// every pose query with the time, so that a published pose tells when the relay took it.
#include "SimHost.h"
#include "TrackedDevicePublisher.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace bench {

class RelayHost {
public:
    // Names the process, publishes the devices, loads, initialises and activates the driver (from
    // the build's package, or the given package root) and waits for the relay's first passes.
    // False (after printing why) when any of it fails.
    bool Start(const std::string &packageRoot = sim::SimHost::DefaultPackageRoot(false));
    ~RelayHost();

    sim::SimHost host;
    sim::TrackedDevicePublisher devices;

    // The relay's process id, found among this process's children by its name.
    int RelayProcessId() const { return relayPid_; }
    // Time the relay's process has spent on a processor so far.
    std::chrono::nanoseconds RelayCpuTime() const;

private:
    int relayPid_ = 0;
};

// The moment the relay took the pose that the driver published, from the stamp the table wrote
// into its velocity; zero for a pose from before the relay's first write.
sim::Clock::time_point StampOf(const vr::DriverPose_t &pose);

} // namespace bench
