// The watcher, device, service and characteristic of the BlueZ radio.
#include "BluezCore.h"
#include "BluezText.h"

#include <algorithm>
#include <cstring>

namespace tarvolt::bluez {

namespace {

constexpr const char *kGattPrefix = "org.bluez.";

std::string AddressText(uint64_t address)
{
    const std::string path = DevicePath("", address);  // "/dev_AA_BB_..."
    std::string text = path.substr(5);
    for (char &c : text)
        if (c == '_')
            c = ':';
    return text;
}

MethodCall BluezCall(const std::string &path, const char *interface, const char *member, std::vector<Value> args = {})
{
    return {kBluezService, path, interface, member, std::move(args)};
}

bool IsError(const Reply &reply, const char *suffix)
{
    return !reply.ok && reply.errorName == std::string(kGattPrefix) + "Error." + suffix;
}

} // namespace

radio::CommunicationStatus StatusOf(const Reply &reply)
{
    if (reply.ok)
        return radio::CommunicationStatus::Success;
    const std::string &name = reply.errorName;
    if (IsError(reply, "NotPermitted") || IsError(reply, "NotAuthorized") ||
        name == "org.freedesktop.DBus.Error.AccessDenied")
        return radio::CommunicationStatus::AccessDenied;
    if (IsError(reply, "NotSupported") || IsError(reply, "InvalidArguments") ||
        (IsError(reply, "Failed") && reply.errorMessage.find("ATT error") != std::string::npos))
        return radio::CommunicationStatus::ProtocolError;
    return radio::CommunicationStatus::Unreachable;
}

// Watcher

void BluezWatcher::SetScanningMode(radio::ScanningMode)
{
    // BlueZ's LE discovery always scans actively; there is nothing to set.
}

void BluezWatcher::Start()
{
    const std::shared_ptr<BusConnection> connection = core_->Ready(false);
    if (!connection)
        throw radio::PlatformError(kNoBus);
    std::string reason;
    const std::string adapter = core_->FirstPoweredAdapter(reason);
    if (adapter.empty()) {
        core_->Report(reason);
        // Read bluetoothd's objects afresh at the next start rather than trust a mirror that shows
        // no usable adapter.
        core_->MarkStale();
        throw radio::PlatformError(kNoAdapter);
    }
    const auto timeout = core_->Options().callTimeout;
    // Low-energy devices only, and every advertisement reported (without a filter bluetoothd also
    // pauses between scans and reports a device again only when its signal changes much).
    const Value filter = Value::StringVariantDict({{"Transport", Value::String("le")}, {"DuplicateData", Value::Bool(true)}});
    Reply reply = connection->Call(BluezCall(adapter, kAdapterInterface, "SetDiscoveryFilter", {filter}), timeout);
    if (!reply.ok) {
        core_->Report(core_->CallFailure("SetDiscoveryFilter on " + adapter, reply));
        throw radio::PlatformError(kCallFailed);
    }
    std::weak_ptr<BluezWatcher> weak = weak_from_this();
    reply = connection->Call(BluezCall(adapter, kAdapterInterface, "StartDiscovery"), timeout, [&](Reply &answer) {
        // This connection's discovery already runs: it is ours, and it goes on.
        if (!answer.ok && answer.errorName != "org.bluez.Error.InProgress")
            return;
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        started_ = true;
        status_ = radio::WatcherStatus::Started;
        adapter_ = adapter;
    });
    if (!reply.ok && reply.errorName != "org.bluez.Error.InProgress") {
        core_->Report(core_->CallFailure("StartDiscovery on " + adapter, reply));
        throw radio::PlatformError(kCallFailed);
    }
    core_->Clear();
}

void BluezWatcher::Stop()
{
    std::string adapter;
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (!started_)
            return;
        started_ = false;
        status_ = radio::WatcherStatus::Stopped;
        adapter = adapter_;
    }
    const std::shared_ptr<BusConnection> connection = core_->Current();
    // Not awaited: Stop is called from inside the received handler, and a lost bus has ended
    // our discovery anyway.
    if (connection)
        connection->Send(BluezCall(adapter, kAdapterInterface, "StopDiscovery"));
    std::shared_ptr<BluezWatcher> self = shared_from_this();
    if (connection)
        connection->Post([self] { self->RaiseStopped(); });
    else
        RaiseStopped();
}

bool BluezWatcher::ScanningLocked(const std::string &devicePath) const
{
    return started_ && devicePath.size() > adapter_.size() && devicePath.compare(0, adapter_.size(), adapter_) == 0 &&
           devicePath[adapter_.size()] == '/';
}

