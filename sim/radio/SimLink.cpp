// The link of each simulated peripheral as Windows keeps it: who holds it up, how long it stays
// after the last holder let go, what restores it after a drop, and the faults of the watchers.
#include "SimObjects.h"

namespace sim {

namespace {

SimTime Now() { return SimClockInstance().Now(); }

} // namespace

bool SimRadio::HeldLocked(const Peripheral &p) const
{
    if (p.otherHolder)
        return true;
    for (const auto &weak : p.devices)
        if (auto d = weak.lock(); d && d->HoldsLocked())
            return true;
    return false;
}

void SimRadio::UnheldLocked(Peripheral &p)
{
    if (p.connected && !HeldLocked(p))
        p.unheldSince = Now();
}

void SimRadio::SettleLocked(Peripheral &p)
{
    if (!p.connected)
        return;
    if (HeldLocked(p)) {
        p.unheldSince.reset();
        return;
    }
    // Let go without Close: the last device released took the link with it.
    if (!p.unheldSince) {
        const int64_t released = p.lastRelease->load();
        p.unheldSince = released != 0 ? SimTime(SimTime::duration(released)) : Now();
    }
    if (Now() - *p.unheldSince >= p.script.closeHold)
        LoseLinkLocked(p, true);
}

void SimRadio::ConnectLocked(Peripheral &p)
{
    p.connected = true;
    p.restorePending = false;
    for (auto &weak : p.devices)
        if (auto d = weak.lock(); d && !d->closed)
            PostStatus(d, radio::ConnectionStatus::Connected);
}

void SimRadio::LoseLinkLocked(Peripheral &p, bool events)
{
    const bool wasConnected = p.connected;
    p.connected = false;
    p.unheldSince.reset();
    for (auto &weak : p.characteristics)
        if (auto c = weak.lock())
            c->notifying = false;
    for (auto &weak : p.devices) {
        auto d = weak.lock();
        if (!d || d->closed)
            continue;
        if (events) {
            PostStatus(d, radio::ConnectionStatus::Disconnected);
        } else {
            // In order with the changes already on their way, but without raising the event.
            Post([this, d] {
                std::lock_guard<std::mutex> lock(mutex_);
                d->status = radio::ConnectionStatus::Disconnected;
            });
        }
    }
    if (wasConnected)
        ScheduleRestoreLocked(static_cast<int>(&p - peripherals_.data()));
}

void SimRadio::ScheduleRestoreLocked(int id)
{
    Peripheral &p = PeripheralLocked(id);
    bool maintained = p.otherHolder;
    for (auto &weak : p.devices)
        if (auto d = weak.lock(); d && d->maintained)
            maintained = true;
    if (!maintained) {
        p.restorePending = false;
        return;
    }
    // Restored once the peripheral can be reached: on, in range, and the radio there.
    if (!p.script.advertising || !available_) {
        p.restorePending = true;
        return;
    }
    p.restorePending = false;
    PostAfter(p.script.restoreDelay, [this, id] {
        std::lock_guard<std::mutex> lock(mutex_);
        RestoreLocked(id);
    });
}

void SimRadio::RestoreLocked(int id)
{
    Peripheral &p = PeripheralLocked(id);
    if (p.connected)
        return;
    bool maintained = p.otherHolder;
    for (auto &weak : p.devices)
        if (auto d = weak.lock(); d && d->maintained)
            maintained = true;
    if (!maintained)
        return;
    if (!p.script.advertising || !available_) {
        p.restorePending = true;
        return;
    }
    ConnectLocked(p);
}

void SimRadio::Drop(int peripheral)
{
    std::lock_guard<std::mutex> lock(mutex_);
    LoseLinkLocked(PeripheralLocked(peripheral), true);
}

void SimRadio::DropWithoutEvent(int peripheral)
{
    std::lock_guard<std::mutex> lock(mutex_);
    LoseLinkLocked(PeripheralLocked(peripheral), false);
}

void SimRadio::SetOtherHolder(int peripheral, bool holds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = PeripheralLocked(peripheral);
    p.otherHolder = holds;
    if (!holds) {
        UnheldLocked(p);
        return;
    }
    p.unheldSince.reset();
    if (!p.connected && p.script.advertising && available_ && readiness_ == Readiness::Ready)
        ConnectLocked(p);
}

void SimRadio::SetWatcherFault(WatcherFault fault, int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    watcherFault_ = fault;
    watcherFaults_ = count;
}

WatcherFault SimRadio::TakeWatcherFault()
{
    if (watcherFaults_ == 0)
        return WatcherFault::None;
    if (watcherFaults_ > 0)
        --watcherFaults_;
    return watcherFault_;
}

} // namespace sim
