#pragma once
// Hand-written ABI declarations of the few Windows Runtime interfaces the Bluetooth LE backend
// calls. MinGW-w64 10 ships no Bluetooth declarations, its <windows.foundation.h> does not
// compile as C++, and its widl gets some parameterized IIDs wrong, so we declare what we use
// here, in a namespace of our own so nothing clashes with MinGW's ABI:: templates.
//
// Rules kept throughout:
// - Methods are in the exact vtable order of the platform's metadata; slots we never call are
//   still declared (with placeholder pointer types where the real type is not declared here)
//   so that later slots keep their numbers. Only IDataReader stops after the last slot we call.
// - Every parameterized instance (IAsyncOperation<T>, its completion handler, IVectorView<T>,
//   TypedEventHandler<S, A>) is a concrete interface with its own computed IID.
// - Delegates derive from IUnknown (Invoke is slot 3), everything else from IInspectable
//   (first method is slot 6).
#include <windows.h>
#include <asyncinfo.h>
#include <eventtoken.h>
#include <inspectable.h>
#include <roapi.h>
#include <winstring.h>

#include "BleAbiGenerics.h"

namespace bleabi {

struct TimeSpan { INT64 Duration; };
struct DateTime { INT64 UniversalTime; };

enum class BluetoothLEScanningMode : INT32 { Passive = 0, Active = 1, None = 2 };
enum class BluetoothLEAdvertisementWatcherStatus : INT32 { Created = 0, Started = 1, Stopping = 2, Stopped = 3, Aborted = 4 };
enum class BluetoothLEAdvertisementType : INT32 {};
enum class BluetoothConnectionStatus : INT32 { Disconnected = 0, Connected = 1 };
enum class BluetoothCacheMode : INT32 { Cached = 0, Uncached = 1 };
enum class BluetoothError : INT32 { Success = 0 };
enum class GattClientCharacteristicConfigurationDescriptorValue : INT32 { None = 0, Notify = 1, Indicate = 2 };
enum class GattCharacteristicProperties : UINT32 {};
enum class GattProtectionLevel : INT32 {};
enum class GattSharingMode : INT32 {};
enum class GattWriteOption : INT32 {};

// Windows.Foundation.IClosable
MIDL_INTERFACE("30d5a829-7fa4-4026-83bb-d75bae4ea99e")
IClosable : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;  // 6
};

// Windows.Storage.Streams.IBuffer (only passed through)
MIDL_INTERFACE("905a0fe0-bc53-11df-8c49-001e4fc686da")
IBuffer : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Capacity(UINT32 *value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) = 0;    // 7
    virtual HRESULT STDMETHODCALLTYPE put_Length(UINT32 value) = 0;     // 8
};

// Windows.Storage.Streams.IDataReader, declared up to ReadBytes (slots 15 to 31 follow).
MIDL_INTERFACE("e2b50029-b4c1-4314-a4b8-fb813a2f275e")
IDataReader : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32 *value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32 *value) = 0;          // 7
    virtual HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32 value) = 0;           // 8
    virtual HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32 *value) = 0;                // 9
    virtual HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32 value) = 0;                 // 10
    virtual HRESULT STDMETHODCALLTYPE get_InputStreamOptions(UINT32 *value) = 0;      // 11
    virtual HRESULT STDMETHODCALLTYPE put_InputStreamOptions(UINT32 value) = 0;       // 12
    virtual HRESULT STDMETHODCALLTYPE ReadByte(BYTE *value) = 0;                      // 13
    // Fills the caller's array with valueLength bytes.
    virtual HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 valueLength, BYTE *value) = 0;  // 14
};

MIDL_INTERFACE("11fcbfc8-f93a-471b-b121-f379e349313c")
IDataReaderStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE FromBuffer(IBuffer *buffer, IDataReader **dataReader) = 0;  // 6
};

MIDL_INTERFACE("066fb2b7-33d1-4e7d-8367-cf81d0f79653")
IBluetoothLEAdvertisement : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Flags(IInspectable **value) = 0;                 // 6
    virtual HRESULT STDMETHODCALLTYPE put_Flags(IInspectable *value) = 0;                  // 7
    virtual HRESULT STDMETHODCALLTYPE get_LocalName(HSTRING *value) = 0;                   // 8
    virtual HRESULT STDMETHODCALLTYPE put_LocalName(HSTRING value) = 0;                    // 9
    virtual HRESULT STDMETHODCALLTYPE get_ServiceUuids(IInspectable **value) = 0;          // 10
    virtual HRESULT STDMETHODCALLTYPE get_ManufacturerData(IInspectable **value) = 0;      // 11
    virtual HRESULT STDMETHODCALLTYPE get_DataSections(IInspectable **value) = 0;          // 12
    virtual HRESULT STDMETHODCALLTYPE GetManufacturerDataByCompanyId(UINT16 companyId, IInspectable **value) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE GetSectionsByType(BYTE type, IInspectable **value) = 0;  // 14
};