bool BluezWatcher::ScanningAdapterLocked(const std::string &adapterPath) const
{
    return started_ && adapter_ == adapterPath;
}

bool BluezWatcher::EndedLocked()
{
    const bool was = started_;
    started_ = false;
    if (was)
        status_ = radio::WatcherStatus::Aborted;
    return was;
}

radio::WatcherStatus BluezWatcher::Status()
{
    std::lock_guard<std::mutex> lock(core_->MirrorMutex());
    return status_;
}

void BluezWatcher::RaiseReceived(const std::u16string &name, uint64_t address, std::optional<int16_t> rssi)
{
    class Args final : public radio::AdvertisementReceivedArgs {
    public:
        Args(const std::u16string &name, uint64_t address, std::optional<int16_t> rssi)
            : name_(name), address_(address), rssi_(rssi)
        {
        }
        std::u16string LocalName() override { return name_; }
        uint64_t BluetoothAddress() override { return address_; }
        std::optional<int16_t> SignalStrength() override { return rssi_; }

    private:
        const std::u16string &name_;
        uint64_t address_;
        std::optional<int16_t> rssi_;
    } args(name, address, rssi);
    for (auto &handler : received_.Snapshot())
        handler(*this, args);
}

void BluezWatcher::RaiseStopped()
{
    for (auto &handler : stopped_.Snapshot())
        handler(*this);
}

// Device

BluezDevice::~BluezDevice()
{
    // Like the Windows Runtime's device, the last reference lets the connection go.
    bool closed;
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        closed = closed_;
    }
    if (!closed) {
        try {
            Release();
        } catch (...) {
        }
    }
}

radio::ConnectionStatus BluezDevice::GetConnectionStatus()
{
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (gone_)
            return radio::ConnectionStatus::Disconnected;
    }
    const std::optional<Value> connected = core_->Property(path_, kDeviceInterface, "Connected", "b");
    return connected && connected->boolean ? radio::ConnectionStatus::Connected : radio::ConnectionStatus::Disconnected;
}

std::u16string BluezDevice::Name()
{
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (gone_)
            return Utf8ToUtf16(lastName_);
    }
    const std::optional<Value> name = core_->Property(path_, kDeviceInterface, "Name", "s");
    std::lock_guard<std::mutex> lock(core_->MirrorMutex());
    if (name)
        lastName_ = name->text;
    return Utf8ToUtf16(lastName_);
}

radio::ServicesResult BluezDevice::GetGattServices()
{
    radio::ServicesResult result{radio::CommunicationStatus::Unreachable, {}};
    const std::shared_ptr<BusConnection> connection = core_->Ready(false);
    if (!connection)
        return result;
    const std::string address = AddressText(address_);
    uint64_t lossesBefore;
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        lossesBefore = core_->LinkLossesLocked(path_);
    }
    const Reply reply = connection->Call(BluezCall(path_, kDeviceInterface, "Connect"), core_->Options().connectTimeout);
    if (!reply.ok) {
        core_->Report(core_->CallFailure("Connect to " + address, reply));
        result.status = StatusOf(reply);
        return result;
    }
    // Connect answers once the link is up; the services follow. Connected may still read false
    // here (its change can come after the answer): the link counts as lost only once it was
    // seen to go down after the call began.
    bool resolved = false;
    const bool settled = core_->WaitForMirror(
        [&] {
            const Properties *device = gone_ ? nullptr : core_->FindLocked(path_, kDeviceInterface);
            auto flag = [&](const char *name) {
                const auto found = device ? device->find(name) : Properties::const_iterator();
                return device && found != device->end() && found->second.type == 'b' && found->second.boolean;
            };
            resolved = flag("ServicesResolved") && flag("Connected");
            return resolved || device == nullptr || core_->LinkLossesLocked(path_) != lossesBefore;
        },
        core_->Options().resolveTimeout);
    if (!resolved) {
        core_->Report(settled ? "the link to " + address + " was lost before its services were resolved"
                              : "the services of " + address + " were not resolved in time");
        return result;
    }
    result.status = radio::CommunicationStatus::Success;
    for (const std::string &service : core_->Children(kServiceInterface, "Device", path_))
        result.services.push_back(std::make_shared<BluezService>(core_, service, path_));
    core_->Clear();
    return result;
}

