#pragma once
// The BlueZ radio's objects: the watcher (Adapter1's discovery, BluezDiscovery.cpp), the device
// (Device1, BluezDevice.cpp), its services and characteristics (GATT, BluezGatt.cpp), with the
// small helpers they share.
#include "BluezCore.h"
#include "BluezText.h"
#include "NotifySocket.h"

namespace tarvolt::bluez {

inline MethodCall BluezCall(const std::string &path, const char *interface, const char *member,
                            std::vector<Value> args = {})
{
    return {kBluezService, path, interface, member, std::move(args)};
}

inline bool IsError(const Reply &reply, const char *suffix)
{
    return !reply.ok && reply.errorName == std::string("org.bluez.Error.") + suffix;
}

// "AA:BB:CC:DD:EE:FF", as bluetoothd writes addresses.
inline std::string AddressText(uint64_t address)
{
    std::string text = DevicePath("", address).substr(5);  // from "/dev_AA_BB_..."
    for (char &c : text)
        if (c == '_')
            c = ':';
    return text;
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

class BluezWatcher final : public radio::Watcher, public std::enable_shared_from_this<BluezWatcher> {
public:
    explicit BluezWatcher(std::shared_ptr<BluezCore> core) : core_(std::move(core)), lease_(core_) {}
    void SetScanningMode(radio::ScanningMode mode) override;
    radio::EventToken AddReceived(ReceivedHandler handler) override { return received_.Add(std::move(handler)); }
    radio::EventToken AddStopped(StoppedHandler handler) override { return stopped_.Add(std::move(handler)); }
    void RemoveReceived(radio::EventToken token) override { received_.Remove(token); }
    void RemoveStopped(radio::EventToken token) override { stopped_.Remove(token); }
    void Start() override;
    void Stop() override;
    radio::WatcherStatus Status() override;

    // Mirror mutex held: whether this watcher's discovery covers the device at `path`.
    bool ScanningLocked(const std::string &devicePath) const;
    bool ScanningAdapterLocked(const std::string &adapterPath) const;
    // Mirror mutex held: the discovery ended without us; true when it was running.
    bool EndedLocked();
    void RaiseReceived(const std::u16string &name, uint64_t address, std::optional<int16_t> rssi);
    void RaiseStopped();

private:
    std::shared_ptr<BluezCore> core_;
    Lease lease_;
    HandlerList<ReceivedHandler> received_;
    HandlerList<StoppedHandler> stopped_;
    // Under the core's mirror mutex.
    bool started_ = false;
    radio::WatcherStatus status_ = radio::WatcherStatus::Created;
    std::string adapter_;
};

class BluezDevice final : public radio::Device, public std::enable_shared_from_this<BluezDevice> {
public:
    BluezDevice(std::shared_ptr<BluezCore> core, std::string path, uint64_t address)
        : core_(std::move(core)), lease_(core_), path_(std::move(path)), address_(address)
    {
    }
    ~BluezDevice() override;
    radio::EventToken AddConnectionStatusChanged(ConnectionStatusHandler handler) override
    {
        return statusChanged_.Add(std::move(handler));
    }
    void RemoveConnectionStatusChanged(radio::EventToken token) override { statusChanged_.Remove(token); }
    radio::ConnectionStatus GetConnectionStatus() override;
    std::u16string Name() override;
    uint64_t BluetoothAddress() override { return address_; }
    radio::ServicesResult GetGattServices() override;
    // bluetoothd has no cache mode: its objects are the services it resolved on this connection.
    radio::ServicesResult GetGattServicesForUuid(const radio::Guid &uuid, radio::CacheMode mode) override;
    // bluetoothd keeps a link up until someone disconnects it; nothing to ask for.
    void MaintainConnection(bool) override {}
    // BlueZ gives a client no say over the connection parameters.
    bool RequestLowLatency() override { return false; }
    void Close() override;

    const std::string &Path() const { return path_; }
    bool ClosedLocked() const { return closed_; }
    void GoneLocked() { gone_ = true; }
    void BackLocked() { gone_ = false; }
    bool GoneFlagLocked() const { return gone_; }
    // The link's loss is told once, whoever tells of it first (bluetoothd's Connected, the end of
    // a notification socket, bluetoothd or its object going): true when it is news now.
    bool TakeLossLocked()
    {
        const bool news = !lossReported_;
        lossReported_ = true;
        return news;
    }
    void ConnectedLocked() { lossReported_ = false; }
    void OursLocked() { ours_ = true; }
    void SocketLostLocked() { socketLost_ = true; }
    // The name last read, kept for a device whose object is gone (bluetoothd went away).
    void KeepNameLocked(const std::string &name) { lastName_ = name; }
    void RaiseStatusChanged();

private:
    // Our subscriptions ended, then Disconnect when the link is ours; nothing awaited.
    void Release();
    radio::ServicesResult Services(const radio::Guid *uuid);

    std::shared_ptr<BluezCore> core_;
    Lease lease_;
    std::string path_;
    uint64_t address_;
    HandlerList<ConnectionStatusHandler> statusChanged_;
    // Under the core's mirror mutex.
    bool closed_ = false;
    bool gone_ = false;  // bluetoothd or the bus went away since this device was obtained
    bool ours_ = false;  // we made the link, or subscribed on it: it is ours to let go
    bool socketLost_ = false;    // a notification socket of ours ended since the last connection
    bool lossReported_ = false;  // its loss of the link has been told since it was last connected
    std::string lastName_;
};

class BluezService final : public radio::Service {
public:
    BluezService(std::shared_ptr<BluezCore> core, std::string path, std::string devicePath)
        : core_(std::move(core)), lease_(core_), path_(std::move(path)), devicePath_(std::move(devicePath))
    {
    }
    radio::Guid Uuid() override;
    radio::CharacteristicsResult GetCharacteristics() override;
    // bluetoothd has no cache mode: its objects are what it resolved on this connection.
    radio::CharacteristicsResult GetCharacteristicsForUuid(const radio::Guid &uuid, radio::CacheMode mode) override;
    void Close() override {}

private:
    radio::CharacteristicsResult Characteristics(const radio::Guid *uuid);

    std::shared_ptr<BluezCore> core_;
    Lease lease_;
    std::string path_;
    std::string devicePath_;
};

class BluezCharacteristic final : public radio::Characteristic,
                                  public std::enable_shared_from_this<BluezCharacteristic> {
public:
    BluezCharacteristic(std::shared_ptr<BluezCore> core, std::string path, std::string devicePath)
        : core_(std::move(core)), lease_(core_), path_(std::move(path)), devicePath_(std::move(devicePath))
    {
    }
    ~BluezCharacteristic() override;
    radio::Guid Uuid() override;
    radio::EventToken AddValueChanged(ValueChangedHandler handler) override { return valueChanged_.Add(std::move(handler)); }
    void RemoveValueChanged(radio::EventToken token) override { valueChanged_.Remove(token); }
    // Notify: AcquireNotify, whose socket carries the notifications only; where bluetoothd
    // refuses it (another client's StartNotify session, an older BlueZ), StartNotify and the
    // Value changes. None: the socket closed, or StopNotify.
    radio::CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue value) override;

    const std::string &Path() const { return path_; }
    const std::string &DevicePath() const { return devicePath_; }
    bool NotifyingLocked() const { return notifying_; }
    // Value changes are notifications only when we subscribed with StartNotify.
    bool AcquiredLocked() const { return socket_ != nullptr; }
    // Ends our subscription, whichever it is; nothing awaited.
    void Unsubscribe(BusConnection &connection);
    // Mirror mutex held: bluetoothd ended our subscription (its socket ended, bluetoothd went).
    void SubscriptionEndedLocked();
    void RaiseValueChanged(const std::string &bytes);

private:
    radio::CommunicationStatus StartNotify(BusConnection &connection);
    // The socket of an AcquireNotify reply, read from now on; false when the reply is no such thing.
    bool TakeSocket(const std::shared_ptr<BusConnection> &connection, const Reply &reply);

    std::shared_ptr<BluezCore> core_;
    Lease lease_;
    std::string path_;
    std::string devicePath_;
    HandlerList<ValueChangedHandler> valueChanged_;
    // Under the core's mirror mutex.
    bool notifying_ = false;                // our subscription stands
    std::shared_ptr<NotifySocket> socket_;  // when it came from AcquireNotify
};

// The status a failed reply of bluetoothd stands for.
radio::CommunicationStatus StatusOf(const Reply &reply);

} // namespace tarvolt::bluez
