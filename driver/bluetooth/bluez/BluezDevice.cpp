// The BlueZ radio's device (Device1): connecting and waiting for the services, the link's
// status, and letting the link go.
#include "BluezObjects.h"

namespace tarvolt::bluez {

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
        // A link we make is ours to let go; one that another program made becomes ours once we
        // subscribe on it. What is lost from now on is news again.
        const Properties *device = core_->FindLocked(path_, kDeviceInterface);
        const auto connected = device ? device->find("Connected") : Properties::const_iterator();
        if (device == nullptr || connected == device->end() || connected->second.type != 'b' || !connected->second.boolean)
            ours_ = true;
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
    // bluetoothd's Disconnect drops the link for every program: a link that another program made
    // and we did not subscribe on (a keyboard among the connected devices, the rifle that
    // SteamVR's driver holds while the probe looks at it) stays up.
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        if (!ours_)
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

std::vector<std::pair<std::string, uint64_t>> BluezCore::ConnectedUnder(const std::string &adapter)
{
    std::vector<std::pair<std::string, uint64_t>> out;
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    for (const auto &object : tree_) {
        const auto device = object.second.find(kDeviceInterface);
        if (device == object.second.end() || object.first.compare(0, adapter.size() + 1, adapter + "/") != 0)
            continue;
        const auto connected = device->second.find("Connected");
        const auto address = device->second.find("Address");
        if (connected == device->second.end() || connected->second.type != 'b' || !connected->second.boolean ||
            address == device->second.end() || address->second.type != 's')
            continue;
        if (const std::optional<uint64_t> parsed = ParseAddress(address->second.text))
            out.emplace_back(object.first, *parsed);
    }
    return out;
}

void BluezCore::SubscribedOn(const std::string &devicePath)
{
    Tasks tasks;
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    for (auto &device : LiveDevicesLocked(devicePath, tasks))
        device->OursLocked();
}

void BluezCore::NotifySocketEnded(const std::string &devicePath)
{
    Tasks tasks;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        for (auto &device : LiveDevicesLocked(devicePath, tasks)) {
            device->SocketLostLocked();
            if (device->TakeLossLocked())
                tasks.push_back([device] { device->RaiseStatusChanged(); });
        }
    }
    mirrorChanged_.notify_all();
    for (auto &task : tasks)
        task();
}

} // namespace tarvolt::bluez
