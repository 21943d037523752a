#pragma once
// SteamVR calls a driver's Deactivate and Cleanup on its main thread and ends a server that
// stalls in them (after about 10 seconds); a user sees SteamVR hang on quitting first. The
// simulated server watches both calls: one that has not returned after kShutdownStepLimit is a
// violation, and one still running after kShutdownKillLimit ends the process as SteamVR would.
#include "HostRecorder.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

inline constexpr std::chrono::seconds kShutdownStepLimit{2};
inline constexpr std::chrono::seconds kShutdownKillLimit{10};

// Armed for the lifetime of the object around one call.
class ShutdownWatchdog {
public:
    ShutdownWatchdog(HostRecorder &recorder, std::string step);
    ~ShutdownWatchdog();
    ShutdownWatchdog(const ShutdownWatchdog &) = delete;
    ShutdownWatchdog &operator=(const ShutdownWatchdog &) = delete;

private:
    void Watch();

    HostRecorder &recorder_;
    const std::string step_;
    std::mutex mutex_;
    std::condition_variable returned_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace sim