radio::ServicesResult BluezDevice::GetGattServicesForUuid(const radio::Guid &uuid, radio::CacheMode)
{
    radio::ServicesResult result = GetGattServices();
    auto &services = result.services;
    services.erase(std::remove_if(services.begin(), services.end(), [&](const auto &s) { return s->Uuid() != uuid; }),
                   services.end());
    return result;
}

void BluezDevice::Close()
{
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (closed_)
            return;
        closed_ = true;
    }
    Release();
}

void BluezDevice::Release()
{
    const std::shared_ptr<BusConnection> connection = core_->Current();
    if (!connection)
        return;
    // Not awaited: bluetoothd answers Disconnect only once the link is down, seconds later.
    for (const auto &characteristic : core_->SubscribedUnder(path_)) {
        connection->Send(BluezCall(characteristic->Path(), kCharacteristicInterface, "StopNotify"));
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        characteristic->SetNotifyingLocked(false);
    }
    connection->Send(BluezCall(path_, kDeviceInterface, "Disconnect"));
}

void BluezDevice::RaiseStatusChanged()
{
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (closed_)
            return;
    }
    for (auto &handler : statusChanged_.Snapshot())
        handler(*this);
}

// Service

radio::Guid BluezService::Uuid()
{
    const std::optional<Value> uuid = core_->Property(path_, kServiceInterface, "UUID", "s");
    const std::optional<radio::Guid> guid = uuid ? ParseUuid(uuid->text) : std::nullopt;
    if (!guid)
        throw radio::PlatformError(kBadProperty);
    return *guid;
}

radio::CharacteristicsResult BluezService::GetCharacteristics()
{
    radio::CharacteristicsResult result{radio::CommunicationStatus::Unreachable, {}};
    if (!core_->HasObject(path_, kServiceInterface))
        return result;
    result.status = radio::CommunicationStatus::Success;
    for (const std::string &path : core_->Children(kCharacteristicInterface, "Service", path_)) {
        auto characteristic = std::make_shared<BluezCharacteristic>(core_, path, devicePath_);
        core_->Register(characteristic);
        result.characteristics.push_back(std::move(characteristic));
    }
    return result;
}

radio::CharacteristicsResult BluezService::GetCharacteristicsForUuid(const radio::Guid &uuid, radio::CacheMode)
{
    radio::CharacteristicsResult result = GetCharacteristics();
    auto &found = result.characteristics;
    found.erase(std::remove_if(found.begin(), found.end(), [&](const auto &c) { return c->Uuid() != uuid; }),
                found.end());
    return result;
}

// Characteristic

radio::Guid BluezCharacteristic::Uuid()
{
    const std::optional<Value> uuid = core_->Property(path_, kCharacteristicInterface, "UUID", "s");
    const std::optional<radio::Guid> guid = uuid ? ParseUuid(uuid->text) : std::nullopt;
    if (!guid)
        throw radio::PlatformError(kBadProperty);
    return *guid;
}

radio::CommunicationStatus BluezCharacteristic::WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue value)
{
    const std::shared_ptr<BusConnection> connection = core_->Ready(false);
    if (!connection)
        return radio::CommunicationStatus::Unreachable;
    // bluetoothd writes the descriptor itself and refuses a client's own write of it.
    const bool enable = value != radio::CccdValue::None;
    const char *member = enable ? "StartNotify" : "StopNotify";
    const Reply reply = connection->Call(BluezCall(path_, kCharacteristicInterface, member), core_->Options().callTimeout);
    if (!reply.ok) {
        core_->Report(core_->CallFailure(std::string(member) + " on " + path_, reply));
        return StatusOf(reply);
    }
    std::lock_guard<std::mutex> lock(core_->MirrorMutex());
    notifying_ = enable;
    return radio::CommunicationStatus::Success;
}

void BluezCharacteristic::RaiseValueChanged(const std::string &bytes)
{
    class Args final : public radio::ValueChangedArgs {
    public:
        explicit Args(const std::string &bytes) : bytes_(bytes) {}
        uint32_t UnconsumedBufferLength() override { return static_cast<uint32_t>(bytes_.size() - read_); }
        void ReadBytes(uint8_t *destination, uint32_t count) override
        {
            if (count > bytes_.size() - read_)
                throw radio::PlatformError(radio::kFail);
            if (count != 0)
                std::memcpy(destination, bytes_.data() + read_, count);
            read_ += count;
        }

    private:
        const std::string &bytes_;
        size_t read_ = 0;
    } args(bytes);
    for (auto &handler : valueChanged_.Snapshot())
        handler(*this, args);
}

} // namespace tarvolt::bluez
