#pragma once
// The radio interface's objects over the Windows Runtime's: each holds its platform object by
// counted reference and raises PlatformError for a failing call.
#include "../Radio.h"
#include "BleAbi.h"
#include "ComRef.h"

namespace tarvolt::radio::winrt {

Guid FromPlatformGuid(const GUID &guid);
GUID ToPlatformGuid(const Guid &guid);
// Takes over an HSTRING the platform returned and frees it.
std::u16string TakeString(HSTRING text);

class WinrtWatcher final : public Watcher {
public:
    explicit WinrtWatcher(ComRef<bleabi::IBluetoothLEAdvertisementWatcher> watcher) : watcher_(std::move(watcher)) {}
    void SetScanningMode(ScanningMode mode) override;
    EventToken AddReceived(ReceivedHandler handler) override;
    EventToken AddStopped(StoppedHandler handler) override;
    void RemoveReceived(EventToken token) override;
    void RemoveStopped(EventToken token) override;
    void Start() override;
    void Stop() override;
    WatcherStatus Status() override;

private:
    ComRef<bleabi::IBluetoothLEAdvertisementWatcher> watcher_;
};

class WinrtAdvertisementReceivedArgs final : public AdvertisementReceivedArgs {
public:
    explicit WinrtAdvertisementReceivedArgs(ComRef<bleabi::IBluetoothLEAdvertisementReceivedEventArgs> args) : args_(std::move(args)) {}
    std::u16string LocalName() override;
    uint64_t BluetoothAddress() override;
    std::optional<int16_t> SignalStrength() override;

private:
    ComRef<bleabi::IBluetoothLEAdvertisementReceivedEventArgs> args_;
};

// The notification's buffer is opened with DataReader::FromBuffer on first use.
class WinrtValueChangedArgs final : public ValueChangedArgs {
public:
    explicit WinrtValueChangedArgs(ComRef<bleabi::IGattValueChangedEventArgs> args) : args_(std::move(args)) {}
    uint32_t UnconsumedBufferLength() override;
    void ReadBytes(uint8_t *destination, uint32_t count) override;

private:
    bleabi::IDataReader &Reader();
    ComRef<bleabi::IGattValueChangedEventArgs> args_;
    ComRef<bleabi::IDataReader> reader_;
};

class WinrtCharacteristic final : public Characteristic {
public:
    explicit WinrtCharacteristic(ComRef<bleabi::IGattCharacteristic> characteristic) : characteristic_(std::move(characteristic)) {}
    Guid Uuid() override;
    EventToken AddValueChanged(ValueChangedHandler handler) override;
    void RemoveValueChanged(EventToken token) override;
    CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(CccdValue value) override;

private:
    ComRef<bleabi::IGattCharacteristic> characteristic_;
};

class WinrtService final : public Service {
public:
    explicit WinrtService(ComRef<bleabi::IGattDeviceService> service) : service_(std::move(service)) {}
    Guid Uuid() override;
    CharacteristicsResult GetCharacteristics() override;
    CharacteristicsResult GetCharacteristicsForUuid(const Guid &uuid, CacheMode mode) override;
    void Close() override;

private:
    ComRef<bleabi::IGattDeviceService> service_;
};

// Besides the device, it holds what it asked of Windows for the device's link (WinrtLink.cpp):
// a GattSession and a connection-parameters request, each closed exactly once, by the call that
// lets it go or by Close. Used by one thread at a time (the link's worker).
class WinrtDevice final : public Device {
public:
    explicit WinrtDevice(ComRef<bleabi::IBluetoothLEDevice> device) : device_(std::move(device)) {}
    WinrtDevice(const WinrtDevice &) = delete;
    WinrtDevice &operator=(const WinrtDevice &) = delete;
    // Lets go of a session or request still held, as Close would, without raising.
    ~WinrtDevice() override;
    EventToken AddConnectionStatusChanged(ConnectionStatusHandler handler) override;
    void RemoveConnectionStatusChanged(EventToken token) override;
    ConnectionStatus GetConnectionStatus() override;
    std::u16string Name() override;
    uint64_t BluetoothAddress() override;
    ServicesResult GetGattServices() override;
    ServicesResult GetGattServicesForUuid(const Guid &uuid, CacheMode mode) override;
    // On: a GattSession for the device (IBluetoothLEDevice4's id, GattSession.FromDeviceIdAsync)
    // with MaintainConnection on, held. Off: MaintainConnection off, then the session closed and
    // released. Nothing where Windows has no device id (before 1709) or cannot maintain the link.
    void MaintainConnection(bool on) override;
    // Windows 11 only, found at run time (ApiInformation, then IBluetoothLEDevice6): a request
    // for ThroughputOptimized connection parameters, held while the link lasts; a request made
    // before is closed first. False, silently, on Windows 10 or when Windows declines.
    bool RequestLowLatency() override;
    // The request, then the session (MaintainConnection off first), then the device: what we
    // asked of Windows for the link goes before the device does.
    void Close() override;

private:
    void ReleaseSession();
    void ReleaseRequest();

    ComRef<bleabi::IBluetoothLEDevice> device_;
    ComRef<bleabi::IGattSession> session_;
    ComRef<bleabi::IBluetoothLEPreferredConnectionParametersRequest> request_;
};

} // namespace tarvolt::radio::winrt
