#pragma once
// Inside the BlueZ radio: the bus connection, a mirror of bluetoothd's object tree kept current
// by its signals, and the radio objects that events are raised on. The mirror and the object
// registries are updated on the bus loop thread in the order the signals arrive; the events they
// cause run afterwards on the same thread, outside every lock, so that a handler may call back
// into the radio.
#include "BluezRadio.h"
#include "BusConnection.h"
#include "../HandlerList.h"

#include <condition_variable>
#include <optional>
#include <map>
#include <mutex>
#include <set>

namespace tarvolt::bluez {

using Properties = std::map<std::string, Value>;
using Interfaces = std::map<std::string, Properties>;
using ObjectTree = std::map<std::string, Interfaces>;

inline constexpr const char *kBluezService = "org.bluez";
inline constexpr const char *kAdapterInterface = "org.bluez.Adapter1";
inline constexpr const char *kDeviceInterface = "org.bluez.Device1";
inline constexpr const char *kServiceInterface = "org.bluez.GattService1";
inline constexpr const char *kCharacteristicInterface = "org.bluez.GattCharacteristic1";

using radio::HandlerList;

class BluezWatcher;
class BluezDevice;
class BluezCharacteristic;
class BluezCore;

// Keeps the core's connection wanted while the object that holds it lives; declared after the
// object's other members that need the connection, so that it goes last.
class Lease {
public:
    explicit Lease(std::shared_ptr<BluezCore> core);
    ~Lease();
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;

private:
    std::shared_ptr<BluezCore> core_;
};

class BluezCore : public std::enable_shared_from_this<BluezCore> {
public:
    BluezCore(BluezOptions options, LogSink log);
    ~BluezCore();

    const BluezOptions &Options() const { return options_; }

    // The open connection with a current mirror, opened or refreshed as needed; null when that
    // fails, after the reason was reported. `refresh` forces a new snapshot of the tree.
    std::shared_ptr<BusConnection> Ready(bool refresh);
    // Whether bluetoothd can be reached and has a powered adapter, for Radio::CheckRadio; the
    // reason is not logged.
    radio::RadioCheck Check();
    // The open connection as it is, or null (no reconnection).
    std::shared_ptr<BusConnection> Current();
    // The next Ready reads the object tree again.
    void MarkStale();
    void Shutdown();
    void SetInterrupted(bool interrupted);

    // One "BlueZ: " line per reason: the same reason again is not logged until Clear.
    void Report(const std::string &reason);
    void Clear();
    // A property of an unexpected type, logged once per object, property and type.
    void ReportBadProperty(const std::string &path, const std::string &name, const Value &value,
                           const char *expected);
    // The failure of a call as a line's reason; also reports an AccessDenied in words.
    std::string CallFailure(const std::string &what, const Reply &reply) const;

    // Mirror queries (any thread).
    // The first powered adapter's path; empty with the reason (and, when asked, whether there is
    // no adapter or only ones switched off) when there is none.
    std::string FirstPoweredAdapter(std::string &reason, radio::Readiness *readiness = nullptr);
    bool HasObject(const std::string &path, const char *interface);
    // The property or null; `type` the expected D-Bus type, a mismatch is reported and null.
    std::optional<Value> Property(const std::string &path, const char *interface, const std::string &name, const char *type);
    std::vector<std::string> Children(const char *interface, const std::string &parentProperty, const std::string &parent);
    // Waits until `done` holds for the mirror, the time is up, or waits are interrupted.
    bool WaitForMirror(const std::function<bool()> &done, std::chrono::milliseconds limit);
    std::mutex &MirrorMutex() { return mirrorMutex_; }
    // Under MirrorMutex.
    const Properties *FindLocked(const std::string &path, const char *interface) const;
    // How often the device at `path` was seen to lose its link (Connected from true to false).
    uint64_t LinkLossesLocked(const std::string &path) const;

    // The radio's objects hold a lease each. When the last one goes (the worker has ended), the
    // connection closes and its loop ends: nothing of the radio runs, or logs, between runs.
    void Acquire();
    void Release();
    // Radio objects still held, plus the open connection whose loop runs our code.
    int Held();

