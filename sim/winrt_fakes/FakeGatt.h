#pragma once
// Fake device, GATT and data-reader objects. Included by FakeBle.h.
#include "FakeLink.h"

#include <cstring>

namespace fakes {

template <class View, class Item>
class FakeVectorView final : public FakeObject<View> {
public:
    explicit FakeVectorView(std::vector<ComRef<Item>> items) : items_(std::move(items)) {}
    HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, Item **item) override
    {
        return index < items_.size() ? Lend(items_[index], item) : E_BOUNDS;
    }
    HRESULT STDMETHODCALLTYPE get_Size(UINT32 *size) override
    {
        *size = static_cast<UINT32>(items_.size());
        return S_OK;
    }
    FAKE_NOTIMPL(IndexOf(Item *, UINT32 *, boolean *))
    FAKE_NOTIMPL(GetMany(UINT32, UINT32, Item **, UINT32 *))

private:
    std::vector<ComRef<Item>> items_;
};

class FakeCharacteristic final : public FakeObject<abi::IGattCharacteristic> {
public:
    explicit FakeCharacteristic(GUID uuid) : uuid_(uuid) {}
    FAKE_NOTIMPL(GetDescriptors(GUID, IInspectable **))
    FAKE_NOTIMPL(get_CharacteristicProperties(abi::GattCharacteristicProperties *))
    FAKE_NOTIMPL(get_ProtectionLevel(abi::GattProtectionLevel *))
    FAKE_NOTIMPL(put_ProtectionLevel(abi::GattProtectionLevel))
    FAKE_NOTIMPL(get_UserDescription(HSTRING *))
    HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override
    {
        *value = uuid_;
        return S_OK;
    }
    FAKE_NOTIMPL(get_AttributeHandle(UINT16 *))
    FAKE_NOTIMPL(get_PresentationFormats(IInspectable **))
    FAKE_NOTIMPL(ReadValueAsync(IInspectable **))
    FAKE_NOTIMPL(ReadValueWithCacheModeAsync(abi::BluetoothCacheMode, IInspectable **))
    FAKE_NOTIMPL(WriteValueAsync(abi::IBuffer *, abi::IAsyncOperation_GattCommunicationStatus **))
    FAKE_NOTIMPL(WriteValueWithOptionAsync(abi::IBuffer *, abi::GattWriteOption, abi::IAsyncOperation_GattCommunicationStatus **))
    FAKE_NOTIMPL(ReadClientCharacteristicConfigurationDescriptorAsync(IInspectable **))
    HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorAsync(
        abi::GattClientCharacteristicConfigurationDescriptorValue value, abi::IAsyncOperation_GattCommunicationStatus **op) override
    {
        written.push_back(value);
        return Lend(writeOperation, op);
    }
    HRESULT STDMETHODCALLTYPE add_ValueChanged(abi::ITypedEventHandler_Characteristic_ValueChanged *h, EventRegistrationToken *t) override { return valueChanged.Add(h, t); }
    HRESULT STDMETHODCALLTYPE remove_ValueChanged(EventRegistrationToken t) override { return valueChanged.Remove(t); }

    // One notification: the arguments carry the bytes in a buffer of their own.
    HRESULT RaiseValueChanged(std::vector<BYTE> bytes);

    ComRef<abi::IAsyncOperation_GattCommunicationStatus> writeOperation;
    std::vector<abi::GattClientCharacteristicConfigurationDescriptorValue> written;
    FakeEvent<abi::ITypedEventHandler_Characteristic_ValueChanged> valueChanged;

private:
    GUID uuid_;
};

class FakeCharacteristicsResult final : public FakeObject<abi::IGattCharacteristicsResult> {
public:
    FakeCharacteristicsResult(abi::GattCommunicationStatus status, std::vector<ComRef<abi::IGattCharacteristic>> items)
        : status_(status), view_(Make<FakeVectorView<abi::IVectorView_GattCharacteristic, abi::IGattCharacteristic>>(std::move(items))) {}
    HRESULT STDMETHODCALLTYPE get_Status(abi::GattCommunicationStatus *value) override
    {
        *value = status_;
        return S_OK;
    }
    FAKE_NOTIMPL(get_ProtocolError(IInspectable **))
    HRESULT STDMETHODCALLTYPE get_Characteristics(abi::IVectorView_GattCharacteristic **value) override { return Lend(view_, value); }

private:
    abi::GattCommunicationStatus status_;
    ComRef<abi::IVectorView_GattCharacteristic> view_;
};

