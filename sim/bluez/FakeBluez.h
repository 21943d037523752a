#pragma once
// A stand-in for bluetoothd on a private bus: it owns org.bluez and serves the part of BlueZ's
// D-Bus API that the BlueZ radio uses (the object manager, Adapter1, Device1, GattService1,
// GattCharacteristic1), from peripherals scripted through the simulated radio's RadioControl, so
// that the same scripts drive either radio.
//
// It behaves as bluetoothd does where that is awkward for a client; each rule cites where BlueZ
// does it (src/adapter.c, src/device.c, src/gatt-client.c, gdbus/object.c). Always: one Device1
// object per remote device, shared by every client, made by whichever client's discovery first
// hears it; a known device announced again only by property changes; discovery per client,
// StartDiscovery twice refused with InProgress; Connect answered when the link is up, the
// services after, refused with InProgress while another is pending; Connect on a connected device
// and Disconnect on a disconnected one succeed;
// Connect to a device that does not advertise fails after about 5 s; StartNotify on a
// disconnected device succeeds at once; notifications are Value changes, also when the bytes
// repeat, and so is any client's ReadValue; AcquireNotify hands out a socket that carries the
// notifications only; powering off ends every discovery and link; a restarted bluetoothd comes
// back with the devices it had connected to, none connected, no discovery running.
// Where versions and main.conf differ, BluezModes selects; the defaults are those of a stock
// distribution's bluetoothd (5.66 to 5.87, main.conf untouched) with a quick Disconnect.
// sim/bluez/FakeBus.cpp serves the bus, FakeObjects.cpp the object tree, FakeAdapter.cpp the
// adapter and discovery, FakeDevice.cpp the devices and their GATT objects, FakeScript.cpp what
// tests script.
#include "RadioControl.h"
#include "bluetooth/bluez/DbusValue.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace sim {

struct BluezModes {
    // How a known device's RSSI is signalled during discovery (src/adapter.c:
    // btd_adapter_device_found). UpTo587: any discovering client's filter makes every report
    // signalled, also an unchanged one. Master (after 5.87, commit e004414a1): only a filter with
    // RSSI or Pathloss does (discovery_filter_has_proximity). Otherwise only a change of 8 dBm
    // or more (src/device.c: device_set_rssi_with_delta, RSSI_THRESHOLD).
    enum class RssiRule { UpTo587, Master } rssiRule = RssiRule::UpTo587;
    // main.conf [GATT] Cache = no: the GATT objects go before the link is announced down and come
    // back after the next connection (src/device.c: gatt_cache_is_enabled, gatt_cache_cleanup).
    bool cacheNo = false;
    // ServicesResolved reaches clients before the InterfacesAdded of the GATT objects, as when a
    // reply flushes the device's queued change first (gdbus/object.c: g_dbus_send_message,
    // process_changes). Holding Step::Services then parks the objects, not the resolution.
    bool servicesResolvedFirst = false;
    // Disconnect answered only once a 2 s timer took the link down, StartNotify refused with
    // NotConnected meanwhile (src/device.c: device_request_disconnect, DISCONNECT_TIMER;
    // src/gatt-client.c: characteristic_start_notify). Off: the link goes down at once.
    bool slowDisconnect = false;
    // Off: a BlueZ without GattCharacteristic1.AcquireNotify (UnknownMethod).
    bool acquireNotify = true;
    // The ATT MTU that AcquireNotify reports (src/gatt-client.c: create_sock).
    uint16_t mtu = 23;
    // main.conf [General] TemporaryTimeout, on the simulation's clock (src/main.c:
    // DEFAULT_TEMPORARY_TIMEOUT; src/device.c: device_update_last_seen, device_disappeared).
    std::chrono::seconds temporaryTimeout{30};
};

class FakeBluez final : public RadioControl {
public:
    explicit FakeBluez(std::string busAddress);
    ~FakeBluez();
    FakeBluez(const FakeBluez &) = delete;
    FakeBluez &operator=(const FakeBluez &) = delete;

    // Connects, owns org.bluez and serves; false with the reason otherwise.
    bool Start(std::string &error);
    void SetModes(const BluezModes &modes);

