#pragma once
// A stand-in for bluetoothd on a private bus: it owns org.bluez and serves the part of BlueZ's
// D-Bus API that the BlueZ radio uses (the object manager, Adapter1, Device1, GattService1,
// GattCharacteristic1), from peripherals scripted through the simulated radio's RadioControl, so
// that the same scripts drive either radio.
//
// It behaves like bluetoothd 5.66 where that is awkward for a client (doc/*-api.txt of BlueZ and
// its adapter.c, device.c and gatt-client.c): device objects appear only while some client
// discovers and stay after it; a known device is announced again only by property changes; the
// discovery session belongs to the client's connection, and a second StartDiscovery from it is
// refused with InProgress; Connect answers when the link is up and ServicesResolved follows;
// Connect on a connected device and Disconnect on a disconnected one succeed; StartNotify on a
// disconnected device succeeds at once; notifications are Value changes, also when the bytes
// repeat; powering the adapter off ends every discovery and link; bluetoothd that restarts comes
// back with only the devices it had connected to, none connected, no discovery running.
#include "RadioControl.h"
#include "bluetooth/bluez/DbusValue.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace sim {

class FakeBluez final : public RadioControl {
public:
    explicit FakeBluez(std::string busAddress);
    ~FakeBluez();
    FakeBluez(const FakeBluez &) = delete;
    FakeBluez &operator=(const FakeBluez &) = delete;

    // Connects, owns org.bluez and serves; false with the reason otherwise.
    bool Start(std::string &error);

    // RadioControl. Holding Step::Connect parks Device1.Connect, Step::Subscribe StartNotify,
    // Step::Services the resolution of the services after the link is up.
    int AddPeripheral(const PeripheralScript &script) override;
    // No adapter: RemoveAdapter; switched off: SetPowered(false); the service missing: Vanish;
    // ready: SetPowered(true). The Windows Runtime's classes have no BlueZ equivalent.
    void SetReadiness(Readiness readiness) override;
    void SetAdvertising(int peripheral, bool advertising) override;
    void SetAdvertiseInterval(std::chrono::milliseconds interval) override;
    void Notify(int peripheral, const std::vector<uint8_t> &bytes) override;
    // A Value of another type than bytes.
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
    // Advertises factor times as often. The driver's pauses lie in the driver's library, out of
    // reach of a bluetoothd: they stay in real time.
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
    int Connects();  // Device1.Connect calls so far
    // Waits until `member` (a method name) has been called at least `count` times.
    bool WaitForCalls(const std::string &member, int count, std::chrono::milliseconds limit);
    // Another client of the bus, not bluetoothd, sends the Value change of a notification on the
    // rifle's characteristics, as any local program could.
    bool Impersonate(int peripheral, const std::vector<uint8_t> &bytes);
    // Waits until the counts satisfy `done` (calls sent without awaiting their answer arrive
    // some time after the sender went on).
    bool WaitForStats(const std::function<bool(const RadioStats &)> &done, std::chrono::milliseconds limit);

private:
    struct Peripheral;
    struct Parked {
        sd_bus_message *call;  // null for the resolution of services
        std::string path;      // the characteristic of a parked StartNotify
    };
    using Props = std::map<std::string, tarvolt::bluez::Value>;

    void Loop();
    void Wake();
    void StopLoop();
    static int OnMessage(sd_bus_message *message, void *userdata, sd_bus_error *error);
    int HandleCall(sd_bus_message *message);
    void HandleOwnerChanged(sd_bus_message *message);
    void Advertise();

    // Everything below with mutex_ held.
    void Emit(const std::string &path, const char *interface, const char *member,
              const std::vector<tarvolt::bluez::Value> &args);
    void EmitChanged(const std::string &path, const std::string &interface, const Props &changed);
    void EmitAdded(const std::string &path);
    void EmitRemoved(const std::string &path, const std::vector<std::string> &interfaces);
    void Reply(sd_bus_message *call, const std::vector<tarvolt::bluez::Value> &values = {});
    void ReplyError(sd_bus_message *call, const char *name, const char *message);
    std::map<std::string, Props> Interfaces(const std::string &path);
    tarvolt::bluez::Value ManagedObjects();
    int PeripheralAt(const std::string &devicePath);
    std::string DevicePathOf(int peripheral) const;
    std::string ServicePath(int peripheral, size_t service) const;
    std::string CharacteristicPath(int peripheral, size_t service, size_t characteristic) const;
    void DoConnect(sd_bus_message *call, int peripheral);
    void ResolveServices(int peripheral);
    void DoStartNotify(sd_bus_message *call, int peripheral, const std::string &path);
    void Disconnect(int peripheral);
    void EndDiscovery();
    void Park(sd_bus_message *call, int peripheral, Step step, const std::string &path = {});
    // Answers every Connect parked for the peripheral with an error and forgets it (mutex held).
    void CancelParkedConnects(int peripheral);

    const std::string address_;
    const tarvolt::bluez::SdBusApi *api_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    sd_bus *bus_ = nullptr;
    int wakeFd_ = -1;
    bool stopping_ = false;
    std::thread loop_;
    uint64_t passes_ = 0;

    bool adapter_ = true;
    bool powered_ = true;
    std::map<std::string, std::string> filters_;   // transport of each client's discovery filter
    std::map<std::string, std::string> sessions_;  // discovering clients and their transport
    std::vector<Peripheral> peripherals_;
    std::map<std::string, std::set<std::string>> notifySessions_;  // characteristic path: clients
    std::set<std::pair<int, Step>> held_;
    std::map<std::pair<int, Step>, std::vector<Parked>> parked_;
    std::set<int> unresolved_;  // links up whose services wait for a release
    std::chrono::milliseconds interval_{50};
    std::chrono::steady_clock::time_point nextAdvertising_{};
    bool paused_ = false;
    RadioStats stats_;
    int connects_ = 0;
    std::map<std::string, int> calls_;
};

} // namespace sim
