#pragma once
// The Bluetooth LE platform as the link sees it, shaped like the Windows Runtime objects it is
// built on: an advertisement watcher, a device obtained from an address, its GATT services and
// characteristics. Objects are held by counted reference (shared_ptr). Every asynchronous
// platform operation is awaited inside the call, without a time limit. A failing platform call
// throws PlatformError with the platform's result code; events arrive on the platform's own
// threads, and a handler's return value is its result code to the platform (0 = success).
//
// Backends: the Windows Runtime (the product on Windows), BlueZ over D-Bus (the product on
// Linux) and the simulated radio (tests, the demo and the probe's test build).
//
// Real radios are harsher than the happy path: a connected peripheral stops advertising, the
// first GATT query often answers Unreachable, a cached answer can lack a service, a watcher can
// fail to start or fall silent, and a disconnection event can be late or never come. The calls
// below the happy path's (the system's connected devices, uncached queries, the watcher's status,
// keeping the link) exist so that the link can get the rifle back in all of these cases.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvolt::radio {

using ResultCode = int32_t;  // an HRESULT on Windows
inline constexpr ResultCode kOk = 0;
inline constexpr ResultCode kFail = static_cast<ResultCode>(0x80004005u);             // E_FAIL
inline constexpr ResultCode kCanceled = static_cast<ResultCode>(0x800704C7u);         // ERROR_CANCELLED
inline constexpr ResultCode kNotInitialized = static_cast<ResultCode>(0x800401F0u);   // CO_E_NOTINITIALIZED
inline constexpr ResultCode kClassNotRegistered = static_cast<ResultCode>(0x80040154u);  // REGDB_E_CLASSNOTREG
inline constexpr ResultCode kOutOfMemory = static_cast<ResultCode>(0x8007000Eu);        // E_OUTOFMEMORY

class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(ResultCode code);
    ResultCode Code() const { return code_; }

private:
    ResultCode code_;
};

// A 128-bit UUID in the platform's GUID layout.
struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
bool operator==(const Guid &a, const Guid &b);
inline bool operator!=(const Guid &a, const Guid &b) { return !(a == b); }

enum class ScanningMode : int32_t { Passive = 0, Active = 1 };
enum class ConnectionStatus : int32_t { Disconnected = 0, Connected = 1 };
enum class CommunicationStatus : int32_t { Success = 0, Unreachable = 1, ProtocolError = 2, AccessDenied = 3 };
enum class CccdValue : int32_t { None = 0, Notify = 1, Indicate = 2 };
// Whether a GATT query may be answered from the system's cache (BluetoothCacheMode).
enum class CacheMode : int32_t { Cached = 0, Uncached = 1 };
// The watcher's status as the platform reports it (BluetoothLEAdvertisementWatcherStatus).
enum class WatcherStatus : int32_t { Created = 0, Started = 1, Stopping = 2, Stopped = 3, Aborted = 4 };

using EventToken = int64_t;

class AdvertisementReceivedArgs {
public:
    virtual ~AdvertisementReceivedArgs() = default;
    virtual std::u16string LocalName() = 0;  // of the advertisement; empty when absent
    virtual uint64_t BluetoothAddress() = 0;
    // The received signal strength in dBm, or nothing where the platform gives none. The link
    // does not read it; the probe shows it beside each device it hears.
    virtual std::optional<int16_t> SignalStrength() { return std::nullopt; }
};

class Watcher {
public:
    virtual ~Watcher() = default;
    using ReceivedHandler = std::function<ResultCode(Watcher &, AdvertisementReceivedArgs &)>;
    using StoppedHandler = std::function<ResultCode(Watcher &)>;
    virtual void SetScanningMode(ScanningMode mode) = 0;
    virtual EventToken AddReceived(ReceivedHandler handler) = 0;
    virtual EventToken AddStopped(StoppedHandler handler) = 0;
    virtual void RemoveReceived(EventToken token) = 0;
    virtual void RemoveStopped(EventToken token) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Read after Start: anything but Started means the scan did not start, whatever Start said.
    virtual WatcherStatus Status() = 0;
};

// The bytes of one notification, read as the platform's data reader reads a buffer.
class ValueChangedArgs {
public:
    virtual ~ValueChangedArgs() = default;
    virtual uint32_t UnconsumedBufferLength() = 0;
    virtual void ReadBytes(uint8_t *destination, uint32_t count) = 0;
};