    // RadioControl. Holding Step::Connect parks Device1.Connect, Step::Subscribe StartNotify
    // and AcquireNotify, Step::Services the resolution of the services after the link is up.
    // A script's GAP name replaces the advertised one once connected; one connected at start is
    // as ConnectByAnotherClient leaves it; an Outcome's `times` counts connections for the
    // services query and descriptor writes (by either call) for a subscription.
    int AddPeripheral(const PeripheralScript &script) override;
    // No adapter: RemoveAdapter; switched off: SetPowered(false); the service missing: Vanish;
    // ready: SetPowered(true). The Windows Runtime's classes have no BlueZ equivalent.
    void SetReadiness(Readiness readiness) override;
    void SetAdvertising(int peripheral, bool advertising) override;
    void SetAdvertiseInterval(std::chrono::milliseconds interval) override;
    void Notify(int peripheral, const std::vector<uint8_t> &bytes) override;
    // A Value of another type than bytes (a notification socket carries nothing then).
    void NotifyFailing(int peripheral, ResultCode error) override;
    void Drop(int peripheral) override;
    void EndScan() override;
    // The radio going away is the adapter powered off, as when it is switched off.
    void SetRadioAvailable(bool available) override { SetPowered(available); }
    void Hold(int peripheral, Step step) override;
    bool WaitUntilHeld(int peripheral, Step step, std::chrono::milliseconds limit) override;
    void Release(int peripheral, Step step) override;
    void PauseEvents() override;
    void ResumeEvents() override;
    bool WaitUntilIdle(std::chrono::milliseconds limit) override;
    RadioStats Stats() override;
    // The simulation's clock (bluetoothd's timers here, the driver's pauses in a build with the
    // fake) runs factor times as fast, and peripherals advertise factor times as often.
    void CompressTime(uint32_t factor) override;
    void Shutdown() override;

    // bluetoothd ends (its name leaves the bus) and, with Start, comes back.
    void Vanish();
    void SetPowered(bool powered);
    void RemoveAdapter();
    // A property served with the given value whatever its proper type (interface "Device1",
    // "GattService1" or "GattCharacteristic1"; for the latter two, of every such object of the
    // peripheral).
    void OverrideProperty(int peripheral, const std::string &interface, const std::string &name,
                          const tarvolt::bluez::Value &value);

    // What other programs on the machine do to bluetoothd's shared objects.
    // A discovery of another client without a filter (a desktop's Bluetooth panel left open);
    // when this returns, it has heard every peripheral that advertises.
    void SetAnotherClientDiscovering(bool discovering);
    // The peripheral's object exists already, from bluetoothd's storage of an earlier session:
    // its name, no RSSI, not connected.
    void MakeKnown(int peripheral);
    // Another client (a crashed SteamVR, a desktop applet) connected the peripheral and left the
    // bus: the link stays up with its services resolved, and the peripheral stops advertising.
    // With `subscribe`, a StartNotify session of that client stays on its characteristics.
    void ConnectByAnotherClient(int peripheral, bool subscribe = false);
    // Another client calls `member` (ReadValue, StopNotify) on every characteristic of the
    // peripheral through the bus; false when the bus cannot be reached (refusals count as answers).
    bool AnotherClientCalls(int peripheral, const std::string &member);
    // Another client, not bluetoothd, sends the Value change of a notification on the rifle's
    // characteristics, as any local program could.
    bool Impersonate(int peripheral, const std::vector<uint8_t> &bytes);
    // A firmware update moved the peripheral's attributes: from its next connection on, its
    // GATT objects are named by other handles.
    void ChangeAttributeTable(int peripheral);

    int Connects();  // Device1.Connect calls so far
    // Waits until `member` (a method name) has been called at least `count` times.
    bool WaitForCalls(const std::string &member, int count, std::chrono::milliseconds limit);
    // Waits until a client read the object tree (GetManagedObjects) after the latest Park.
    bool WaitForTreeReadWhileHeld(std::chrono::milliseconds limit);
    // Waits until the counts satisfy `done` (calls sent without awaiting their answer arrive
    // some time after the sender went on).
    bool WaitForStats(const std::function<bool(const RadioStats &)> &done, std::chrono::milliseconds limit);

private:
    using Value = tarvolt::bluez::Value;
    using Props = std::map<std::string, Value>;
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Filter {
        std::string transport = "auto";
        bool duplicate = false, rssi = false, pathloss = false, uuids = false, pattern = false;
        // What bluetoothd merges as a plain discovery (src/adapter.c: merge_discovery_filters).
        bool Regular() const { return transport == "auto" && !duplicate && !rssi && !pathloss && !uuids && !pattern; }
    };
    struct Peripheral {
        PeripheralScript script;
        bool known = false;      // its Device1 object exists
        bool bonded = false;     // not temporary: connected once, or stored
        bool connected = false;
        bool gatt = false;       // its GATT objects exist
        bool resolved = false;   // ServicesResolved
        int16_t rssi = 0;        // as bluetoothd holds it; 0: none
        bool found = false;      // heard in the current discovery
        TimePoint lastSeen{};    // on the simulation's clock
        std::string name;        // Device1.Name; empty: none
        std::string gapName;
        unsigned handleShift = 0, nextHandleShift = 0;
        std::vector<uint8_t> value;  // what a read of its characteristics gives
        int refusedWrites = 0, failedBrowses = 0;  // against the script's Outcome::times
        std::vector<sd_bus_message *> disconnects;  // answered when the link is down
        TimePoint disconnectAt{};                    // when `disconnecting`
        bool disconnecting = false;
        std::vector<sd_bus_message *> failingConnects;  // to a peripheral that does not advertise
        TimePoint connectFailsAt{};
        std::map<std::string, Props> overrides;
    };
    struct Parked {
        sd_bus_message *call;  // null for the services
        std::string path;      // the characteristic of a parked StartNotify or AcquireNotify
    };
    struct Acquired {
        int fd;
        std::string owner;
    };

