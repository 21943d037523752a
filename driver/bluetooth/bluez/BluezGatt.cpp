// The BlueZ radio's services and characteristics (GattService1, GattCharacteristic1), and the
// subscription to notifications: AcquireNotify's socket, or StartNotify where it is refused.
#include "BluezObjects.h"

#include <cstring>

namespace tarvolt::bluez {

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
    if (reply.ok && TakeSocket(connection, reply)) {
        core_->SubscribedOn(devicePath_);
        return radio::CommunicationStatus::Success;
    }
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
    {
        std::lock_guard<std::mutex> lock(core_->MirrorMutex());
        notifying_ = true;
    }
    core_->SubscribedOn(devicePath_);
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
