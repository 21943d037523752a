#pragma once
// The BlueZ radio: the radio interface over bluetoothd's D-Bus API on the system bus.
//
//   watcher     the first powered adapter's discovery (SetDiscoveryFilter with Transport "le",
//               DuplicateData and an RSSI floor, StartDiscovery, StopDiscovery); "received" at the
//               start for every device object that shows it is there (connected, or carrying an
//               RSSI), then for every one that appears or whose Name, RSSI or ManufacturerData
//               changes; "stopped" when the discovery ends without us (Discovering false, the
//               adapter or bluetoothd gone)
//   device      the adapter's Device1 object for the address, or each connected one;
//               GetGattServices connects, waits until the services are resolved and reads the
//               tree again; Connected changes and the end of a notification socket are status
//               events, each loss told once; Close ends our subscriptions, and disconnects a link
//               we made or subscribed on
//   services,   the GattService1 and GattCharacteristic1 objects under the device, by UUID;
//   characteristics  enabling notifications is AcquireNotify, each datagram of its socket an
//               event; where it is refused, StartNotify, each Value change an event
//
// Every call has a time limit. Whatever goes wrong on the way (no sd-bus library, no bus, no
// bluetoothd, no adapter, a refused call, a call never answered, properties of unexpected types)
// is a PlatformError or a failed status of the operation, with one "BlueZ: " line in the driver
// log that says why; the same reason is not logged again until something succeeded in between.
#include "../Radio.h"
#include "SdBus.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvolt::bluez {

struct BluezOptions {
    std::string busAddress;  // empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS or its usual socket)
    std::vector<std::string> libraries = DefaultSdBusLibraries();
    std::chrono::milliseconds callTimeout{10000};
    // The kernel gives up an LE connection attempt after 20 s; Connect may take that long.
    std::chrono::milliseconds connectTimeout{25000};
    std::chrono::milliseconds resolveTimeout{20000};  // from the connection to ServicesResolved
    // From ServicesResolved to the GATT objects, which bluetoothd may signal after it.
    std::chrono::milliseconds servicesWait{2000};
    // Present inside a Flatpak sandbox.
    std::string flatpakInfoPath = "/.flatpak-info";
};

using LogSink = std::function<void(const std::string &)>;

// Result codes of the BlueZ radio's platform errors (customer range of the HRESULT layout).
inline constexpr radio::ResultCode kNoSdBus = static_cast<radio::ResultCode>(0xA0B10001u);
inline constexpr radio::ResultCode kNoBus = static_cast<radio::ResultCode>(0xA0B10002u);
inline constexpr radio::ResultCode kNoBluetoothd = static_cast<radio::ResultCode>(0xA0B10003u);
inline constexpr radio::ResultCode kNoAdapter = static_cast<radio::ResultCode>(0xA0B10004u);
inline constexpr radio::ResultCode kCallFailed = static_cast<radio::ResultCode>(0xA0B10005u);
inline constexpr radio::ResultCode kBadProperty = static_cast<radio::ResultCode>(0xA0B10006u);

class BluezCore;

class BluezRadio final : public radio::Radio {
public:
    BluezRadio(BluezOptions options, LogSink log);
    ~BluezRadio() override;
    BluezRadio(const BluezRadio &) = delete;
    BluezRadio &operator=(const BluezRadio &) = delete;

    // BlueZ has no apartment, and the bus is reached on first use; a worker's start only makes
    // the waits follow the worker's stop signal again.
    void EnterApartment() override;
    std::shared_ptr<radio::Watcher> CreateWatcher() override;
    std::shared_ptr<radio::Device> FromBluetoothAddress(uint64_t address) override;
    std::vector<std::shared_ptr<radio::Device>> ConnectedDevices() override;
    std::u16string GuidToString(const radio::Guid &guid) override;
    // sd-bus, the system bus and bluetoothd make the stack; then a powered adapter is needed.
    radio::RadioCheck CheckRadio() override;
    // Nothing of ours is held by a platform thread; but while a radio object lives, or the bus
    // connection is open, our loop thread runs the library's code.
    int CallbacksHeld() override;

    // While set, every wait for bluetoothd ends at once as failed (for a driver that is being
    // deactivated); cleared, waits are as usual again. The worker's stop signal sets it.
    void SetInterrupted(bool interrupted);

private:
    std::shared_ptr<BluezCore> core_;
};

} // namespace tarvolt::bluez
