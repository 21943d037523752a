#include "Connection.h"

#include "../DriverLog.h"
#include "BluetoothWorker.h"
#include "LinkText.h"
#include "Notification.h"

#include <string>

namespace tarvolt {

namespace {

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

// Gets the device for the address and attaches the status handler; false when the platform has
// no device for it or raised an error on the way.
bool ObtainDevice(LinkContext &context, uint64_t address)
{
    try {
        // A device still held (the rifle was found again while connected) is dropped without
        // Close, and its handlers with it.
        if (context.device)
            DetachConnectionHandlers(context);
        context.device = radio::PlatformRadio().FromBluetoothAddress(address);
        if (!context.device)
            return false;
        const std::shared_ptr<HandlerGate> gate = context.gate;
        LinkContext *const link = &context;
        const std::shared_ptr<radio::Device> device = context.device;
        const radio::EventToken token = device->AddConnectionStatusChanged([gate, link](radio::Device &sender) {
            GatePass pass(*gate);
            return pass.Entered() ? OnConnectionStatusChanged(*link, sender) : radio::kOk;
        });
        context.connectionDetachers.push_back([device, token] { device->RemoveConnectionStatusChanged(token); });
        return true;
    } catch (const radio::PlatformError &) {
        return false;
    }
}

// Attaches the notification handler, then enables notifications; true once they are enabled.
bool Subscribe(LinkContext &context, const std::shared_ptr<radio::Characteristic> &characteristic)
{
    try {
        const std::shared_ptr<HandlerGate> gate = context.gate;
        const radio::EventToken token = characteristic->AddValueChanged(
            [gate](radio::Characteristic &sender, radio::ValueChangedArgs &args) {
                GatePass pass(*gate);
                return pass.Entered() ? OnNotification(sender, args) : radio::kOk;
            });
        context.connectionDetachers.push_back([characteristic, token] { characteristic->RemoveValueChanged(token); });
        return characteristic->WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue::Notify) ==
               radio::CommunicationStatus::Success;
    } catch (const radio::PlatformError &) {
        return false;
    }
}

// One service of the enumeration. Returns false to leave the enumeration.
bool ExamineService(LinkContext &context, radio::Service &service, bool &subscribed)
{
    if (!HasUuid(service, kTargetServiceUuid))
        return true;
    const std::string serviceText = GuidToText(kTargetServiceUuid);
    Log("Found GATT service: " + serviceText);
    radio::CharacteristicsResult result;
    try {
        result = service.GetCharacteristics();
    } catch (const radio::PlatformError &) {
        result.status = radio::CommunicationStatus::Unreachable;
    }
    if (result.status != radio::CommunicationStatus::Success) {
        Log("Failed to get characteristics for service: " + serviceText);
        return false;
    }
    for (const std::shared_ptr<radio::Characteristic> &characteristic : result.characteristics) {
        if (!characteristic || !HasUuid(*characteristic, kTargetCharacteristicUuid))
            continue;
        context.characteristic = characteristic;
        const std::string text = GuidToText(kTargetCharacteristicUuid);
        Log("Subscribing to characteristic: " + text);
        if (Subscribe(context, characteristic)) {
            Log("Successfully subscribed to notifications for characteristic: " + text);
            subscribed = true;
        } else {
            Log("Failed to subscribe to notifications for characteristic: " + text);
        }
    }
    return true;
}

bool DeviceReportsConnected(radio::Device &device)
{
    try {
        return device.GetConnectionStatus() == radio::ConnectionStatus::Connected;
    } catch (const radio::PlatformError &) {
        return false;
    }
}

// Stores Connected at the end of a successful step. A disconnection reported during the step
// stays when the device still reports it: overwriting it would leave the link at Connected
// with a lost device, waiting for a report that has already come. A report the device has
// since overcome (it reads connected again) is replaced. A report that comes after the status
// was read stores the same ConnectionLost, which the exchange alone cannot tell from the older
// one; the count of reports can, and then the decision is made again from the new report.
void MarkConnected(LinkContext &context)
{
    for (;;) {
        const uint32_t reports = context.disconnectionReports.load();
        int32_t state = context.linkState.load();
        if (state == ConnectionLost && !DeviceReportsConnected(*context.device))
            return;
        if (!context.linkState.compare_exchange_strong(state, Connected))
            continue;
        if (context.disconnectionReports.load() == reports)
            return;
        // Put back the ConnectionLost this store may have overwritten (unless the report's own
        // store came after it), then decide again.
        int32_t stored = Connected;
        context.linkState.compare_exchange_strong(stored, ConnectionLost);
    }
}

} // namespace

void ConnectStep(LinkContext &context)
{
    const uint64_t address = context.targetAddress.load();
    if (address == 0) {
        Log("Target device address is invalid.");
        ResetLink(context);
        return;
    }
    const std::string decimal = std::to_string(address);
    Log("Connecting to device: " + decimal);
    if (!ObtainDevice(context, address)) {
        Log("Failed to connect to device: " + decimal);
        ResetLink(context);
        return;
    }

    radio::ServicesResult services;
    try {
        services = context.device->GetGattServices();
    } catch (const radio::PlatformError &) {
        services.status = radio::CommunicationStatus::Unreachable;
    }
    if (services.status != radio::CommunicationStatus::Success) {
        Log("Failed to get GATT services.");
        ResetLink(context);
        return;
    }

    bool subscribed = false;
    for (const std::shared_ptr<radio::Service> &service : services.services) {
        if (service && !ExamineService(context, *service, subscribed))
            break;
    }
    if (subscribed) {
        Log("Device successfully connected.");
        MarkConnected(context);
    } else {
        Log("Target characteristic not found.");
        ResetLink(context);
    }
}

radio::ResultCode OnConnectionStatusChanged(LinkContext &context, radio::Device &sender)
{
    try {
        const radio::ConnectionStatus status = sender.GetConnectionStatus();
        const std::string name = Utf16ToUtf8(sender.Name());
        if (status == radio::ConnectionStatus::Connected) {
            Log("Connected to device: " + name);
        } else {
            Log("Disconnected from device: " + name);
            // Counted after the status was read and before the store (see MarkConnected).
            context.disconnectionReports.fetch_add(1);
            context.linkState.store(ConnectionLost);
        }
        return radio::kOk;
    } catch (...) {
        return ResultOfCurrentException();
    }
}

} // namespace tarvolt
