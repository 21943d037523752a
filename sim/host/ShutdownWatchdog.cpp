#include "ShutdownWatchdog.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

ShutdownWatchdog::ShutdownWatchdog(HostRecorder &recorder, std::string step)
    : recorder_(recorder), step_(std::move(step)), thread_([this] { Watch(); })
{
}

ShutdownWatchdog::~ShutdownWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    returned_.notify_all();
    thread_.join();
}

void ShutdownWatchdog::Watch()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (returned_.wait_for(lock, kShutdownStepLimit, [this] { return done_; }))
        return;
    lock.unlock();
    recorder_.AddViolation(step_ + " did not return within " + std::to_string(kShutdownStepLimit.count()) +
                           " s; SteamVR is held up at shutdown and ends a server that stalls");
    lock.lock();
    if (returned_.wait_for(lock, kShutdownKillLimit - kShutdownStepLimit, [this] { return done_; }))
        return;
    std::fprintf(stderr, "simulated server: %s still running after %lld s; ending the server as SteamVR does\n",
                 step_.c_str(), static_cast<long long>(kShutdownKillLimit.count()));
    std::fflush(stderr);
    std::abort();
}

} // namespace sim