    // FakeBus.cpp and FakeObjects.cpp: the bus, the loop and the object tree.
    void Loop();
    void Wake();
    void StopLoop();
    static int OnMessage(sd_bus_message *message, void *userdata, sd_bus_error *error);
    int HandleCall(sd_bus_message *message);
    void HandleOwnerChanged(sd_bus_message *message);
    // Everything below with mutex_ held.
    void Emit(const std::string &path, const char *interface, const char *member, const std::vector<Value> &args);
    void EmitChanged(const std::string &path, const std::string &interface, const Props &changed,
                     const std::vector<std::string> &invalidated = {});
    void EmitAdded(const std::string &path);
    void EmitRemoved(const std::string &path, const std::vector<std::string> &interfaces);
    void Reply(sd_bus_message *call, const std::vector<Value> &values = {});
    void ReplyError(sd_bus_message *call, const char *name, const char *message);
    std::map<std::string, Props> Interfaces(const std::string &path);
    Value ManagedObjects();
    int PeripheralAt(const std::string &devicePath);
    std::string DevicePathOf(int peripheral) const;
    std::string ServicePath(int peripheral, size_t service) const;
    std::string CharacteristicPath(int peripheral, size_t service, size_t characteristic) const;
    std::vector<std::string> CharacteristicPaths(int peripheral) const;
    Peripheral &At(int peripheral) { return peripherals_.at(static_cast<size_t>(peripheral)); }
    // Runs `act` with a bus connection of another client; false when the bus cannot be reached.
    bool AsAnotherClient(const std::function<int(sd_bus *)> &act);

    // FakeAdapter.cpp: Adapter1 and discovery.
    bool HandleAdapter(sd_bus_message *call, const std::string &member, const std::string &sender,
                       const std::vector<Value> &args);
    void Advertise();
    void Report(int peripheral);
    bool Filtered() const;
    void EndSession(const std::string &client);
    void EndDiscovery();
    void ExpireTemporaryDevices();

    // FakeDevice.cpp: Device1 and the GATT objects.
    bool HandleDevice(sd_bus_message *call, const std::string &interface, const std::string &member,
                      const std::string &path, const std::string &sender);
    void DoConnect(sd_bus_message *call, int peripheral);
    void LinkUp(int peripheral);
    void ResolveServices(int peripheral);
    void ReadGapName(int peripheral);
    void ExportGatt(int peripheral);
    void RemoveGatt(int peripheral);
    void DoDisconnect(sd_bus_message *call, int peripheral);
    void LinkDown(int peripheral);
    void DoStartNotify(sd_bus_message *call, int peripheral, const std::string &path);
    void DoAcquireNotify(sd_bus_message *call, int peripheral, const std::string &path);
    bool RefuseSubscription(sd_bus_message *call, int peripheral, const std::string &path);
    void ReleaseSocket(const std::string &path);
    void RunTimers();
    void Park(sd_bus_message *call, int peripheral, Step step, const std::string &path = {});
    // Answers every Connect parked for the peripheral with an error and forgets it.
    void CancelConnects(int peripheral);

    const std::string address_;
    const tarvolt::bluez::SdBusApi *api_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    sd_bus *bus_ = nullptr;
    int wakeFd_ = -1;
    bool stopping_ = false;
    std::thread loop_;
    uint64_t passes_ = 0;

    BluezModes modes_;
    bool adapter_ = true;
    bool powered_ = true;
    std::map<std::string, Filter> filters_;   // each client's discovery filter
    std::map<std::string, Filter> sessions_;  // discovering clients, with their filter
    std::vector<Peripheral> peripherals_;
    std::map<std::string, std::set<std::string>> notifySessions_;  // characteristic path: clients
    std::map<std::string, Acquired> acquired_;                     // characteristic path: socket
    std::map<std::string, std::vector<uint8_t>> values_;           // characteristic path: Value
    std::set<std::pair<int, Step>> held_;
    std::map<std::pair<int, Step>, std::vector<Parked>> parked_;
    int treeReads_ = 0, treeReadsAtPark_ = 0;
    std::chrono::milliseconds interval_{50};
    TimePoint nextAdvertising_{};
    bool paused_ = false;
    RadioStats stats_;
    int connects_ = 0;
    std::map<std::string, int> calls_;
};

} // namespace sim