class FakeService final : public FakeObject<abi::IGattDeviceService, abi::IGattDeviceService3> {
public:
    explicit FakeService(GUID uuid) : uuid_(uuid) {}
    FAKE_NOTIMPL(GetCharacteristics(GUID, IInspectable **))
    FAKE_NOTIMPL(GetIncludedServices(GUID, IInspectable **))
    FAKE_NOTIMPL(get_DeviceId(HSTRING *))
    HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override
    {
        *value = uuid_;
        return S_OK;
    }
    FAKE_NOTIMPL(get_AttributeHandle(UINT16 *))
    FAKE_NOTIMPL(get_DeviceAccessInformation(IInspectable **))
    FAKE_NOTIMPL(get_Session(IInspectable **))
    FAKE_NOTIMPL(get_SharingMode(abi::GattSharingMode *))
    FAKE_NOTIMPL(RequestAccessAsync(IInspectable **))
    FAKE_NOTIMPL(OpenAsync(abi::GattSharingMode, IInspectable **))
    HRESULT STDMETHODCALLTYPE GetCharacteristicsAsync(abi::IAsyncOperation_GattCharacteristicsResult **op) override { return Lend(characteristicsOperation, op); }
    FAKE_NOTIMPL(GetCharacteristicsWithCacheModeAsync(abi::BluetoothCacheMode, abi::IAsyncOperation_GattCharacteristicsResult **))
    FAKE_NOTIMPL(GetCharacteristicsForUuidAsync(GUID, abi::IAsyncOperation_GattCharacteristicsResult **))
    FAKE_NOTIMPL(GetCharacteristicsForUuidWithCacheModeAsync(GUID, abi::BluetoothCacheMode, abi::IAsyncOperation_GattCharacteristicsResult **))
    FAKE_NOTIMPL(GetIncludedServicesAsync(abi::IAsyncOperation_GattDeviceServicesResult **))
    FAKE_NOTIMPL(GetIncludedServicesWithCacheModeAsync(abi::BluetoothCacheMode, abi::IAsyncOperation_GattDeviceServicesResult **))
    FAKE_NOTIMPL(GetIncludedServicesForUuidAsync(GUID, abi::IAsyncOperation_GattDeviceServicesResult **))
    FAKE_NOTIMPL(GetIncludedServicesForUuidWithCacheModeAsync(GUID, abi::BluetoothCacheMode, abi::IAsyncOperation_GattDeviceServicesResult **))

    ComRef<abi::IAsyncOperation_GattCharacteristicsResult> characteristicsOperation;

private:
    GUID uuid_;
};

class FakeServicesResult final : public FakeObject<abi::IGattDeviceServicesResult> {
public:
    FakeServicesResult(abi::GattCommunicationStatus status, std::vector<ComRef<abi::IGattDeviceService>> items)
        : status_(status), view_(Make<FakeVectorView<abi::IVectorView_GattDeviceService, abi::IGattDeviceService>>(std::move(items))) {}
    HRESULT STDMETHODCALLTYPE get_Status(abi::GattCommunicationStatus *value) override
    {
        *value = status_;
        return S_OK;
    }
    FAKE_NOTIMPL(get_ProtocolError(IInspectable **))
    HRESULT STDMETHODCALLTYPE get_Services(abi::IVectorView_GattDeviceService **value) override { return Lend(view_, value); }

private:
    abi::GattCommunicationStatus status_;
    ComRef<abi::IVectorView_GattDeviceService> view_;
};