class Characteristic {
public:
    virtual ~Characteristic() = default;
    using ValueChangedHandler = std::function<ResultCode(Characteristic &, ValueChangedArgs &)>;
    virtual Guid Uuid() = 0;
    virtual EventToken AddValueChanged(ValueChangedHandler handler) = 0;
    virtual void RemoveValueChanged(EventToken token) = 0;
    virtual CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(CccdValue value) = 0;
};

struct CharacteristicsResult {
    CommunicationStatus status;
    std::vector<std::shared_ptr<Characteristic>> characteristics;
};

class Service {
public:
    virtual ~Service() = default;
    virtual Guid Uuid() = 0;
    virtual CharacteristicsResult GetCharacteristics() = 0;
    // The service's characteristics with this UUID, from the cache or asked of the device.
    virtual CharacteristicsResult GetCharacteristicsForUuid(const Guid &uuid, CacheMode mode) = 0;
    // Lets the service go (IClosable); the device stays open.
    virtual void Close() = 0;
};

struct ServicesResult {
    CommunicationStatus status;
    std::vector<std::shared_ptr<Service>> services;
};

class Device {
public:
    virtual ~Device() = default;
    using ConnectionStatusHandler = std::function<ResultCode(Device &)>;
    virtual EventToken AddConnectionStatusChanged(ConnectionStatusHandler handler) = 0;
    virtual void RemoveConnectionStatusChanged(EventToken token) = 0;
    virtual ConnectionStatus GetConnectionStatus() = 0;
    // The name the system has for the device: once connected, the device's own (GAP) name may
    // have replaced the advertised one.
    virtual std::u16string Name() = 0;
    virtual uint64_t BluetoothAddress() = 0;
    virtual ServicesResult GetGattServices() = 0;
    // The device's services with this UUID, from the cache or asked of the device.
    virtual ServicesResult GetGattServicesForUuid(const Guid &uuid, CacheMode mode) = 0;
    // Asks the system to keep the link up and to restore it after a drop (Windows: a GattSession
    // with MaintainConnection on); off lets the system drop it once nobody else holds it. Where
    // the platform has no such thing, it does nothing.
    virtual void MaintainConnection(bool on) = 0;
    // Asks for a short connection interval while connected, so that a notification waits less
    // (Windows 11: ThroughputOptimized connection parameters). False where the platform cannot.
    virtual bool RequestLowLatency() = 0;
    virtual void Close() = 0;
};

// Whether Bluetooth LE can be used at all on this machine, and if not, why.
enum class Readiness : int32_t {
    Ready = 0,
    NoAdapter = 1,           // no Bluetooth adapter, or none that does Bluetooth LE
    AdapterOff = 2,          // an adapter, switched off
    StackMissing = 3,        // the platform's Bluetooth service, or a library it needs, is missing
    ClassesUnavailable = 4,  // the Windows Runtime's Bluetooth classes cannot be activated
    Unusable = 5,            // anything else that keeps Bluetooth from being used (see the detail)
};

struct RadioCheck {
    Readiness readiness = Readiness::Ready;
    std::string detail;  // the platform's own account of what is wrong, in words; empty when ready
};

class Radio {
public:
    virtual ~Radio() = default;
    // Enters the multithreaded apartment on the calling thread (CoInitializeEx on Windows).
    virtual void EnterApartment() = 0;
    virtual std::shared_ptr<Watcher> CreateWatcher() = 0;
    // The device for an address, or null when the platform has none.
    virtual std::shared_ptr<Device> FromBluetoothAddress(uint64_t address) = 0;
    // The Bluetooth LE devices the system has connected now, whoever connected them (an earlier
    // session, another program): a connected peripheral no longer advertises, so this is where
    // it is found. Empty when there are none.
    virtual std::vector<std::shared_ptr<Device>> ConnectedDevices() = 0;
    // Registry form of a UUID: 38 characters with braces and upper-case hexadecimal; empty if the
    // platform cannot render it.
    virtual std::u16string GuidToString(const Guid &guid) = 0;
    // Whether Bluetooth LE can be used now: the adapter, its power, the platform's Bluetooth
    // service. The driver never asks (its worker retries every pass and logs why a step
    // failed); the probe asks before it starts, to tell a user what is missing. Never throws.
    virtual RadioCheck CheckRadio() = 0;
    // How many of our callbacks (event handlers, completion handlers) the platform still holds.
    // While any is held, the platform may call or release it, so the library must stay loaded.
    virtual int CallbacksHeld() = 0;
};

// The radio of this build of the driver library; defined by the backend linked into it.
Radio &PlatformRadio();

} // namespace tarvolt::radio
