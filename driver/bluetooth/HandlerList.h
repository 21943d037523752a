#pragma once
// The handlers of one event of a radio object, by token. Raising calls a snapshot of them, so a
// handler removed meanwhile may still be called once, as on every platform.
#include "Radio.h"

#include <map>
#include <mutex>
#include <vector>

namespace tarvolt::radio {

template <typename Handler>
class HandlerList {
public:
    EventToken Add(Handler handler)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handlers_.emplace(++last_, std::move(handler));
        return last_;
    }
    void Remove(EventToken token)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handlers_.erase(token);
    }
    std::vector<Handler> Snapshot() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Handler> out;
        for (const auto &entry : handlers_)
            out.push_back(entry.second);
        return out;
    }
    int Count() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(handlers_.size());
    }

private:
    mutable std::mutex mutex_;
    std::map<EventToken, Handler> handlers_;
    EventToken last_ = 0;
};

} // namespace tarvolt::radio
