// The simulated radio's event thread: it delivers posted events in order, and timed ones when
// they are due on the simulation's clock, and, while a watcher is started, the advertisements
// of every advertising peripheral at the advertising interval.
#include "SimObjects.h"

namespace sim {

void SimRadio::Post(std::function<void()> event)
{
    events_.push_back(std::move(event));
    EnsureThreadLocked();
    changed_.notify_all();
}

void SimRadio::PostAfter(std::chrono::milliseconds delay, std::function<void()> event)
{
    timers_.emplace(SimClockInstance().Now() + delay, std::move(event));
    EnsureThreadLocked();
    changed_.notify_all();
}

void SimRadio::WatcherStarted()
{
    // The first advertisements come at once, as from peripherals already in range.
    nextAdvertising_ = std::chrono::steady_clock::now();
    EnsureThreadLocked();
    changed_.notify_all();
}

void SimRadio::EnsureThreadLocked()
{
    // While Shutdown joins the thread, events wait in the queue for the next start.
    if (running_ || stopping_)
        return;
    running_ = thread_.Start([this] { EventLoop(); });
}

// Runs while there is something to deliver or a scan to advertise to, and ends when idle: the
// driver's worker ends and releases everything before the runtime unloads it, and the thread
// must not outlive the library it runs in.
namespace {
// Set on the event thread alone, so that a check for it needs no lock on the thread's object.
thread_local bool onEventThread = false;
} // namespace

bool SimRadio::OnEventThread() { return onEventThread; }

void SimRadio::EventLoop()
{
    onEventThread = true;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        const SimTime simNow = SimClockInstance().Now();
        while (!paused_ && !timers_.empty() && timers_.begin()->first <= simNow) {
            events_.push_back(std::move(timers_.begin()->second));
            timers_.erase(timers_.begin());
        }
        if (!paused_ && !events_.empty()) {
            std::function<void()> event = std::move(events_.front());
            events_.pop_front();
            delivering_ = true;
            lock.unlock();
            event();
            event = nullptr;  // its references go before the radio counts as idle
            lock.lock();
            delivering_ = false;
            changed_.notify_all();
            continue;
        }
        bool scanning = false;
        for (auto &weak : watchers_)
            if (auto w = weak.lock(); w && w->started)
                scanning = true;
        if (events_.empty() && !scanning && timers_.empty())
            break;  // idle
        const auto now = std::chrono::steady_clock::now();
        if (paused_) {
            changed_.wait(lock);
        } else if (scanning && now >= nextAdvertising_) {
            AdvertiseOnce(lock);
            nextAdvertising_ = std::chrono::steady_clock::now() + interval_;
        } else {
            auto wake = scanning ? nextAdvertising_ : now + std::chrono::hours(1);
            if (!timers_.empty())
                wake = std::min(wake, now + SimClockInstance().RealPause(timers_.begin()->first - simNow));
            changed_.wait_until(lock, wake);
        }
    }
    running_ = false;
    changed_.notify_all();
}

void SimRadio::AdvertiseOnce(std::unique_lock<std::mutex> &lock)
{
    std::vector<std::shared_ptr<SimWatcher>> watchers;
    for (auto &weak : watchers_)
        if (auto w = weak.lock(); w && w->started)
            watchers.push_back(w);
    std::vector<PeripheralScript> adverts;
    for (Peripheral &p : peripherals_) {
        SettleLocked(p);
        if (p.script.advertising && (!p.connected || p.script.advertisesWhileConnected))
            adverts.push_back(p.script);
    }
    for (auto &w : watchers) {
        if (w->fault == WatcherFault::Silent)
            continue;
        for (auto &advert : adverts) {
            // A watcher that a handler stopped receives nothing more.
            if (!w->started)
                break;
            lock.unlock();
            w->RaiseReceived(advert.name, advert.address, advert.rssi);
            lock.lock();
        }
    }
}

void SimRadio::PauseEvents()
{
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = true;
}

void SimRadio::ResumeEvents()
{
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = false;
    changed_.notify_all();
}

void SimRadio::Shutdown()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        events_.clear();
        timers_.clear();
        changed_.notify_all();
    }
    thread_.Join();
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    stopping_ = false;
}

} // namespace sim
