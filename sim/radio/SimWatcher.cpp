// The simulated advertisement watcher: started, stopped, aborted by the platform, and the
// faults of real watchers (RadioControl::SetWatcherFault).
#include "SimObjects.h"

namespace sim {

void SimWatcher::SetScanningMode(radio::ScanningMode value)
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    mode = value;
}

void SimWatcher::Start()
{
    owner_.Count(&RadioStats::starts);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    if (fault == WatcherFault::StartThrows)
        throw radio::PlatformError(kDeviceNotAvailable);
    if (fault == WatcherFault::StaysCreated)
        return;
    // Without a radio, or without a usable adapter, Windows starts nothing and aborts the watcher:
    // its Stopped event follows (with the error RadioNotAvailable), and no advertisement comes;
    // Start itself reports nothing.
    if (!owner_.RadioAvailableLocked() || owner_.ReadinessLocked() != radio::Readiness::Ready) {
        started = true;
        AbortLocked(kStopRadioNotAvailable);
        return;
    }
    if (!started) {
        started = true;
        status = WatcherStatus::Started;
        owner_.WatcherStarted();
    }
}

void SimWatcher::Stop()
{
    owner_.Count(&RadioStats::stops);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    StopLocked();
}

radio::WatcherStatus SimWatcher::Status()
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    return status;
}

void SimWatcher::StopLocked()
{
    // A watcher that is not scanning (created, stopped or aborted) is left as it is.
    if (!started)
        return;
    started = false;
    status = WatcherStatus::Stopping;
    // The platform reports the stop later, on its own thread.
    std::shared_ptr<SimWatcher> self = shared_from_this();
    owner_.Post([self] { self->RaiseStopped(kStopSuccess); });
}

void SimWatcher::AbortLocked(int32_t error)
{
    if (!started)
        return;
    started = false;
    status = WatcherStatus::Aborted;
    if (fault == WatcherFault::EndsWithoutStopped)
        return;
    std::shared_ptr<SimWatcher> self = shared_from_this();
    owner_.Post([self, error] { self->RaiseStopped(error); });
}

namespace {

class Advertisement final : public radio::AdvertisementReceivedArgs {
public:
    Advertisement(const std::u16string &name, uint64_t address, int16_t rssi)
        : name_(name), address_(address), rssi_(rssi)
    {
    }
    std::u16string LocalName() override { return name_; }
    uint64_t BluetoothAddress() override { return address_; }
    std::optional<int16_t> SignalStrength() override { return rssi_; }

private:
    std::u16string name_;
    uint64_t address_;
    int16_t rssi_;
};

} // namespace

void SimWatcher::RaiseReceived(const std::u16string &name, uint64_t address, int16_t rssi)
{
    Advertisement args(name, address, rssi);
    for (auto &handler : received.Snapshot())
        owner_.RecordResult(handler(*this, args));
}

void SimWatcher::RaiseStopped(int32_t error)
{
    {
        std::lock_guard<std::mutex> lock(owner_.Mutex());
        if (status == WatcherStatus::Stopping)
            status = WatcherStatus::Stopped;
    }
    stoppedError = error;
    for (auto &handler : stopped.Snapshot())
        owner_.RecordResult(handler(*this));
}

} // namespace sim
