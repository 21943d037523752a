#pragma once
// The classes the component serves, by the names Windows activates them under, and the objects
// one part of the component makes for another.
#include "Object.h"

#include <activation.h>

#include <vector>

namespace winrt_bluetooth {

inline constexpr wchar_t kWatcherClass[] = L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher";
inline constexpr wchar_t kDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";
inline constexpr wchar_t kDataReaderClass[] = L"Windows.Storage.Streams.DataReader";

// The activation factories DllGetActivationFactory hands out.
ComRef<IActivationFactory> NewWatcherFactory();
ComRef<IActivationFactory> NewDeviceStatics();
ComRef<IActivationFactory> NewDataReaderStatics();

// A buffer holding a notification's bytes (Windows.Storage.Streams.Buffer).
ComRef<abi::IBuffer> NewBuffer(std::vector<uint8_t> bytes);

} // namespace winrt_bluetooth
