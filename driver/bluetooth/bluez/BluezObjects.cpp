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

// A UUID that cannot be read is passed over like one that does not match.
template <typename Object>
bool HasUuid(Object &object, const radio::Guid &uuid)
{
    try {
        return object.Uuid() == uuid;
    } catch (const radio::PlatformError &) {
        return false;
    }
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
    // Low-energy devices only, and every advertisement reported: without a filter bluetoothd
    // pauses between scans, and a device it knows already is announced again only when its RSSI
    // moved by 8 dBm; since 5.88 that holds under any filter without RSSI or Pathloss. An RSSI
    // floor of -127 dBm keeps every device (src/adapter.c: discovery_filter_has_proximity).
    const Value filter = Value::StringVariantDict({{"Transport", Value::String("le")},
                                                   {"DuplicateData", Value::Bool(true)},
                                                   {"RSSI", Value::Int16(-127)}});
    Reply reply = connection->Call(BluezCall(adapter, kAdapterInterface, "SetDiscoveryFilter", {filter}), timeout);
    if (!reply.ok) {
        core_->Report(core_->CallFailure("SetDiscoveryFilter on " + adapter, reply));
        throw radio::PlatformError(kCallFailed);
    }
    const std::shared_ptr<BluezWatcher> self = shared_from_this();
    reply = connection->Call(BluezCall(adapter, kAdapterInterface, "StartDiscovery"), timeout, [&](Reply &answer) {
        // This connection's discovery already runs: it is ours, and it goes on.
        if (!answer.ok && answer.errorName != "org.bluez.Error.InProgress")
            return;
        BluezCore::Tasks tasks;
        {
            std::lock_guard<std::mutex> lock(core_->MirrorMutex());
            started_ = true;
            status_ = radio::WatcherStatus::Started;
            adapter_ = adapter;
            // In order with the signals: what the tree shows now, then what comes after.
            core_->AnnouncePresentLocked(self, tasks);
        }
        for (auto &task : tasks)
            connection->Post(std::move(task));
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
        if (gone_ || socketLost_)
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

radio::ServicesResult BluezDevice::GetGattServices() { return Services(nullptr); }

radio::ServicesResult BluezDevice::GetGattServicesForUuid(const radio::Guid &uuid, radio::CacheMode)
{
    return Services(&uuid);
}

radio::ServicesResult BluezDevice::Services(const radio::Guid *uuid)
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
        // From here the link is ours to let go, and what is lost from now on is news again.
        used_ = true;
        socketLost_ = lossReported_ = false;
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
    // Looked up by UUID in what bluetoothd has now: paths are named by attribute handles, which
    // a firmware update moves, and without the GATT cache the objects go with every link.
    if (!core_->AwaitChildren(kServiceInterface, "Device", path_, uuid, true))
        return result;
    result.status = radio::CommunicationStatus::Success;
    for (const std::string &service : core_->Children(kServiceInterface, "Device", path_)) {
        auto object = std::make_shared<BluezService>(core_, service, path_);
        if (uuid == nullptr || HasUuid(*object, *uuid))
            result.services.push_back(std::move(object));
    }
    core_->Clear();
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
    for (const auto &characteristic : core_->SubscribedUnder(path_))
        characteristic->Unsubscribe(*connection);
    // A device only listed (a keyboard among the connected devices) keeps its link.
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (!used_)
            return;
    }
    // Not awaited: bluetoothd answers Disconnect only once the link is down, 2 s later.
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

radio::CharacteristicsResult BluezService::GetCharacteristics() { return Characteristics(nullptr); }

radio::CharacteristicsResult BluezService::GetCharacteristicsForUuid(const radio::Guid &uuid, radio::CacheMode)
{
    return Characteristics(&uuid);
}

radio::CharacteristicsResult BluezService::Characteristics(const radio::Guid *uuid)
{
    radio::CharacteristicsResult result{radio::CommunicationStatus::Unreachable, {}};
    if (!core_->HasObject(path_, kServiceInterface) ||
        !core_->AwaitChildren(kCharacteristicInterface, "Service", path_, uuid, false))
        return result;
    result.status = radio::CommunicationStatus::Success;
    for (const std::string &path : core_->Children(kCharacteristicInterface, "Service", path_)) {
        auto characteristic = std::make_shared<BluezCharacteristic>(core_, path, devicePath_);
        if (uuid != nullptr && !HasUuid(*characteristic, *uuid))
            continue;
        core_->Register(characteristic);
        result.characteristics.push_back(std::move(characteristic));
    }
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

BluezCharacteristic::~BluezCharacteristic()
{
    // The socket closes with its last holder: bluetoothd then ends the notifications.
    std::lock_guard<std::mutex> lock(core_->MirrorMutex());
    if (socket_)
        socket_->Close();
}

radio::CommunicationStatus BluezCharacteristic::WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue value)
{
    const std::shared_ptr<BusConnection> connection = core_->Ready(false);
    if (!connection)
        return radio::CommunicationStatus::Unreachable;
    if (value == radio::CccdValue::None) {
        Unsubscribe(*connection);
        return radio::CommunicationStatus::Success;
    }
    // bluetoothd writes the descriptor itself and refuses a client's own write of it.
    const Reply reply = connection->Call(BluezCall(path_, kCharacteristicInterface, "AcquireNotify",
                                                   {Value::StringVariantDict({})}),
                                         core_->Options().callTimeout);
    if (reply.ok && TakeSocket(connection, reply))
        return radio::CommunicationStatus::Success;
    // Refused while another client has a StartNotify session (InProgress) or holds the socket
    // (NotPermitted), where the characteristic cannot (NotSupported), and by a BlueZ without it.
    const std::string &name = reply.errorName;
    if (reply.ok || name == "org.bluez.Error.InProgress" || name == "org.bluez.Error.NotPermitted" ||
        name == "org.bluez.Error.NotSupported" || name == "org.freedesktop.DBus.Error.UnknownMethod")
        return StartNotify(*connection);
    core_->Report(core_->CallFailure("AcquireNotify on " + path_, reply));
    return StatusOf(reply);
}

bool BluezCharacteristic::TakeSocket(const std::shared_ptr<BusConnection> &connection, const Reply &reply)
{
    if (reply.values.size() != 2 || reply.values[0].type != 'h' || !reply.values[0].descriptor ||
        reply.values[1].type != 'q')
        return false;
    const std::weak_ptr<BluezCharacteristic> weak = weak_from_this();
    const std::shared_ptr<BluezCore> core = core_;
    const std::string devicePath = devicePath_;
    auto socket = NotifySocket::Start(
        connection, reply.values[0].descriptor, static_cast<uint16_t>(reply.values[1].natural),
        [weak](const std::string &bytes) {
            if (auto self = weak.lock())
                self->RaiseValueChanged(bytes);
        },
        [weak, core, devicePath] {
            if (auto self = weak.lock()) {
                std::lock_guard<std::mutex> lock(core->MirrorMutex());
                self->SubscriptionEndedLocked();
            }
            core->NotifySocketEnded(devicePath);
        });
    if (!socket)
        return false;
    std::shared_ptr<NotifySocket> previous;
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        previous = std::move(socket_);
        socket_ = std::move(socket);
        notifying_ = true;
    }
    if (previous)
        previous->Close();
    return true;
}

radio::CommunicationStatus BluezCharacteristic::StartNotify(BusConnection &connection)
{
    const Reply reply = connection.Call(BluezCall(path_, kCharacteristicInterface, "StartNotify"),
                                        core_->Options().callTimeout);
    if (!reply.ok) {
        core_->Report(core_->CallFailure("StartNotify on " + path_, reply));
        return StatusOf(reply);
    }
    // bluetoothd accepts StartNotify on a device that is not connected and keeps the session for
    // later: the link is gone (its change came before this answer), so nothing is subscribed now.
    const std::optional<Value> connected = core_->Property(devicePath_, kDeviceInterface, "Connected", "b");
    if (!connected || !connected->boolean) {
        connection.Send(BluezCall(path_, kCharacteristicInterface, "StopNotify"));
        core_->Report("the link to " + devicePath_ + " was lost before its notifications were enabled");
        return radio::CommunicationStatus::Unreachable;
    }
    std::lock_guard<std::mutex> lock(core_->MirrorMutex());
    notifying_ = true;
    return radio::CommunicationStatus::Success;
}

void BluezCharacteristic::Unsubscribe(BusConnection &connection)
{
    std::shared_ptr<NotifySocket> socket;
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (!notifying_ && !socket_)
            return;
        notifying_ = false;
        socket = std::move(socket_);
    }
    if (socket)
        socket->Close();
    else
        connection.Send(BluezCall(path_, kCharacteristicInterface, "StopNotify"));  // not awaited
}

void BluezCharacteristic::SubscriptionEndedLocked()
{
    notifying_ = false;
    if (socket_)
        socket_->Close();
    socket_.reset();
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
