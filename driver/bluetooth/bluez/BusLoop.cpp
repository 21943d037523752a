// The loop of a bus connection: it runs on a thread of its own, processes the bus, runs the work
// posted to it and reads the descriptors it watches, and tells the owner when the bus is gone.
#include "BusConnection.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

namespace tarvolt::bluez {

void BusConnection::Wake()
{
    const uint64_t one = 1;
    // A full counter still wakes the loop; nothing else can fail here.
    (void)!write(wakeFd_, &one, sizeof one);
}

void BusConnection::Post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    Wake();
}

bool BusConnection::RunPosted()
{
    bool ran = false;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(postedMutex_);
            if (posted_.empty())
                return ran;
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        ran = true;
        try {
            task();
        } catch (...) {
            // An event handler's failure must not end the loop that serves every other one.
        }
    }
}

void BusConnection::Loop()
{
    loopId_ = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        int r = 0;
        do {
            r = api_.sd_bus_process(bus_, nullptr);
        } while (r > 0 && !stopping_);
        if (r < 0) {
            // The bus is gone (the daemon ended or dropped us): every wait ends, the owner hears
            // of it, and the next use opens a new connection.
            open_ = false;
            FailPendingLocked(kErrorDisconnected, "The connection to the bus was lost");
            try {
                onDisconnect_();
            } catch (...) {
            }
            lock.unlock();
            RunPosted();
            lock.lock();
            break;
        }
        changed_.notify_all();  // replies processed above
        lock.unlock();
        if (RunPosted()) {
            lock.lock();
            continue;
        }
        lock.lock();
        if (stopping_)
            break;
        PollOnce(lock);
    }
    {
        // Nothing is watched once the loop has ended: what the watches hold goes now.
        std::lock_guard<std::mutex> posted(postedMutex_);
        watches_.clear();
    }
    changed_.notify_all();
}

void BusConnection::PollOnce(std::unique_lock<std::mutex> &lock)
{
    std::vector<FdWatch> watches;
    {
        std::lock_guard<std::mutex> posted(postedMutex_);
        watches = watches_;  // their handlers stay alive, and their descriptors open, during the poll
    }
    std::vector<pollfd> fds(2 + watches.size());
    fds[0].fd = api_.sd_bus_get_fd(bus_);
    fds[0].events = static_cast<short>(api_.sd_bus_get_events(bus_));
    fds[1].fd = wakeFd_;
    fds[1].events = POLLIN;
    for (size_t i = 0; i < watches.size(); ++i)
        fds[2 + i] = {watches[i].fd, POLLIN, 0};
    uint64_t until = UINT64_MAX;
    int timeoutMs = -1;
    if (api_.sd_bus_get_timeout(bus_, &until) > 0 && until != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t nowUsec = static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
        timeoutMs = until <= nowUsec ? 0 : static_cast<int>(std::min<uint64_t>((until - nowUsec + 999) / 1000, 60000));
    }
    lock.unlock();
    poll(fds.data(), fds.size(), timeoutMs);
    uint64_t drained = 0;
    (void)!read(wakeFd_, &drained, sizeof drained);
    for (size_t i = 0; i < watches.size(); ++i) {
        if (fds[2 + i].revents == 0)
            continue;
        bool keep = false;
        try {
            keep = (*watches[i].onReady)(fds[2 + i].revents);
        } catch (...) {
            // A handler's failure ends its watch, never the loop.
        }
        if (!keep)
            Unwatch(watches[i].id);
    }
    lock.lock();
}

uint64_t BusConnection::Watch(int fd, FdHandler onReady)
{
    uint64_t id;
    {
        // Under the same mutex as the loop's last look at the watches: none outlives the loop.
        std::lock_guard<std::mutex> posted(postedMutex_);
        if (!open_)
            return 0;
        id = nextWatch_++;
        watches_.push_back({id, fd, std::make_shared<FdHandler>(std::move(onReady))});
    }
    Wake();
    return id;
}

void BusConnection::Unwatch(uint64_t id)
{
    {
        std::lock_guard<std::mutex> posted(postedMutex_);
        watches_.erase(std::remove_if(watches_.begin(), watches_.end(), [&](const FdWatch &w) { return w.id == id; }),
                       watches_.end());
    }
    Wake();
}

} // namespace tarvolt::bluez
