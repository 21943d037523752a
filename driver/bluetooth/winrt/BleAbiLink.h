#pragma once
// Finding and keeping a link without advertisements: the devices the system has connected
// (Windows.Devices.Enumeration), a device's id and its GATT session, Windows 11's preferred
// connection parameters, and the run-time check of what this Windows has
// (Windows.Foundation.Metadata.ApiInformation). Included by BleAbi.h only.

namespace bleabi {

enum class BluetoothAddressType : INT32 { Public = 0, Random = 1, Unspecified = 2 };
enum class GattSessionStatus : INT32 { Closed = 0, Active = 1 };
enum class BluetoothLEPreferredConnectionParametersRequestStatus : INT32 {
    Unspecified = 0, Success = 1, DeviceNotAvailable = 2, AccessDenied = 3
};

// Windows.Devices.Bluetooth.BluetoothDeviceId (Windows 10 1703).
MIDL_INTERFACE("c17949af-57c1-4642-bcce-e6c06b20ae76")
IBluetoothDeviceId : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Id(HSTRING *value) = 0;                   // 6
    virtual HRESULT STDMETHODCALLTYPE get_IsClassicDevice(boolean *value) = 0;      // 7
    virtual HRESULT STDMETHODCALLTYPE get_IsLowEnergyDevice(boolean *value) = 0;    // 8
};

// On BluetoothLEDevice, Windows 10 1709 and later.
MIDL_INTERFACE("2b605031-2248-4b2f-acf0-7cee36fc5870")
IBluetoothLEDevice4 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothDeviceId(IBluetoothDeviceId **value) = 0;  // 6
};

MIDL_INTERFACE("f2f44344-7372-5f7b-9b34-29c944f5a715")
IBluetoothLEPreferredConnectionParameters : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_LinkTimeout(UINT16 *value) = 0;            // 6
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionLatency(UINT16 *value) = 0;      // 7
    virtual HRESULT STDMETHODCALLTYPE get_MinConnectionInterval(UINT16 *value) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE get_MaxConnectionInterval(UINT16 *value) = 0;  // 9
};

// The class is not activatable; its statics come from RoGetActivationFactory (Windows 11).
MIDL_INTERFACE("0e3e8edc-2751-55aa-a838-8faeee818d72")
IBluetoothLEPreferredConnectionParametersStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Balanced(IBluetoothLEPreferredConnectionParameters **value) = 0;             // 6
    virtual HRESULT STDMETHODCALLTYPE get_ThroughputOptimized(IBluetoothLEPreferredConnectionParameters **value) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE get_PowerOptimized(IBluetoothLEPreferredConnectionParameters **value) = 0;       // 8
};

// The request stays in force while it is held; the class is also IClosable.
MIDL_INTERFACE("8a375276-a528-5266-b661-cce6a5ff9739")
IBluetoothLEPreferredConnectionParametersRequest : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Status(BluetoothLEPreferredConnectionParametersRequestStatus *value) = 0;  // 6
};

// On BluetoothLEDevice, Windows 11 (10.0.22000) and later only.
MIDL_INTERFACE("ca7190ef-0cae-573c-a1ca-e1fc5bfc39e2")
IBluetoothLEDevice6 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionParameters(IInspectable **value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE GetConnectionPhy(IInspectable **value) = 0;         // 7
    // Synchronous.
    virtual HRESULT STDMETHODCALLTYPE RequestPreferredConnectionParameters(
        IBluetoothLEPreferredConnectionParameters *preferredConnectionParameters,
        IBluetoothLEPreferredConnectionParametersRequest **request) = 0;                  // 8
    virtual HRESULT STDMETHODCALLTYPE add_ConnectionParametersChanged(IUnknown *handler, EventRegistrationToken *token) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE remove_ConnectionParametersChanged(EventRegistrationToken token) = 0;                 // 10
    virtual HRESULT STDMETHODCALLTYPE add_ConnectionPhyChanged(IUnknown *handler, EventRegistrationToken *token) = 0;       // 11
    virtual HRESULT STDMETHODCALLTYPE remove_ConnectionPhyChanged(EventRegistrationToken token) = 0;                        // 12
};

MIDL_INTERFACE("5f12c06b-3bac-43e8-ad16-563271bd41c2")
IBluetoothLEDeviceStatics2 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromPairingState(boolean pairingState, HSTRING *result) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromConnectionStatus(BluetoothConnectionStatus connectionStatus, HSTRING *result) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromDeviceName(HSTRING deviceName, HSTRING *result) = 0;      // 8
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromBluetoothAddress(UINT64 bluetoothAddress, HSTRING *result) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromBluetoothAddressWithBluetoothAddressType(
        UINT64 bluetoothAddress, BluetoothAddressType bluetoothAddressType, HSTRING *result) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromAppearance(IInspectable *appearance, HSTRING *result) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE FromBluetoothAddressWithBluetoothAddressTypeAsync(
        UINT64 bluetoothAddress, BluetoothAddressType bluetoothAddressType, IAsyncOperation_BluetoothLEDevice **operation) = 0;  // 12
};

// Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession (Windows 10 1703); also IClosable.
// The setter of MaintainConnection comes before its getter.
MIDL_INTERFACE("d23b5143-e04e-4c24-999c-9c256f9856b1")
IGattSession : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(IBluetoothDeviceId **value) = 0;             // 6
    virtual HRESULT STDMETHODCALLTYPE get_CanMaintainConnection(boolean *value) = 0;            // 7
    virtual HRESULT STDMETHODCALLTYPE put_MaintainConnection(boolean value) = 0;                // 8
    virtual HRESULT STDMETHODCALLTYPE get_MaintainConnection(boolean *value) = 0;               // 9
    virtual HRESULT STDMETHODCALLTYPE get_MaxPduSize(UINT16 *value) = 0;                        // 10
    virtual HRESULT STDMETHODCALLTYPE get_SessionStatus(GattSessionStatus *value) = 0;          // 11
    virtual HRESULT STDMETHODCALLTYPE add_MaxPduSizeChanged(IUnknown *handler, EventRegistrationToken *token) = 0;     // 12
    virtual HRESULT STDMETHODCALLTYPE remove_MaxPduSizeChanged(EventRegistrationToken token) = 0;                     // 13
    virtual HRESULT STDMETHODCALLTYPE add_SessionStatusChanged(IUnknown *handler, EventRegistrationToken *token) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE remove_SessionStatusChanged(EventRegistrationToken token) = 0;                  // 15
};

MIDL_INTERFACE("2e65b95c-539f-4db7-82a8-73bdbbf73ebf")
IGattSessionStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE FromDeviceIdAsync(IBluetoothDeviceId *deviceId, IAsyncOperation_GattSession **operation) = 0;  // 6
};

// Windows.Devices.Enumeration.DeviceInformation.
MIDL_INTERFACE("aba0fb95-4398-489d-8e44-e6130927011f")
IDeviceInformation : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Id(HSTRING *value) = 0;                       // 6
    virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) = 0;                     // 7
    virtual HRESULT STDMETHODCALLTYPE get_IsEnabled(boolean *value) = 0;                // 8
    virtual HRESULT STDMETHODCALLTYPE get_IsDefault(boolean *value) = 0;                // 9
    virtual HRESULT STDMETHODCALLTYPE get_EnclosureLocation(IInspectable **value) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE get_Properties(IInspectable **value) = 0;         // 11
    virtual HRESULT STDMETHODCALLTYPE Update(IInspectable *updateInfo) = 0;             // 12
    virtual HRESULT STDMETHODCALLTYPE GetThumbnailAsync(IInspectable **operation) = 0;       // 13
    virtual HRESULT STDMETHODCALLTYPE GetGlyphThumbnailAsync(IInspectable **operation) = 0;  // 14
};

// The class is not activatable; its statics come from RoGetActivationFactory.
MIDL_INTERFACE("c17f100e-3a46-4a78-8013-769dc9b97390")
IDeviceInformationStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateFromIdAsync(HSTRING deviceId, IInspectable **operation) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE CreateFromIdAsyncAdditionalProperties(HSTRING deviceId, IInspectable *additionalProperties, IInspectable **operation) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE FindAllAsync(IAsyncOperation_DeviceInformationCollection **operation) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE FindAllAsyncDeviceClass(INT32 deviceClass, IAsyncOperation_DeviceInformationCollection **operation) = 0;  // 9
    // Takes a selector string from one of the classes' GetDeviceSelector... statics.
    virtual HRESULT STDMETHODCALLTYPE FindAllAsyncAqsFilter(HSTRING aqsFilter, IAsyncOperation_DeviceInformationCollection **operation) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE FindAllAsyncAqsFilterAndAdditionalProperties(
        HSTRING aqsFilter, IInspectable *additionalProperties, IAsyncOperation_DeviceInformationCollection **operation) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE CreateWatcher(IInspectable **watcher) = 0;                                 // 12
    virtual HRESULT STDMETHODCALLTYPE CreateWatcherDeviceClass(INT32 deviceClass, IInspectable **watcher) = 0;   // 13
    virtual HRESULT STDMETHODCALLTYPE CreateWatcherAqsFilter(HSTRING aqsFilter, IInspectable **watcher) = 0;     // 14
    virtual HRESULT STDMETHODCALLTYPE CreateWatcherAqsFilterAndAdditionalProperties(
        HSTRING aqsFilter, IInspectable *additionalProperties, IInspectable **watcher) = 0;                      // 15
};

// Windows.Foundation.Metadata.ApiInformation's statics; names are namespace-qualified.
MIDL_INTERFACE("997439fe-f681-4a11-b416-c13a47e8ba36")
IApiInformationStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE IsTypePresent(HSTRING typeName, boolean *value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE IsMethodPresent(HSTRING typeName, HSTRING methodName, boolean *value) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE IsMethodPresentWithArity(HSTRING typeName, HSTRING methodName, UINT32 inputParameterCount, boolean *value) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE IsEventPresent(HSTRING typeName, HSTRING eventName, boolean *value) = 0;            // 9
    virtual HRESULT STDMETHODCALLTYPE IsPropertyPresent(HSTRING typeName, HSTRING propertyName, boolean *value) = 0;      // 10
    virtual HRESULT STDMETHODCALLTYPE IsReadOnlyPropertyPresent(HSTRING typeName, HSTRING propertyName, boolean *value) = 0;   // 11
    virtual HRESULT STDMETHODCALLTYPE IsWriteablePropertyPresent(HSTRING typeName, HSTRING propertyName, boolean *value) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE IsEnumNamedValuePresent(HSTRING enumTypeName, HSTRING valueName, boolean *value) = 0;    // 13
    virtual HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajor(HSTRING contractName, UINT16 majorVersion, boolean *value) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajorAndMinor(HSTRING contractName, UINT16 majorVersion, UINT16 minorVersion, boolean *value) = 0;  // 15
};

} // namespace bleabi
