#include "Connection.h"

#include "../DriverLog.h"
#include "BluetoothWorker.h"
#include "GattSetup.h"
#include "LinkTeardown.h"
#include "LinkText.h"

#include <chrono>
#include <string>

namespace tarvolt {

namespace {

bool DeviceReportsConnected(radio::Device &device)
{
    try {
        return device.GetConnectionStatus() == radio::ConnectionStatus::Connected;
    } catch (const radio::PlatformError &) {
        return false;
    }
}

bool HasAddress(radio::Device &device, uint64_t address)
{
    try {
        return device.BluetoothAddress() == address;
    } catch (const radio::PlatformError &) {
        return false;
    }
}

// The device for the address, with the status handler attached; false when the platform has
// no device for it or raised an error on the way. A device kept after a drop whose link the
// system has restored is used again, and so is a connected rifle found without an advertisement
// (as it is: nothing disconnects it first); any other device held before is let go.
bool ObtainDevice(LinkContext &context, uint64_t address)
{
    std::shared_ptr<radio::Device> found = std::move(context.foundDevice);
    try {
        const bool reuse = context.device && HasAddress(*context.device, address) && DeviceReportsConnected(*context.device);
        if (reuse) {
            // What was set up on it before goes; the device stays, asked to keep its link.
            ReleaseConnection(context, true);
            context.restoring = false;
            context.linkSeenUp = true;
        } else {
            if (context.device)
                ReleaseConnection(context);
            // A device found among the connected ones was connected when it was found.
            context.linkSeenUp = found && HasAddress(*found, address);
            context.device = context.linkSeenUp ? found : radio::PlatformRadio().FromBluetoothAddress(address);
        }
        if (!context.device)
            return false;
        const std::shared_ptr<HandlerGate> gate = context.gate;
        LinkContext *const link = &context;
        const std::shared_ptr<radio::Device> device = context.device;
        const radio::EventToken token = device->AddConnectionStatusChanged([gate, link](radio::Device &sender) {
            GatePass pass(*gate);
            return pass.Entered() ? OnConnectionStatusChanged(*link, sender) : radio::kOk;
        });
        context.deviceDetachers.push_back([device, token] { device->RemoveConnectionStatusChanged(token); });
        return true;
    } catch (const radio::PlatformError &) {
        return false;
    }
}

// While connected: the system keeps the link up and restores it after a drop (Windows: a GATT
// session), and a notification waits for a short connection interval where the platform can
// ask for one. Neither is needed for the link to work, so a platform that refuses changes nothing.
void KeepLink(LinkContext &context)
{
    try {
        context.device->MaintainConnection(true);
        context.maintained = true;
    } catch (const radio::PlatformError &) {
    }
    try {
        context.device->RequestLowLatency();
    } catch (const radio::PlatformError &) {
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
    context.reportsBeforeStep = context.disconnectionReports.load();
    if (!ObtainDevice(context, address)) {
        Log("Failed to connect to device: " + decimal);
        ResetLink(context);
        return;
    }
    switch (SetUpGatt(context)) {
    case GattOutcome::ServicesFailed:
        Log("Failed to get GATT services.");
        ResetLink(context);
        return;
    case GattOutcome::NotFound:
        Log("Target characteristic not found.");
        ResetLink(context);
        return;
    case GattOutcome::Subscribed:
        break;
    }
    Log("Device successfully connected.");
    context.knownAddress = address;
    KeepLink(context);
    context.nextStatusPoll = PlatformClock().Now() + std::chrono::milliseconds(kStatusPollMs);
    MarkConnected(context);
}

void PollConnectionStatus(LinkContext &context)
{
    const Clock::TimePoint now = PlatformClock().Now();
    if (!context.device || now < context.nextStatusPoll)
        return;
    context.nextStatusPoll = now + std::chrono::milliseconds(kStatusPollMs);
    if (DeviceReportsConnected(*context.device))
        return;
    // The platform said nothing (its event was lost, or never raised): the same as its report.
    int32_t expected = Connected;
    context.disconnectionReports.fetch_add(1);
    if (context.linkState.compare_exchange_strong(expected, ConnectionLost))
        Log("Connection status reads disconnected.");
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
