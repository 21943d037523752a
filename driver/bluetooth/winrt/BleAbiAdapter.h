#pragma once
// Windows.Devices.Bluetooth.BluetoothAdapter and Windows.Devices.Radios.Radio: the machine's
// default adapter and whether its radio is switched on, for the check of Bluetooth as a whole.
// Included by BleAbi.h only.

namespace bleabi {

enum class RadioState : INT32 { Unknown = 0, On = 1, Off = 2, Disabled = 3 };

MIDL_INTERFACE("252118df-b33e-416a-875f-1cf38ae2d83e")
IRadio : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE SetStateAsync(RadioState value, IInspectable **operation) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE add_StateChanged(IUnknown *handler, EventRegistrationToken *token) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE remove_StateChanged(EventRegistrationToken token) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE get_State(RadioState *value) = 0;                       // 9
    virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) = 0;                           // 10
    virtual HRESULT STDMETHODCALLTYPE get_Kind(INT32 *value) = 0;                             // 11
};

MIDL_INTERFACE("7974f04c-5f7a-4a34-9225-a855f84b1a8b")
IBluetoothAdapter : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) = 0;                          // 6
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) = 0;                   // 7
    virtual HRESULT STDMETHODCALLTYPE get_IsClassicSupported(boolean *value) = 0;                // 8
    virtual HRESULT STDMETHODCALLTYPE get_IsLowEnergySupported(boolean *value) = 0;              // 9
    virtual HRESULT STDMETHODCALLTYPE get_IsPeripheralRoleSupported(boolean *value) = 0;         // 10
    virtual HRESULT STDMETHODCALLTYPE get_IsCentralRoleSupported(boolean *value) = 0;            // 11
    virtual HRESULT STDMETHODCALLTYPE get_IsAdvertisementOffloadSupported(boolean *value) = 0;   // 12
    virtual HRESULT STDMETHODCALLTYPE GetRadioAsync(IAsyncOperation_Radio **operation) = 0;     // 13
};

// The class is not activatable; its statics come from RoGetActivationFactory.
MIDL_INTERFACE("8b02fb6a-ac4c-4741-8661-8eab7d17ea9f")
IBluetoothAdapterStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelector(HSTRING *result) = 0;                                          // 6
    virtual HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING deviceId, IAsyncOperation_BluetoothAdapter **operation) = 0;  // 7
    // The machine's default adapter, or null when it has none.
    virtual HRESULT STDMETHODCALLTYPE GetDefaultAsync(IAsyncOperation_BluetoothAdapter **operation) = 0;               // 8
};

} // namespace bleabi