    void Register(const std::shared_ptr<BluezWatcher> &watcher);
    void Register(const std::shared_ptr<BluezDevice> &device);
    void Register(const std::shared_ptr<BluezCharacteristic> &characteristic);
    // Our characteristics under a device that have notifications enabled (mirror mutex taken).
    std::vector<std::shared_ptr<BluezCharacteristic>> SubscribedUnder(const std::string &devicePath);

private:
    // Ready without reporting: null with what failed.
    std::shared_ptr<BusConnection> Connect(bool refresh, radio::RadioCheck &failure);
    std::shared_ptr<BusConnection> OpenLocked(radio::RadioCheck &failure);  // connectionMutex_ held
    bool RefreshLocked(BusConnection &connection, radio::RadioCheck &failure);
    // On the loop thread, bus mutex held; they take the mirror mutex and post the events.
    void OnSignal(const Signal &signal, BusConnection &connection);
    void OnDisconnect(BusConnection &connection);
    // Mirror mutex held from here on; `tasks` collects the events to post.
    using Tasks = std::vector<std::function<void()>>;
    void OwnerLostLocked(Tasks &tasks);
    void InterfacesAddedLocked(const std::string &path, const Value &interfaces, Tasks &tasks);
    void InterfacesRemovedLocked(const std::string &path, const Value &names, Tasks &tasks);
    void PropertiesChangedLocked(const std::string &path, const std::string &interface, const Value &changed,
                                 const Value *invalidated, Tasks &tasks);
    void DeviceChangedLocked(const std::string &path, const std::set<std::string> &names, bool appeared, Tasks &tasks);
    void DiscoveryEndedLocked(const std::string &adapterPath, Tasks &tasks);
    void BadPropertyTask(const std::string &path, const std::string &name, const Value &value, const char *expected,
                         Tasks &tasks);
    // The live objects of a registry. Each one found also goes into a task of `tasks`: an object
    // whose last other reference goes meanwhile must not end here, under the locks its release
    // takes too, but on the loop thread after them.
    std::vector<std::shared_ptr<BluezWatcher>> LiveWatchersLocked(Tasks &tasks);
    std::vector<std::shared_ptr<BluezDevice>> LiveDevicesLocked(const std::string &path, Tasks &tasks);
    std::vector<std::shared_ptr<BluezCharacteristic>> LiveCharacteristicsLocked(const std::string &path, Tasks &tasks);

    BluezOptions options_;
    LogSink log_;
    const SdBusApi *api_ = nullptr;
    std::string libraryError_;

    std::mutex connectionMutex_;
    std::shared_ptr<BusConnection> connection_;
    int leases_ = 0;  // under connectionMutex_
    bool interrupted_ = false;

    std::mutex mirrorMutex_;
    std::condition_variable mirrorChanged_;
    std::string owner_;  // bluetoothd's unique name; empty when it is not on the bus
    ObjectTree tree_;
    std::map<std::string, uint64_t> linkLosses_;
    bool fresh_ = false;
    bool waitsInterrupted_ = false;
    std::vector<std::weak_ptr<BluezWatcher>> watchers_;
    std::vector<std::weak_ptr<BluezDevice>> devices_;
    std::vector<std::weak_ptr<BluezCharacteristic>> characteristics_;

    std::mutex reportMutex_;
    std::string lastReason_;
    std::set<std::string> badProperties_;
};

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
    bool GoneFlagLocked() const { return gone_; }
    // The name last read, kept for a device whose object is gone (bluetoothd went away).
    void KeepNameLocked(const std::string &name) { lastName_ = name; }
    void RaiseStatusChanged();

private:
    void Release();  // StopNotify on our subscriptions, then Disconnect; nothing awaited

    std::shared_ptr<BluezCore> core_;
    Lease lease_;
    std::string path_;
    uint64_t address_;
    HandlerList<ConnectionStatusHandler> statusChanged_;
    // Under the core's mirror mutex.
    bool closed_ = false;
    bool gone_ = false;  // bluetoothd or the bus went away since this device was obtained
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
    radio::CharacteristicsResult GetCharacteristicsForUuid(const radio::Guid &uuid, radio::CacheMode mode) override;
    void Close() override {}

private:
    std::shared_ptr<BluezCore> core_;
    Lease lease_;
    std::string path_;
    std::string devicePath_;
};

class BluezCharacteristic final : public radio::Characteristic {
public:
    BluezCharacteristic(std::shared_ptr<BluezCore> core, std::string path, std::string devicePath)
        : core_(std::move(core)), lease_(core_), path_(std::move(path)), devicePath_(std::move(devicePath))
    {
    }
    radio::Guid Uuid() override;
    radio::EventToken AddValueChanged(ValueChangedHandler handler) override { return valueChanged_.Add(std::move(handler)); }
    void RemoveValueChanged(radio::EventToken token) override { valueChanged_.Remove(token); }
    radio::CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue value) override;

    const std::string &Path() const { return path_; }
    const std::string &DevicePath() const { return devicePath_; }
    bool NotifyingLocked() const { return notifying_; }
    void SetNotifyingLocked(bool notifying) { notifying_ = notifying; }
    void RaiseValueChanged(const std::string &bytes);

private:
    std::shared_ptr<BluezCore> core_;
    Lease lease_;
    std::string path_;
    std::string devicePath_;
    HandlerList<ValueChangedHandler> valueChanged_;
    bool notifying_ = false;  // under the core's mirror mutex: our StartNotify succeeded
};

// The status a failed reply of bluetoothd stands for.
radio::CommunicationStatus StatusOf(const Reply &reply);

} // namespace tarvolt::bluez
