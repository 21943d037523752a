#pragma once
// Class activation for the Windows Runtime backend, behind a seam: tests replace the three
// platform functions with ones that hand out in-process fake objects.
#include "ComRef.h"

#include <inspectable.h>
#include <objbase.h>
#include <roapi.h>

namespace tarvolt::radio::winrt {

struct ActivationFunctions {
    HRESULT(WINAPI *getActivationFactory)(HSTRING activatableClassId, REFIID iid, void **factory);
    HRESULT(WINAPI *activateInstance)(HSTRING activatableClassId, IInspectable **instance);
    HRESULT(WINAPI *incrementMtaUsage)(CO_MTA_USAGE_COOKIE *cookie);
};

// The functions in use: RoGetActivationFactory, RoActivateInstance and CoIncrementMTAUsage
// unless a test has replaced them.
ActivationFunctions &Activation();

// The class's activation factory (or statics) interface T.
// On CO_E_NOTINITIALIZED the calling thread is put into the process's multithreaded apartment
// with CoIncrementMTAUsage and the request is made once more; any failure raises PlatformError.
void GetActivationFactory(const wchar_t *className, REFIID iid, void **factory);
template <class T>
ComRef<T> GetActivationFactory(const wchar_t *className)
{
    ComRef<T> factory;
    GetActivationFactory(className, __uuidof(T), reinterpret_cast<void **>(factory.Put()));
    return factory;
}

// A new instance made with the class's default constructor; the same retry as above.
ComRef<IInspectable> ActivateInstance(const wchar_t *className);

inline constexpr wchar_t kWatcherClass[] = L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher";
inline constexpr wchar_t kDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";
inline constexpr wchar_t kAdapterClass[] = L"Windows.Devices.Bluetooth.BluetoothAdapter";
inline constexpr wchar_t kDataReaderClass[] = L"Windows.Storage.Streams.DataReader";
inline constexpr wchar_t kDeviceInformationClass[] = L"Windows.Devices.Enumeration.DeviceInformation";
inline constexpr wchar_t kGattSessionClass[] = L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession";
inline constexpr wchar_t kPreferredParametersClass[] = L"Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParameters";
inline constexpr wchar_t kApiInformationClass[] = L"Windows.Foundation.Metadata.ApiInformation";

} // namespace tarvolt::radio::winrt
