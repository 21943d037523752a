#pragma once
// Windows.Devices.Bluetooth.GenericAttributeProfile: the results, services and characteristics
// the backend walks. Included by BleAbi.h only.

namespace bleabi {

MIDL_INTERFACE("171dd3ee-016d-419d-838a-576cf475a3d8")
IGattDeviceServicesResult : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Status(GattCommunicationStatus *value) = 0;              // 6
    virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) = 0;                 // 7
    virtual HRESULT STDMETHODCALLTYPE get_Services(IVectorView_GattDeviceService **value) = 0;     // 8
};

MIDL_INTERFACE("1194945c-b257-4f3e-9db7-f68bc9a9aef2")
IGattCharacteristicsResult : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Status(GattCommunicationStatus *value) = 0;                   // 6
    virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) = 0;                      // 7
    virtual HRESULT STDMETHODCALLTYPE get_Characteristics(IVectorView_GattCharacteristic **value) = 0;  // 8
};

MIDL_INTERFACE("ac7b7c05-b33c-47cf-990f-6b8f5577df71")
IGattDeviceService : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(GUID characteristicUuid, IInspectable **value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE GetIncludedServices(GUID serviceUuid, IInspectable **value) = 0;       // 7
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) = 0;                                      // 8
    virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) = 0;                                             // 9
    virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) = 0;                                // 10
};

// Windows 10 1703 and later: the characteristics query that reports a status.
MIDL_INTERFACE("b293a950-0c53-437c-a9b3-5c3210c6e569")
IGattDeviceService3 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable **value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE get_Session(IInspectable **value) = 0;                  // 7
    virtual HRESULT STDMETHODCALLTYPE get_SharingMode(GattSharingMode *value) = 0;            // 8
    virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable **operation) = 0;       // 9
    virtual HRESULT STDMETHODCALLTYPE OpenAsync(GattSharingMode mode, IInspectable **operation) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristicsAsync(IAsyncOperation_GattCharacteristicsResult **operation) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristicsWithCacheModeAsync(BluetoothCacheMode cacheMode, IAsyncOperation_GattCharacteristicsResult **operation) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristicsForUuidAsync(GUID characteristicUuid, IAsyncOperation_GattCharacteristicsResult **operation) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristicsForUuidWithCacheModeAsync(GUID characteristicUuid, BluetoothCacheMode cacheMode, IAsyncOperation_GattCharacteristicsResult **operation) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE GetIncludedServicesAsync(IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE GetIncludedServicesWithCacheModeAsync(BluetoothCacheMode cacheMode, IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE GetIncludedServicesForUuidAsync(GUID serviceUuid, IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE GetIncludedServicesForUuidWithCacheModeAsync(GUID serviceUuid, BluetoothCacheMode cacheMode, IAsyncOperation_GattDeviceServicesResult **operation) = 0;  // 18
};

MIDL_INTERFACE("59cb50c1-5934-4f68-a198-eb864fa44e6b")
IGattCharacteristic : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetDescriptors(GUID descriptorUuid, IInspectable **value) = 0;           // 6
    virtual HRESULT STDMETHODCALLTYPE get_CharacteristicProperties(GattCharacteristicProperties *value) = 0;   // 7
    virtual HRESULT STDMETHODCALLTYPE get_ProtectionLevel(GattProtectionLevel *value) = 0;                     // 8
    virtual HRESULT STDMETHODCALLTYPE put_ProtectionLevel(GattProtectionLevel value) = 0;                      // 9
    virtual HRESULT STDMETHODCALLTYPE get_UserDescription(HSTRING *value) = 0;                                 // 10
    virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) = 0;                                               // 11
    virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(UINT16 *value) = 0;                                  // 12
    virtual HRESULT STDMETHODCALLTYPE get_PresentationFormats(IInspectable **value) = 0;                       // 13
    virtual HRESULT STDMETHODCALLTYPE ReadValueAsync(IInspectable **operation) = 0;                            // 14
    virtual HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(BluetoothCacheMode cacheMode, IInspectable **operation) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE WriteValueAsync(IBuffer *value, IAsyncOperation_GattCommunicationStatus **operation) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE WriteValueWithOptionAsync(IBuffer *value, GattWriteOption option, IAsyncOperation_GattCommunicationStatus **operation) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE ReadClientCharacteristicConfigurationDescriptorAsync(IInspectable **operation) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorAsync(GattClientCharacteristicConfigurationDescriptorValue clientCharacteristicConfigurationDescriptorValue, IAsyncOperation_GattCommunicationStatus **operation) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE add_ValueChanged(ITypedEventHandler_Characteristic_ValueChanged *handler, EventRegistrationToken *token) = 0;  // 20
    virtual HRESULT STDMETHODCALLTYPE remove_ValueChanged(EventRegistrationToken token) = 0;  // 21
};

MIDL_INTERFACE("d21bdb54-06e3-4ed8-a263-acfac8ba7313")
IGattValueChangedEventArgs : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_CharacteristicValue(IBuffer **value) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE get_Timestamp(DateTime *value) = 0;           // 7
};

} // namespace bleabi
