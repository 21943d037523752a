#pragma once
// Inside the BlueZ radio: the bus connection (BluezCore.cpp), a mirror of bluetoothd's object
// tree kept current by its signals (BluezTree.cpp), and the registries of the radio's objects
// (BluezObjects.h) that events are raised on. The mirror and the registries are updated on the
// bus loop thread in the order the signals arrive; the events they cause run afterwards on the
// same thread, outside every lock, so that a handler may call back into the radio.
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
    // Events collected under the mirror mutex, run on the loop thread after it.
    using Tasks = std::vector<std::function<void()>>;

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
    // Whether this process runs in a Flatpak sandbox, which hides bluetoothd unless allowed.
    bool InFlatpak() const;
    // What a failed call to the bus or to bluetoothd says about the machine's Bluetooth as a whole.
    radio::Readiness ReadinessAfter(const Reply &reply) const;

    // Mirror queries (any thread).
    // The first powered adapter's path; empty with the reason (and, when asked, whether there is
    // no adapter or only ones switched off) when there is none.
    std::string FirstPoweredAdapter(std::string &reason, radio::Readiness *readiness = nullptr);
    bool HasObject(const std::string &path, const char *interface);
    // The property or null; `type` the expected D-Bus type, a mismatch is reported and null.
    std::optional<Value> Property(const std::string &path, const char *interface, const std::string &name, const char *type);
    std::vector<std::string> Children(const char *interface, const std::string &parentProperty, const std::string &parent);
    // Mirror mutex held: whether an object of `interface` has `parent` as its `parentProperty`,
    // and, when `uuid` is given, that UUID.
    bool HasChildLocked(const char *interface, const std::string &parentProperty, const std::string &parent,
                        const radio::Guid *uuid) const;
    // Makes sure the mirror holds the GATT objects bluetoothd has under `parent` (of `interface`,
    // with `uuid` when given): bluetoothd may signal ServicesResolved ahead of them, and its
    // signals may so far have brought only some of them. With `reread`, or when there are none,
    // its tree is read again; when there are none still, the first one is awaited up to the
    // options' servicesWait and the tree read once more. False when bluetoothd cannot be read.
    bool AwaitChildren(const char *interface, const std::string &parentProperty, const std::string &parent,
                       const radio::Guid *uuid, bool reread);
    // The Device1 objects under the adapter that are connected, with their addresses.
    std::vector<std::pair<std::string, uint64_t>> ConnectedUnder(const std::string &adapter);
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

    // Mirror mutex held: "received" for the watcher of each device under its adapter that shows
    // it is there now, connected or heard in the current discovery (a known device is announced
    // only by changes, and a connected one does not advertise). Its events go into `tasks`.
    void AnnouncePresentLocked(const std::shared_ptr<BluezWatcher> &watcher, Tasks &tasks);
    // A subscription on the device succeeded: its link is ours to let go.
    void SubscribedOn(const std::string &devicePath);
    // On the loop thread: a characteristic's notification socket ended; its device reports the
    // link lost (once: bluetoothd's own word of it, if it comes, is not reported again).
    void NotifySocketEnded(const std::string &devicePath);

private:
    // Ready without reporting: null with what failed.
    std::shared_ptr<BusConnection> Connect(bool refresh, radio::RadioCheck &failure);
    std::shared_ptr<BusConnection> OpenLocked(radio::RadioCheck &failure);  // connectionMutex_ held
    bool RefreshLocked(BusConnection &connection, radio::RadioCheck &failure);
    // On the loop thread, bus mutex held; they take the mirror mutex and post the events.
    void OnSignal(const Signal &signal, BusConnection &connection);
    void OnDisconnect(BusConnection &connection);
    // Mirror mutex held from here on; `tasks` collects the events to post.
    void OwnerLostLocked(Tasks &tasks);
    void InterfacesAddedLocked(const std::string &path, const Value &interfaces, Tasks &tasks);
    void InterfacesRemovedLocked(const std::string &path, const Value &names, Tasks &tasks);
    void PropertiesChangedLocked(const std::string &path, const std::string &interface, const Value &changed,
                                 const Value *invalidated, Tasks &tasks);
    void DeviceChangedLocked(const std::string &path, const std::set<std::string> &names, bool appeared, Tasks &tasks);
    void DiscoveryEndedLocked(const std::string &adapterPath, Tasks &tasks);
    // "received" for the watchers in `scanning`, from the device's properties.
    void ReceivedLocked(const std::string &path, const Properties &properties,
                        const std::vector<std::shared_ptr<BluezWatcher>> &scanning, Tasks &tasks);
    // Every live device at the path reports itself disconnected, unless it has already.
    void LostLocked(const std::string &path, Tasks &tasks);
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

} // namespace tarvolt::bluez