MIDL_INTERFACE("27987ddf-e596-41be-8d43-9e6731d4a913")
IBluetoothLEAdvertisementReceivedEventArgs : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_RawSignalStrengthInDBm(INT16 *value) = 0;                 // 6
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) = 0;                      // 7
    virtual HRESULT STDMETHODCALLTYPE get_AdvertisementType(BluetoothLEAdvertisementType *value) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE get_Timestamp(DateTime *value) = 0;                           // 9
    virtual HRESULT STDMETHODCALLTYPE get_Advertisement(IBluetoothLEAdvertisement **value) = 0;     // 10
};

MIDL_INTERFACE("dd40f84d-e7b9-43e3-9c04-0685d085fd8c")
IBluetoothLEAdvertisementWatcherStoppedEventArgs : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Error(BluetoothError *value) = 0;  // 6
};

MIDL_INTERFACE("a6ac336f-f3d3-4297-8d6c-c81ea6623f40")
IBluetoothLEAdvertisementWatcher : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_MinSamplingInterval(TimeSpan *value) = 0;                  // 6
    virtual HRESULT STDMETHODCALLTYPE get_MaxSamplingInterval(TimeSpan *value) = 0;                  // 7
    virtual HRESULT STDMETHODCALLTYPE get_MinOutOfRangeTimeout(TimeSpan *value) = 0;                 // 8
    virtual HRESULT STDMETHODCALLTYPE get_MaxOutOfRangeTimeout(TimeSpan *value) = 0;                 // 9
    virtual HRESULT STDMETHODCALLTYPE get_Status(BluetoothLEAdvertisementWatcherStatus *value) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE get_ScanningMode(BluetoothLEScanningMode *value) = 0;          // 11
    virtual HRESULT STDMETHODCALLTYPE put_ScanningMode(BluetoothLEScanningMode value) = 0;           // 12
    virtual HRESULT STDMETHODCALLTYPE get_SignalStrengthFilter(IInspectable **value) = 0;            // 13
    virtual HRESULT STDMETHODCALLTYPE put_SignalStrengthFilter(IInspectable *value) = 0;             // 14
    virtual HRESULT STDMETHODCALLTYPE get_AdvertisementFilter(IInspectable **value) = 0;             // 15
    virtual HRESULT STDMETHODCALLTYPE put_AdvertisementFilter(IInspectable *value) = 0;              // 16
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;                                                   // 17
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                                    // 18
    virtual HRESULT STDMETHODCALLTYPE add_Received(ITypedEventHandler_Watcher_Received *handler, EventRegistrationToken *token) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE remove_Received(EventRegistrationToken token) = 0;             // 20
    virtual HRESULT STDMETHODCALLTYPE add_Stopped(ITypedEventHandler_Watcher_Stopped *handler, EventRegistrationToken *token) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE remove_Stopped(EventRegistrationToken token) = 0;              // 22
};

MIDL_INTERFACE("b5ee2f7b-4ad8-4642-ac48-80a0b500e887")
IBluetoothLEDevice : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) = 0;                            // 6
    virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) = 0;                                // 7
    virtual HRESULT STDMETHODCALLTYPE get_GattServices(IInspectable **value) = 0;                  // 8
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionStatus(BluetoothConnectionStatus *value) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) = 0;                     // 10
    virtual HRESULT STDMETHODCALLTYPE GetGattService(GUID serviceUuid, IInspectable **service) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE add_NameChanged(IUnknown *handler, EventRegistrationToken *token) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE remove_NameChanged(EventRegistrationToken token) = 0;        // 13
    virtual HRESULT STDMETHODCALLTYPE add_GattServicesChanged(IUnknown *handler, EventRegistrationToken *token) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE remove_GattServicesChanged(EventRegistrationToken token) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(ITypedEventHandler_Device_Object *handler, EventRegistrationToken *token) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(EventRegistrationToken token) = 0;  // 17
};

// Windows 10 1703 and later: the service query that reports a status.
MIDL_INTERFACE("aee9e493-44ac-40dc-af33-b2c13c01ca46")
IBluetoothLEDevice3 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **operation) = 0;       // 7
    virtual HRESULT STDMETHODCALLTYPE GetGattServicesAsync(IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE GetGattServicesWithCacheModeAsync(BluetoothCacheMode cacheMode, IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE GetGattServicesForUuidAsync(GUID serviceUuid, IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE GetGattServicesForUuidWithCacheModeAsync(GUID serviceUuid, BluetoothCacheMode cacheMode, IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 11
};

MIDL_INTERFACE("c8cf1a19-f0b6-4bf0-8689-41303de2d9f4")
IBluetoothLEDeviceStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING deviceId, IAsyncOperation_BluetoothLEDevice **operation) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE FromBluetoothAddressAsync(UINT64 bluetoothAddress, IAsyncOperation_BluetoothLEDevice **operation) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelector(HSTRING *result) = 0;  // 8
};

} // namespace bleabi

#include "BleAbiAdapter.h"
#include "BleAbiGatt.h"
#include "BleAbiLink.h"
#include "BleAbiUuids.h"
