#include "SimObjects.h"

namespace sim {

namespace {

void Raise(const Outcome &outcome)
{
    if (outcome.error != 0)
        throw radio::PlatformError(outcome.error);
}

} // namespace

void SimWatcher::SetScanningMode(radio::ScanningMode value)
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    mode = value;
}

void SimWatcher::Start()
{
    owner_.Count(&RadioStats::starts);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
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

radio::ConnectionStatus SimDevice::GetConnectionStatus()
{
    radio::ConnectionStatus now;
    {
        std::lock_guard<std::mutex> lock(owner_.Mutex());
        now = status;
    }
    owner_.Checkpoint(peripheral_, Step::StatusRead);
    return now;
}

std::u16string SimDevice::Name()
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    return owner_.PeripheralLocked(peripheral_).script.name;
}

uint64_t SimDevice::BluetoothAddress()
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    return owner_.PeripheralLocked(peripheral_).script.address;
}

radio::ServicesResult SimDevice::GetGattServicesForUuid(const radio::Guid &uuid, radio::CacheMode)
{
    radio::ServicesResult result = GetGattServices();
    auto &services = result.services;
    services.erase(std::remove_if(services.begin(), services.end(), [&](const auto &s) { return s->Uuid() != uuid; }),
                   services.end());
    return result;
}

void SimDevice::MaintainConnection(bool on)
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    maintained = on;
}

radio::ServicesResult SimDevice::GetGattServices()
{
    owner_.Checkpoint(peripheral_, Step::Services);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    Peripheral &p = owner_.PeripheralLocked(peripheral_);
    if (!owner_.RadioAvailableLocked())
        return {radio::CommunicationStatus::Unreachable, {}};
    Raise(p.script.servicesQuery);
    radio::ServicesResult result{p.script.servicesQuery.status, {}};
    if (result.status != radio::CommunicationStatus::Success)
        return result;
    // The first GATT access connects, and every open device of the peripheral hears of it.
    if (!p.connected) {
        p.connected = true;
        for (auto &weak : p.devices)
            if (auto d = weak.lock(); d && !d->closed)
                owner_.PostStatus(d, radio::ConnectionStatus::Connected);
    }
    for (size_t i = 0; i < p.script.services.size(); ++i)
        result.services.push_back(std::make_shared<SimService>(owner_, weak_from_this(), peripheral_, i));
    return result;
}

void SimDevice::Close()
{
    owner_.Count(&RadioStats::closes);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    if (closed)
        return;
    closed = true;
    Peripheral &p = owner_.PeripheralLocked(peripheral_);
    if (p.script.disconnectOnClose)
        owner_.PostStatus(shared_from_this(), radio::ConnectionStatus::Disconnected);
    // The platform drops the link once nobody holds it open.
    bool open = false;
    for (auto &weak : p.devices)
        if (auto d = weak.lock(); d && !d->closed)
            open = true;
    if (!open)
        p.connected = false;
}

void SimDevice::RaiseStatusChanged()
{
    for (auto &handler : statusChanged.Snapshot())
        owner_.RecordResult(handler(*this));
}

radio::Guid SimService::Uuid()
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    return owner_.PeripheralLocked(peripheral_).script.services.at(index_).uuid;
}

radio::CharacteristicsResult SimService::GetCharacteristics()
{
    owner_.Checkpoint(peripheral_, Step::Characteristics);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    Peripheral &p = owner_.PeripheralLocked(peripheral_);
    const ServiceScript &script = p.script.services.at(index_);
    if (!owner_.RadioAvailableLocked())
        return {radio::CommunicationStatus::Unreachable, {}};
    Raise(script.query);
    radio::CharacteristicsResult result{script.query.status, {}};
    if (result.status != radio::CommunicationStatus::Success)
        return result;
    ForgetExpired(p.characteristics);
    for (const CharacteristicScript &c : script.characteristics) {
        auto characteristic = std::make_shared<SimCharacteristic>(owner_, device_, peripheral_, c);
        p.characteristics.push_back(characteristic);
        result.characteristics.push_back(characteristic);
    }
    return result;
}

radio::CharacteristicsResult SimService::GetCharacteristicsForUuid(const radio::Guid &uuid, radio::CacheMode)
{
    radio::CharacteristicsResult result = GetCharacteristics();
    auto &found = result.characteristics;
    found.erase(std::remove_if(found.begin(), found.end(), [&](const auto &c) { return c->Uuid() != uuid; }),
                found.end());
    return result;
}

radio::CommunicationStatus SimCharacteristic::WriteClientCharacteristicConfigurationDescriptor(
    radio::CccdValue value)
{
    owner_.Checkpoint(peripheral_, Step::Subscribe);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    if (!owner_.RadioAvailableLocked())
        return radio::CommunicationStatus::Unreachable;
    Raise(script_.subscribe);
    if (script_.subscribe.status == radio::CommunicationStatus::Success)
        notifying = value == radio::CccdValue::Notify;
    return script_.subscribe.status;
}

void SimCharacteristic::RaiseValueChanged(radio::ValueChangedArgs &args)
{
    for (auto &handler : valueChanged.Snapshot())
        owner_.RecordResult(handler(*this, args));
}

} // namespace sim