class FakeDevice final : public FakeObject<abi::IBluetoothLEDevice, abi::IBluetoothLEDevice3, abi::IBluetoothLEDevice4,
                                           abi::IBluetoothLEDevice6, abi::IClosable> {
public:
    explicit FakeDevice(std::wstring name) : name_(std::move(name)) {}
    // Windows 10 has no IBluetoothLEDevice6; before 1709 no IBluetoothLEDevice4 either.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if ((iid == __uuidof(abi::IBluetoothLEDevice6) && !windows11) || (iid == __uuidof(abi::IBluetoothLEDevice4) && !hasDeviceId)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return FakeObject::QueryInterface(iid, out);
    }
    FAKE_NOTIMPL(get_DeviceId(HSTRING *))
    HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) override
    {
        *value = NewString(name_);
        return S_OK;
    }
    FAKE_NOTIMPL(get_GattServices(IInspectable **))
    HRESULT STDMETHODCALLTYPE get_ConnectionStatus(abi::BluetoothConnectionStatus *value) override
    {
        *value = status;
        return statusResult;
    }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) override
    {
        *value = address;
        return S_OK;
    }
    FAKE_NOTIMPL(GetGattService(GUID, IInspectable **))
    FAKE_NOTIMPL(add_NameChanged(IUnknown *, EventRegistrationToken *))
    FAKE_NOTIMPL(remove_NameChanged(EventRegistrationToken))
    FAKE_NOTIMPL(add_GattServicesChanged(IUnknown *, EventRegistrationToken *))
    FAKE_NOTIMPL(remove_GattServicesChanged(EventRegistrationToken))
    HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(abi::ITypedEventHandler_Device_Object *h, EventRegistrationToken *t) override { return statusChanged.Add(h, t); }
    HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(EventRegistrationToken t) override { return statusChanged.Remove(t); }
    FAKE_NOTIMPL(get_DeviceAccessInformation(IInspectable **))
    FAKE_NOTIMPL(RequestAccessAsync(IInspectable **))
    HRESULT STDMETHODCALLTYPE GetGattServicesAsync(abi::IAsyncOperation_GattDeviceServicesResult **op) override { return Lend(servicesOperation, op); }
    FAKE_NOTIMPL(GetGattServicesWithCacheModeAsync(abi::BluetoothCacheMode, abi::IAsyncOperation_GattDeviceServicesResult **))
    FAKE_NOTIMPL(GetGattServicesForUuidAsync(GUID, abi::IAsyncOperation_GattDeviceServicesResult **))
    FAKE_NOTIMPL(GetGattServicesForUuidWithCacheModeAsync(GUID, abi::BluetoothCacheMode, abi::IAsyncOperation_GattDeviceServicesResult **))
    HRESULT STDMETHODCALLTYPE get_BluetoothDeviceId(abi::IBluetoothDeviceId **value) override { return Lend(id, value); }
    FAKE_NOTIMPL(GetConnectionParameters(IInspectable **))
    FAKE_NOTIMPL(GetConnectionPhy(IInspectable **))
    HRESULT STDMETHODCALLTYPE RequestPreferredConnectionParameters(abi::IBluetoothLEPreferredConnectionParameters *parameters,
                                                                   abi::IBluetoothLEPreferredConnectionParametersRequest **request) override
    {
        requested.push_back(parameters);
        return Lend(Make<FakeRequest>(requestStatus), request);
    }
    FAKE_NOTIMPL(add_ConnectionParametersChanged(IUnknown *, EventRegistrationToken *))
    FAKE_NOTIMPL(remove_ConnectionParametersChanged(EventRegistrationToken))
    FAKE_NOTIMPL(add_ConnectionPhyChanged(IUnknown *, EventRegistrationToken *))
    FAKE_NOTIMPL(remove_ConnectionPhyChanged(EventRegistrationToken))
    HRESULT STDMETHODCALLTYPE Close() override
    {
        ++closes;
        trail.push_back("device closed");
        return S_OK;
    }

    // The connection status changes. The event's Object argument carries nothing: Windows passes
    // null (documented for GattServicesChanged, of the same delegate type) and the handler is to
    // read ConnectionStatus from the sender.
    HRESULT RaiseStatusChanged(abi::BluetoothConnectionStatus now)
    {
        status = now;
        return statusChanged.Raise(static_cast<abi::IBluetoothLEDevice *>(this), static_cast<IInspectable *>(nullptr));
    }

    std::atomic<abi::BluetoothConnectionStatus> status{abi::BluetoothConnectionStatus::Connected};
    HRESULT statusResult = S_OK;
    std::atomic<int> closes{0};
    ComRef<abi::IAsyncOperation_GattDeviceServicesResult> servicesOperation;
    FakeEvent<abi::ITypedEventHandler_Device_Object> statusChanged;
    UINT64 address = 0xAABBCCDDEEFFull;
    bool windows11 = true, hasDeviceId = true;
    ComRef<FakeDeviceId> id = Make<FakeDeviceId>(L"BluetoothLE#BluetoothLE00:11:22:33:44:55-aa:bb:cc:dd:ee:ff");
    FakeRequest::Status requestStatus = FakeRequest::Status::Success;
    std::vector<abi::IBluetoothLEPreferredConnectionParameters *> requested;  // not owned

private:
    std::wstring name_;
};

