#include "SimObjects.h"

namespace sim {

namespace {

// A call on a closed object fails (Microsoft Learn, IClosable.Close: later calls fail with RO_E_CLOSED).
constexpr ResultCode kClosed = static_cast<ResultCode>(0x80000013u);

// The answer the query gets this time; counts down a scripted run of failures.
Outcome Take(Outcome &scripted)
{
    if (scripted.times == 0)
        return Outcome{};
    if (scripted.times > 0)
        --scripted.times;
    return scripted;
}

void Raise(const Outcome &outcome)
{
    if (outcome.error != 0)
        throw radio::PlatformError(outcome.error);
}

// Whether an answer with this cache mode lists an entry; an uncached answer fills the cache.
template <typename Script>
bool Listed(Script &entry, const radio::Guid *uuid, radio::CacheMode mode)
{
    if (uuid != nullptr && !(entry.uuid == *uuid))
        return false;
    if (mode == radio::CacheMode::Uncached)
        entry.uncachedOnly = false;
    return !entry.uncachedOnly;
}

} // namespace

SimDevice::~SimDevice()
{
    if (!closed || maintained)
        lastRelease_->store(SimClockInstance().Now().time_since_epoch().count());
}

void SimDevice::CheckOpenLocked() const
{
    if (closed)
        throw radio::PlatformError(kClosed);
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
    const PeripheralScript &script = owner_.PeripheralLocked(peripheral_).script;
    return script.gapName.empty() ? script.name : script.gapName;
}

uint64_t SimDevice::BluetoothAddress()
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    return owner_.PeripheralLocked(peripheral_).script.address;
}

radio::ServicesResult SimDevice::GetGattServices() { return Services(nullptr, radio::CacheMode::Cached); }

radio::ServicesResult SimDevice::GetGattServicesForUuid(const radio::Guid &uuid, radio::CacheMode mode)
{
    return Services(&uuid, mode);
}

radio::ServicesResult SimDevice::Services(const radio::Guid *uuid, radio::CacheMode mode)
{
    owner_.Checkpoint(peripheral_, Step::Services);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    CheckOpenLocked();
    Peripheral &p = owner_.PeripheralLocked(peripheral_);
    if (!owner_.RadioAvailableLocked())
        return {radio::CommunicationStatus::Unreachable, {}};
    const Outcome outcome = Take(p.script.servicesQuery);
    Raise(outcome);
    radio::ServicesResult result{outcome.status, {}};
    if (result.status != radio::CommunicationStatus::Success)
        return result;
    // The first GATT access connects, and every open device of the peripheral hears of it.
    if (!p.connected)
        owner_.ConnectLocked(p);
    for (size_t i = 0; i < p.script.services.size(); ++i)
        if (Listed(p.script.services[i], uuid, mode))
            result.services.push_back(std::make_shared<SimService>(owner_, weak_from_this(), peripheral_, i));
    return result;
}

void SimDevice::MaintainConnection(bool on)
{
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    CheckOpenLocked();
    maintained = on;
    Peripheral &p = owner_.PeripheralLocked(peripheral_);
    if (!on)
        owner_.UnheldLocked(p);
    else if (!p.connected)
        owner_.ScheduleRestoreLocked(peripheral_);
}

bool SimDevice::RequestLowLatency()
{
    owner_.Count(&RadioStats::lowLatencyRequests);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    CheckOpenLocked();
    // Windows 11 grants it while connected, and answers DeviceNotAvailable otherwise.
    return owner_.PeripheralLocked(peripheral_).connected;
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
    owner_.UnheldLocked(p);
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

radio::CharacteristicsResult SimService::GetCharacteristics() { return Characteristics(nullptr, radio::CacheMode::Cached); }

radio::CharacteristicsResult SimService::GetCharacteristicsForUuid(const radio::Guid &uuid, radio::CacheMode mode)
{
    return Characteristics(&uuid, mode);
}

radio::CharacteristicsResult SimService::Characteristics(const radio::Guid *uuid, radio::CacheMode mode)
{
    owner_.Checkpoint(peripheral_, Step::Characteristics);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    const std::shared_ptr<SimDevice> device = device_.lock();
    if (closed || !device || device->closed)
        throw radio::PlatformError(kClosed);
    Peripheral &p = owner_.PeripheralLocked(peripheral_);
    ServiceScript &script = p.script.services.at(index_);
    if (!owner_.RadioAvailableLocked())
        return {radio::CommunicationStatus::Unreachable, {}};
    const Outcome outcome = Take(script.query);
    Raise(outcome);
    radio::CharacteristicsResult result{outcome.status, {}};
    if (result.status != radio::CommunicationStatus::Success)
        return result;
    ForgetExpired(p.characteristics);
    for (size_t i = 0; i < script.characteristics.size(); ++i) {
        CharacteristicScript &c = script.characteristics[i];
        if (!Listed(c, uuid, mode))
            continue;
        auto characteristic =
            std::make_shared<SimCharacteristic>(owner_, device_, shared_from_this(), peripheral_, index_, i, c.uuid);
        p.characteristics.push_back(characteristic);
        result.characteristics.push_back(characteristic);
    }
    return result;
}

void SimService::Close()
{
    owner_.Count(&RadioStats::serviceCloses);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    closed = true;
}

radio::CommunicationStatus SimCharacteristic::WriteClientCharacteristicConfigurationDescriptor(
    radio::CccdValue value)
{
    owner_.Checkpoint(peripheral_, Step::Subscribe);
    std::lock_guard<std::mutex> lock(owner_.Mutex());
    const std::shared_ptr<SimDevice> owningDevice = device.lock();
    // Its service or device closed: the characteristic goes with them.
    if (service->closed || !owningDevice || owningDevice->closed)
        throw radio::PlatformError(kClosed);
    if (!owner_.RadioAvailableLocked())
        return radio::CommunicationStatus::Unreachable;
    Peripheral &p = owner_.PeripheralLocked(peripheral_);
    const Outcome outcome = Take(p.script.services.at(serviceIndex_).characteristics.at(index_).subscribe);
    Raise(outcome);
    if (outcome.status == radio::CommunicationStatus::Success)
        notifying = value == radio::CccdValue::Notify;
    return outcome.status;
}

void SimCharacteristic::RaiseValueChanged(radio::ValueChangedArgs &args)
{
    for (auto &handler : valueChanged.Snapshot())
        owner_.RecordResult(handler(*this, args));
}

} // namespace sim
