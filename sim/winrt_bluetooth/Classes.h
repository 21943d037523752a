#pragma once
// The classes the component serves, by the names Windows activates them under, and the objects
// one part of the component makes for another.
#include "Object.h"

#include <activation.h>

#include <string>
#include <vector>

namespace winrt_bluetooth {

inline constexpr wchar_t kWatcherClass[] = L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher";
inline constexpr wchar_t kDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";
inline constexpr wchar_t kDataReaderClass[] = L"Windows.Storage.Streams.DataReader";
inline constexpr wchar_t kDeviceInformationClass[] = L"Windows.Devices.Enumeration.DeviceInformation";
inline constexpr wchar_t kGattSessionClass[] = L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession";
inline constexpr wchar_t kPreferredParametersClass[] = L"Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParameters";
inline constexpr wchar_t kApiInformationClass[] = L"Windows.Foundation.Metadata.ApiInformation";

// The activation factories DllGetActivationFactory hands out.
ComRef<IActivationFactory> NewWatcherFactory();
ComRef<IActivationFactory> NewDeviceStatics();
ComRef<IActivationFactory> NewDataReaderStatics();
ComRef<IActivationFactory> NewDeviceInformationStatics();
ComRef<IActivationFactory> NewGattSessionStatics();
ComRef<IActivationFactory> NewPreferredParametersStatics();
ComRef<IActivationFactory> NewApiInformationStatics();

// A device's id object (Windows.Devices.Bluetooth.BluetoothDeviceId), for the device's address.
ComRef<abi::IBluetoothDeviceId> NewDeviceId(UINT64 address);
// A preferred connection parameters request for a device of the radio, already answered.
ComRef<abi::IBluetoothLEPreferredConnectionParametersRequest> NewParametersRequest(radio::Device &device);
// The device's address in an id as Windows forms it (Gatt.h's DeviceId), or nothing.
bool AddressFromId(const std::wstring &id, UINT64 *address);
// Connected devices' BluetoothLEDevice selector (GetDeviceSelectorFromConnectionStatus).
extern const wchar_t kConnectedSelector[];

// A buffer holding a notification's bytes (Windows.Storage.Streams.Buffer).
ComRef<abi::IBuffer> NewBuffer(std::vector<uint8_t> bytes);

} // namespace winrt_bluetooth
