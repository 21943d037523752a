#pragma once
// Ends the Bluetooth worker's blocking waits when the device is deactivated. SteamVR calls
// Deactivate on its main thread and ends a server that stalls there, while a platform operation
// against a half-reachable device can take tens of seconds. So every blocking wait of the worker
// watches this signal besides what it waits for: its pause between passes, and each platform
// operation it awaits, which is then cancelled and fails as a cancelled operation does.
//
// Deactivate raises it after clearing the run flag; Activate re-arms it before it starts a new
// worker, so that every worker of one load of the library can be stopped the same way.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace tarvolt::radio {

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    void Rearm();
    void Raise();
    bool Raised() const;
    // Waits up to `milliseconds` on the build's clock (PlatformClock); true as soon as the signal
    // is raised.
    bool WaitFor(uint32_t milliseconds);
    // Calls `wake` after every later Raise, for a wait on a condition of its own (the simulated
    // radio's held steps). `wake` must stay callable for as long as the signal lives.
    void OnRaise(std::function<void()> wake);
    // The platform's event object, set while the signal is raised, to wait on together with an
    // operation's completion (Windows: a manual-reset event; null elsewhere).
    void *PlatformEvent() const { return event_; }

private:
    // The platform's part (StopSignal_win32.cpp / StopSignal_posix.cpp).
    void CreatePlatformEvent();
    void DestroyPlatformEvent();
    void SetPlatformEvent(bool raised);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
    std::vector<std::function<void()>> wakers_;
    void *event_ = nullptr;
};

// The signal of this load of the library.
StopSignal &WorkerStop();

} // namespace tarvolt::radio
