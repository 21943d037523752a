#include "StopRequest.h"

namespace tarvolt::probe {

void StopRequest::Request(StopReason reason)
{
    std::function<void(StopReason)> action;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reason_ != StopReason::None)
            return;
        reason_ = reason;
        action = onRequest_;
    }
    changed_.notify_all();
    if (action)
        action(reason);
}

void StopRequest::OnRequest(std::function<void(StopReason)> action)
{
    std::lock_guard<std::mutex> lock(mutex_);
    onRequest_ = std::move(action);
}

StopReason StopRequest::WaitFor(std::optional<std::chrono::milliseconds> limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const auto stopped = [this] { return reason_ != StopReason::None; };
    if (limit)
        changed_.wait_for(lock, *limit, stopped);
    else
        changed_.wait(lock, stopped);
    return reason_;
}

StopReason StopRequest::Reason() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reason_;
}

} // namespace tarvolt::probe
