#include "BluezObjects.h"
#include "BluezText.h"
#include "SdBus.h"
#include "../StopSignal.h"

namespace tarvolt::bluez {

BluezRadio::BluezRadio(BluezOptions options, LogSink log)
    : core_(std::make_shared<BluezCore>(std::move(options), std::move(log)))
{
    // The core's connection calls into sd-bus's table until it is closed, here at the latest.
    KeepSdBusTables();
    // Deactivation raises the worker's stop signal: every wait for bluetoothd then ends at once.
    // The waker keeps the core it interrupts, since the signal outlives this radio.
    radio::WorkerStop().OnRaise([core = core_] { core->SetInterrupted(true); });
}

void BluezRadio::EnterApartment()
{
    // A new worker starts after its activation re-armed the signal: its waits are as usual again.
    core_->SetInterrupted(radio::WorkerStop().Raised());
}

BluezRadio::~BluezRadio()
{
    // Ends the bus loop before the code it runs can go away (the library being unloaded).
    core_->Shutdown();
}

std::shared_ptr<radio::Watcher> BluezRadio::CreateWatcher()
{
    // Reaches for nothing yet: the bus is first needed when the scan starts.
    auto watcher = std::make_shared<BluezWatcher>(core_);
    core_->Register(watcher);
    return watcher;
}

std::shared_ptr<radio::Device> BluezRadio::FromBluetoothAddress(uint64_t address)
{
    if (!core_->Ready(false))
        throw radio::PlatformError(kNoBus);
    // The device object that discovery made under one of the adapters; BlueZ has no device for an
    // address it has not seen (or kept from an earlier connection).
    std::string reason;
    const std::string adapter = core_->FirstPoweredAdapter(reason);
    if (adapter.empty()) {
        core_->Report(reason);
        return nullptr;
    }
    const std::string path = DevicePath(adapter, address);
    if (!core_->HasObject(path, kDeviceInterface)) {
        core_->Report("bluetoothd has no device " + path);
        return nullptr;
    }
    auto device = std::make_shared<BluezDevice>(core_, path, address);
    core_->Register(device);
    device->Name();  // remembered for a device whose object goes away
    return device;
}

std::vector<std::shared_ptr<radio::Device>> BluezRadio::ConnectedDevices()
{
    if (!core_->Ready(false))
        throw radio::PlatformError(kNoBus);
    std::string reason;
    const std::string adapter = core_->FirstPoweredAdapter(reason);
    if (adapter.empty()) {
        core_->Report(reason);
        return {};
    }
    // Whoever connected them: bluetoothd keeps a link up after the client that made it has gone
    // (src/device.c: dev_connect watches no caller), and a connected device does not advertise.
    std::vector<std::shared_ptr<radio::Device>> devices;
    for (const auto &connected : core_->ConnectedUnder(adapter)) {
        auto device = std::make_shared<BluezDevice>(core_, connected.first, connected.second);
        core_->Register(device);
        device->Name();  // remembered for a device whose object goes away
        devices.push_back(std::move(device));
    }
    return devices;
}

std::u16string BluezRadio::GuidToString(const radio::Guid &guid)
{
    const std::string text = RegistryText(guid);
    return std::u16string(text.begin(), text.end());
}

radio::RadioCheck BluezRadio::CheckRadio()
{
    try {
        return core_->Check();
    } catch (const std::exception &error) {
        return {radio::Readiness::Unusable, error.what()};
    }
}

int BluezRadio::CallbacksHeld() { return core_->Held(); }

void BluezRadio::SetInterrupted(bool interrupted) { core_->SetInterrupted(interrupted); }

} // namespace tarvolt::bluez
