#pragma once
// The simulated platform objects. Their mutable state is guarded by the radio's mutex.
#include "SimRadio.h"

namespace sim {

class SimWatcher final : public radio::Watcher, public std::enable_shared_from_this<SimWatcher> {
public:
    explicit SimWatcher(SimRadio &owner) : owner_(owner) {}
    void SetScanningMode(radio::ScanningMode mode) override;
    radio::EventToken AddReceived(ReceivedHandler handler) override { return received.Add(std::move(handler)); }
    radio::EventToken AddStopped(StoppedHandler handler) override { return stopped.Add(std::move(handler)); }
    void RemoveReceived(radio::EventToken token) override { received.Remove(token); }
    void RemoveStopped(radio::EventToken token) override { stopped.Remove(token); }
    void Start() override;
    void Stop() override;
    radio::WatcherStatus Status() override;

    void RaiseReceived(const std::u16string &name, uint64_t address, int16_t rssi);
    void RaiseStopped(int32_t error);
    void StopLocked();  // mutex held
    // The platform ends the scan by itself, or refuses to start it (mutex held).
    void AbortLocked(int32_t error);

    EventSource<ReceivedHandler> received;
    EventSource<StoppedHandler> stopped;
    bool started = false;
    WatcherStatus status = WatcherStatus::Created;  // mutex held
    // The error of the Stopped event being raised: set on the radio's thread before its handlers
    // run there, for them to read.
    int32_t stoppedError = kStopSuccess;
    radio::ScanningMode mode = radio::ScanningMode::Passive;
    WatcherFault fault = WatcherFault::None;  // chosen when it is created

private:
    SimRadio &owner_;
};

class SimDevice final : public radio::Device, public std::enable_shared_from_this<SimDevice> {
public:
    SimDevice(SimRadio &owner, int peripheral, radio::ConnectionStatus initial,
              std::shared_ptr<std::atomic<int64_t>> lastRelease)
        : status(initial), owner_(owner), peripheral_(peripheral), lastRelease_(std::move(lastRelease))
    {
    }
    // The last reference lets the link go as Close does, but without a call into the radio, whose
    // lock may be held by whoever drops it.
    ~SimDevice() override;
    radio::EventToken AddConnectionStatusChanged(ConnectionStatusHandler handler) override
    {
        return statusChanged.Add(std::move(handler));
    }
    void RemoveConnectionStatusChanged(radio::EventToken token) override { statusChanged.Remove(token); }
    radio::ConnectionStatus GetConnectionStatus() override;
    std::u16string Name() override;
    uint64_t BluetoothAddress() override;
    radio::ServicesResult GetGattServices() override;
    radio::ServicesResult GetGattServicesForUuid(const radio::Guid &uuid, radio::CacheMode mode) override;
    void MaintainConnection(bool on) override;
    bool RequestLowLatency() override;
    void Close() override;

    void RaiseStatusChanged();
    // Raises RO_E_CLOSED once the device is closed (mutex held).
    void CheckOpenLocked() const;
    // Whether it holds its peripheral's link: open, or maintained (mutex held).
    bool HoldsLocked() const { return !closed || maintained; }

    EventSource<ConnectionStatusHandler> statusChanged;
    radio::ConnectionStatus status;
    bool closed = false;
    bool maintained = false;  // mutex held

private:
    radio::ServicesResult Services(const radio::Guid *uuid, radio::CacheMode mode);

    SimRadio &owner_;
    int peripheral_;
    std::shared_ptr<std::atomic<int64_t>> lastRelease_;
};

class SimService final : public radio::Service, public std::enable_shared_from_this<SimService> {
public:
    SimService(SimRadio &owner, std::weak_ptr<SimDevice> device, int peripheral, size_t index)
        : owner_(owner), device_(std::move(device)), peripheral_(peripheral), index_(index)
    {
    }
    radio::Guid Uuid() override;
    radio::CharacteristicsResult GetCharacteristics() override;
    radio::CharacteristicsResult GetCharacteristicsForUuid(const radio::Guid &uuid, radio::CacheMode mode) override;
    void Close() override;
    bool closed = false;  // mutex held

private:
    radio::CharacteristicsResult Characteristics(const radio::Guid *uuid, radio::CacheMode mode);

    SimRadio &owner_;
    std::weak_ptr<SimDevice> device_;
    int peripheral_;
    size_t index_;
};

class SimCharacteristic final : public radio::Characteristic {
public:
    SimCharacteristic(SimRadio &owner, std::weak_ptr<SimDevice> device, std::shared_ptr<SimService> service,
                      int peripheral, size_t serviceIndex, size_t index, const Guid &uuid)
        : device(std::move(device)), service(std::move(service)), owner_(owner), peripheral_(peripheral),
          serviceIndex_(serviceIndex), index_(index), uuid_(uuid)
    {
    }
    radio::Guid Uuid() override { return uuid_; }
    radio::EventToken AddValueChanged(ValueChangedHandler handler) override
    {
        return valueChanged.Add(std::move(handler));
    }
    void RemoveValueChanged(radio::EventToken token) override { valueChanged.Remove(token); }
    radio::CommunicationStatus WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue value) override;

    void RaiseValueChanged(radio::ValueChangedArgs &args);

    EventSource<ValueChangedHandler> valueChanged;
    std::weak_ptr<SimDevice> device;
    std::shared_ptr<SimService> service;  // a characteristic keeps its service (GattCharacteristic.Service)
    bool notifying = false;

private:
    SimRadio &owner_;
    int peripheral_;
    size_t serviceIndex_;
    size_t index_;
    Guid uuid_;
};

} // namespace sim
