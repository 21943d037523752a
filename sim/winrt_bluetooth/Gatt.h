#pragma once
// The GATT side of a device: the services result, services, characteristics results,
// characteristics and their notifications.
#include "Object.h"

namespace winrt_bluetooth {

// The device's id as Windows forms it, from the adapter's address and the device's.
std::u16string DeviceId(UINT64 address);

GUID ToGuid(const radio::Guid &uuid);
radio::Guid FromGuid(const GUID &uuid);

// A services result over what the simulated radio answered; one reference, owned by the caller.
abi::IGattDeviceServicesResult *NewServicesResult(radio::ServicesResult result, UINT64 address);

} // namespace winrt_bluetooth
