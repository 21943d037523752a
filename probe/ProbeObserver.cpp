#include "ProbeObserver.h"

#include "DriverState.h"
#include "bluetooth/Notification.h"

#include <cstring>

namespace tarvolt::probe {

std::string ActionName(const std::atomic<bool> *flag)
{
    if (flag == &fire)
        return "fire";
    if (flag == &eject_mag)
        return "eject magazine";
    if (flag == &load_mag)
        return "load magazine";
    if (flag == &load_bullet)
        return "load bullet";
    if (flag == &unload_bullet)
        return "unload bullet";
    return "unknown";
}

ProbeObserver &ProbeObserver::Instance()
{
    static ProbeObserver *const observer = new ProbeObserver();  // never destroyed: see the header
    return *observer;
}

void ProbeObserver::Attach(Report *report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    report_ = report;
    tally_ = Tally{};
}

ProbeObserver::Tally ProbeObserver::Taken()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return tally_;
}

void ProbeObserver::Line(const char *text)
{
    // A notification's own line says less than its action event.
    if (std::strncmp(text, kReceivedDataPrefix, sizeof kReceivedDataPrefix - 1) == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (report_ != nullptr)
        report_->Link(text);
}

void ProbeObserver::Notified(const uint8_t *bytes, size_t length, const std::atomic<bool> *flag)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (report_ == nullptr)
        return;
    ++tally_.actions;
    if (flag == nullptr)
        ++tally_.unknown;
    report_->Action(ActionName(flag), bytes, length);
}

void ProbeObserver::StateSeen(LinkState state, uint64_t targetAddress)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (report_ == nullptr)
        return;
    if (state == TargetFound)
        tally_.found = true;
    if (state == Connected)
        ++tally_.connections;
    report_->State(state, targetAddress);
}

} // namespace tarvolt::probe
