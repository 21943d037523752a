#include "LinkTeardown.h"

namespace tarvolt {

namespace {

bool LinkUp(radio::Device &device)
{
    try {
        return device.GetConnectionStatus() == radio::ConnectionStatus::Connected;
    } catch (...) {
        return false;
    }
}

// The object goes whatever its platform says: the link must be able to start over.
template <typename Call>
void Quietly(Call call)
{
    try {
        call();
    } catch (...) {
    }
}

} // namespace

void ReleaseConnection(LinkContext &context, bool keepDevice)
{
    // Nothing the device or its characteristics report from now on (their Close included)
    // reaches the link.
    DetachAll(context.characteristicDetachers);
    DetachAll(context.deviceDetachers);
    const std::shared_ptr<radio::Device> device = context.device;
    // A peripheral keeps what a client wrote while the link lasts: left on, it would go on
    // notifying a link nobody listens to.
    if (device && !keepDevice && !context.subscribed.empty() && LinkUp(*device))
        for (const auto &characteristic : context.subscribed)
            Quietly([&] { characteristic->WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue::None); });
    context.subscribed.clear();
    context.characteristic.reset();
    if (device && !keepDevice && context.maintained)
        Quietly([&] { device->MaintainConnection(false); });
    for (const auto &service : context.services)
        Quietly([&] { service->Close(); });
    context.services.clear();
    context.restoring = keepDevice && device;
    if (context.restoring)
        return;
    context.maintained = false;
    if (device)
        Quietly([&] { device->Close(); });
    context.device.reset();
}

} // namespace tarvolt
