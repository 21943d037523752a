#include "GattSetup.h"

#include "../DriverLog.h"
#include "Connection.h"
#include "LinkText.h"
#include "Notification.h"
#include "StopSignal.h"

#include <chrono>
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

template <typename Items>
bool AnyHasUuid(const Items &items, const radio::Guid &uuid)
{
    for (const auto &item : items)
        if (item && HasUuid(*item, uuid))
            return true;
    return false;
}

struct WriteResult {
    radio::CommunicationStatus status = radio::CommunicationStatus::Success;
};

bool DisconnectionReported(const LinkContext &context)
{
    return context.disconnectionReports.load() != context.reportsBeforeStep;
}

// Whether the link went down during the connect step: its disconnection was reported, or the
// device, connected before, reads disconnected (its event lost). A device that has never been
// connected reads disconnected while its first query connects it, and is retried.
bool LinkWentDown(LinkContext &context)
{
    if (DisconnectionReported(context))
        return true;
    bool up = false;
    try {
        up = context.device->GetConnectionStatus() == radio::ConnectionStatus::Connected;
    } catch (const radio::PlatformError &) {
    }
    context.linkSeenUp = context.linkSeenUp || up;
    return context.linkSeenUp && !up;
}

// The pause before a retry, in slices so that a disconnection reported meanwhile ends it as the
// stop signal does; false when either ended it.
bool PauseBeforeRetry(const LinkContext &context)
{
    for (int paused = 0; paused < kRetryIntervalMs; paused += kRetryCheckMs)
        if (radio::WorkerStop().WaitFor(kRetryCheckMs) || DisconnectionReported(context))
            return false;
    return true;
}

// Runs `attempt` until it answers other than Unreachable or ProtocolError, about once a second
// for up to kRetryLimitMs. An error the platform raises fails the step at once (a cancelled
// wait among them), as do the stop signal and a link that went down: the rifle is searched for
// again at once rather than asked on a link that is gone (bluetoothd answers NotConnected until
// it has finished disconnecting).
template <typename Result, typename Attempt>
Result Retried(LinkContext &context, const std::string &retryLine, Attempt attempt)
{
    const Clock::TimePoint begin = PlatformClock().Now();
    for (;;) {
        Result result;
        try {
            result = attempt();
        } catch (const radio::PlatformError &) {
            result = Result{};
            result.status = radio::CommunicationStatus::AccessDenied;
            return result;
        }
        const bool transient = result.status == radio::CommunicationStatus::Unreachable ||
                               result.status == radio::CommunicationStatus::ProtocolError;
        if (!transient || radio::WorkerStop().Raised() ||
            PlatformClock().Now() - begin >= std::chrono::milliseconds(kRetryLimitMs) || LinkWentDown(context))
            return result;
        context.stepRetries.Log(retryLine);
        if (!PauseBeforeRetry(context))
            return result;
    }
}

// Attaches the notification handler (once), then enables notifications; true once they are on.
bool Subscribe(LinkContext &context, const std::shared_ptr<radio::Characteristic> &characteristic,
               const std::string &text)
{
    try {
        const std::shared_ptr<HandlerGate> gate = context.gate;
        const radio::EventToken token = characteristic->AddValueChanged(
            [gate](radio::Characteristic &sender, radio::ValueChangedArgs &args) {
                GatePass pass(*gate);
                return pass.Entered() ? OnNotification(sender, args) : radio::kOk;
            });
        context.characteristicDetachers.push_back(
            [characteristic, token] { characteristic->RemoveValueChanged(token); });
    } catch (const radio::PlatformError &) {
        return false;
    }
    const WriteResult written = Retried<WriteResult>(context, "Retrying the subscription to characteristic: " + text, [&] {
        return WriteResult{characteristic->WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue::Notify)};
    });
    if (written.status != radio::CommunicationStatus::Success)
        return false;
    context.subscribed.push_back(characteristic);
    return true;
}

// One service of the enumeration. Returns false to leave the enumeration.
bool ExamineService(LinkContext &context, const std::shared_ptr<radio::Service> &service, bool &subscribed)
{
    if (!HasUuid(*service, kTargetServiceUuid))
        return true;
    const std::string serviceText = GuidToText(kTargetServiceUuid);
    Log("Found GATT service: " + serviceText);
    context.services.push_back(service);
    const std::string retry = "Retrying the characteristics query for service: " + serviceText;
    radio::CharacteristicsResult result =
        Retried<radio::CharacteristicsResult>(context, retry, [&] { return service->GetCharacteristics(); });
    if (result.status != radio::CommunicationStatus::Success) {
        Log("Failed to get characteristics for service: " + serviceText);
        return false;
    }
    if (!AnyHasUuid(result.characteristics, kTargetCharacteristicUuid)) {
        Log("Characteristic not in the cached answer; asking the device.");
        const radio::CharacteristicsResult asked = Retried<radio::CharacteristicsResult>(context, retry, [&] {
            return service->GetCharacteristicsForUuid(kTargetCharacteristicUuid, radio::CacheMode::Uncached);
        });
        if (asked.status == radio::CommunicationStatus::Success)
            result = asked;
    }
    for (const std::shared_ptr<radio::Characteristic> &characteristic : result.characteristics) {
        if (!characteristic || !HasUuid(*characteristic, kTargetCharacteristicUuid))
            continue;
        context.characteristic = characteristic;
        const std::string text = GuidToText(kTargetCharacteristicUuid);
        Log("Subscribing to characteristic: " + text);
        if (Subscribe(context, characteristic, text)) {
            Log("Successfully subscribed to notifications for characteristic: " + text);
            subscribed = true;
        } else {
            Log("Failed to subscribe to notifications for characteristic: " + text);
        }
    }
    return true;
}

} // namespace

GattOutcome SetUpGatt(LinkContext &context)
{
    const std::shared_ptr<radio::Device> device = context.device;
    const std::string retry = "Retrying the GATT service query.";
    radio::ServicesResult services =
        Retried<radio::ServicesResult>(context, retry, [&] { return device->GetGattServices(); });
    if (services.status != radio::CommunicationStatus::Success)
        return GattOutcome::ServicesFailed;
    if (!AnyHasUuid(services.services, kTargetServiceUuid)) {
        Log("GATT service not in the cached answer; asking the device.");
        const radio::ServicesResult asked = Retried<radio::ServicesResult>(context, retry, [&] {
            return device->GetGattServicesForUuid(kTargetServiceUuid, radio::CacheMode::Uncached);
        });
        if (asked.status == radio::CommunicationStatus::Success)
            services = asked;
    }
    bool subscribed = false;
    for (const std::shared_ptr<radio::Service> &service : services.services)
        if (service && !ExamineService(context, service, subscribed))
            break;
    return subscribed ? GattOutcome::Subscribed : GattOutcome::NotFound;
}

} // namespace tarvolt