class FakeDeviceStatics final : public FakeObject<abi::IBluetoothLEDeviceStatics, abi::IBluetoothLEDeviceStatics2> {
public:
    // The operation scripted for the id, or an error for an unknown one.
    HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING id, abi::IAsyncOperation_BluetoothLEDevice **op) override
    {
        ids.emplace_back(WindowsGetStringRawBuffer(id, nullptr));
        auto found = byId.find(ids.back());
        return found == byId.end() ? E_INVALIDARG : Lend(found->second, op);
    }
    HRESULT STDMETHODCALLTYPE FromBluetoothAddressAsync(UINT64 address, abi::IAsyncOperation_BluetoothLEDevice **op) override
    {
        addresses.push_back(address);
        return Lend(deviceOperation, op);
    }
    FAKE_NOTIMPL(GetDeviceSelector(HSTRING *))
    FAKE_NOTIMPL(GetDeviceSelectorFromPairingState(boolean, HSTRING *))
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromConnectionStatus(abi::BluetoothConnectionStatus status, HSTRING *result) override
    {
        *result = NewString(status == abi::BluetoothConnectionStatus::Connected ? L"connected-selector" : L"disconnected-selector");
        return S_OK;
    }
    FAKE_NOTIMPL(GetDeviceSelectorFromDeviceName(HSTRING, HSTRING *))
    FAKE_NOTIMPL(GetDeviceSelectorFromBluetoothAddress(UINT64, HSTRING *))
    FAKE_NOTIMPL(GetDeviceSelectorFromBluetoothAddressWithBluetoothAddressType(UINT64, abi::BluetoothAddressType, HSTRING *))
    FAKE_NOTIMPL(GetDeviceSelectorFromAppearance(IInspectable *, HSTRING *))
    FAKE_NOTIMPL(FromBluetoothAddressWithBluetoothAddressTypeAsync(UINT64, abi::BluetoothAddressType, abi::IAsyncOperation_BluetoothLEDevice **))

    std::vector<UINT64> addresses;
    std::vector<std::wstring> ids;
    ComRef<abi::IAsyncOperation_BluetoothLEDevice> deviceOperation;
    std::map<std::wstring, ComRef<abi::IAsyncOperation_BluetoothLEDevice>> byId;
};

// A notification's value: the buffer carries its bytes, the reader reads them back.
class FakeBuffer final : public FakeObject<abi::IBuffer> {
public:
    explicit FakeBuffer(std::vector<BYTE> bytes) : bytes(std::move(bytes)) {}
    FAKE_NOTIMPL(get_Capacity(UINT32 *))
    FAKE_NOTIMPL(get_Length(UINT32 *))
    FAKE_NOTIMPL(put_Length(UINT32))
    const std::vector<BYTE> bytes;
};

class FakeDataReader final : public FakeObject<abi::IDataReader> {
public:
    explicit FakeDataReader(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
    HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32 *value) override
    {
        *value = static_cast<UINT32>(bytes_.size() - position_);
        return S_OK;
    }
    FAKE_NOTIMPL(get_UnicodeEncoding(INT32 *))
    FAKE_NOTIMPL(put_UnicodeEncoding(INT32))
    FAKE_NOTIMPL(get_ByteOrder(INT32 *))
    FAKE_NOTIMPL(put_ByteOrder(INT32))
    FAKE_NOTIMPL(get_InputStreamOptions(UINT32 *))
    FAKE_NOTIMPL(put_InputStreamOptions(UINT32))
    FAKE_NOTIMPL(ReadByte(BYTE *))
    HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 length, BYTE *value) override
    {
        // How the platform treats a null array is not documented, even for a length of 0.
        if (!value)
            return E_POINTER;
        if (length > bytes_.size() - position_)
            return E_BOUNDS;
        if (length)
            std::memcpy(value, bytes_.data() + position_, length);
        position_ += length;
        return S_OK;
    }

private:
    std::vector<BYTE> bytes_;
    size_t position_ = 0;
};

class FakeDataReaderStatics final : public FakeObject<abi::IDataReaderStatics> {
public:
    HRESULT STDMETHODCALLTYPE FromBuffer(abi::IBuffer *buffer, abi::IDataReader **reader) override
    {
        if (!buffer)
            return E_POINTER;
        return Lend(Make<FakeDataReader>(static_cast<FakeBuffer *>(buffer)->bytes), reader);
    }
};

class FakeValueChangedArgs final : public FakeObject<abi::IGattValueChangedEventArgs> {
public:
    explicit FakeValueChangedArgs(std::vector<BYTE> bytes) : buffer_(Make<FakeBuffer>(std::move(bytes))) {}
    HRESULT STDMETHODCALLTYPE get_CharacteristicValue(abi::IBuffer **value) override { return Lend(buffer_, value); }
    FAKE_NOTIMPL(get_Timestamp(abi::DateTime *))

private:
    ComRef<FakeBuffer> buffer_;
};

inline HRESULT FakeCharacteristic::RaiseValueChanged(std::vector<BYTE> bytes)
{
    return valueChanged.Raise(static_cast<abi::IGattCharacteristic *>(this), Make<FakeValueChangedArgs>(std::move(bytes)).Get());
}

} // namespace fakes
