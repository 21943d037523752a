#include "StopSignal.h"

#include "../Clock.h"

#include <chrono>

namespace tarvolt::radio {

StopSignal::StopSignal() { CreatePlatformEvent(); }

StopSignal::~StopSignal() { DestroyPlatformEvent(); }

void StopSignal::Rearm()
{
    std::lock_guard<std::mutex> lock(mutex_);
    raised_ = false;
    SetPlatformEvent(false);
}

void StopSignal::Raise()
{
    std::vector<std::function<void()>> wakers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        raised_ = true;
        SetPlatformEvent(true);
        wakers = wakers_;
    }
    changed_.notify_all();
    // Outside the lock: a waker takes the lock of the wait it ends, and that wait's condition
    // asks Raised().
    for (const std::function<void()> &wake : wakers)
        wake();
}

bool StopSignal::Raised() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return raised_;
}

bool StopSignal::WaitFor(uint32_t milliseconds)
{
    const auto pause = PlatformClock().RealPause(std::chrono::milliseconds(milliseconds));
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, pause, [this] { return raised_; });
}

void StopSignal::OnRaise(std::function<void()> wake)
{
    std::lock_guard<std::mutex> lock(mutex_);
    wakers_.push_back(std::move(wake));
}

StopSignal &WorkerStop()
{
    static StopSignal signal;
    return signal;
}

} // namespace tarvolt::radio
