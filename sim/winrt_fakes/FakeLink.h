#pragma once
// Fakes of what the backend asks of Windows to find and keep a link: the connected devices'
// DeviceInformation, a device's id and GATT session, Windows 11's connection parameters, and
// ApiInformation. Included by FakeGatt.h. What is closed and switched is written to `trail`, in
// order, so that tests see the order of a teardown.
#include <string>
#include <vector>

namespace fakes {

inline std::vector<std::string> trail;

class FakeDeviceId final : public FakeObject<abi::IBluetoothDeviceId> {
public:
    explicit FakeDeviceId(std::wstring id) : id(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE get_Id(HSTRING *value) override
    {
        *value = NewString(id);
        return S_OK;
    }
    FAKE_NOTIMPL(get_IsClassicDevice(boolean *))
    FAKE_NOTIMPL(get_IsLowEnergyDevice(boolean *))
    const std::wstring id;
};

class FakeSession final : public FakeObject<abi::IGattSession, abi::IClosable> {
public:
    FAKE_NOTIMPL(get_DeviceId(abi::IBluetoothDeviceId **))
    HRESULT STDMETHODCALLTYPE get_CanMaintainConnection(boolean *value) override
    {
        *value = canMaintain;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_MaintainConnection(boolean value) override
    {
        trail.push_back(value ? "session on" : "session off");
        return putResult;
    }
    FAKE_NOTIMPL(get_MaintainConnection(boolean *))
    FAKE_NOTIMPL(get_MaxPduSize(UINT16 *))
    FAKE_NOTIMPL(get_SessionStatus(abi::GattSessionStatus *))
    FAKE_NOTIMPL(add_MaxPduSizeChanged(IUnknown *, EventRegistrationToken *))
    FAKE_NOTIMPL(remove_MaxPduSizeChanged(EventRegistrationToken))
    FAKE_NOTIMPL(add_SessionStatusChanged(IUnknown *, EventRegistrationToken *))
    FAKE_NOTIMPL(remove_SessionStatusChanged(EventRegistrationToken))
    HRESULT STDMETHODCALLTYPE Close() override
    {
        trail.push_back("session closed");
        return S_OK;
    }
    boolean canMaintain = TRUE;
    HRESULT putResult = S_OK;
};

class FakeSessionStatics final : public FakeObject<abi::IGattSessionStatics> {
public:
    HRESULT STDMETHODCALLTYPE FromDeviceIdAsync(abi::IBluetoothDeviceId *id, abi::IAsyncOperation_GattSession **op) override
    {
        ids.push_back(static_cast<FakeDeviceId *>(id)->id);
        return Lend(Operation<abi::IAsyncOperation_GattSession>(Finish::OnAnotherThread, session.Get()), op);
    }
    std::vector<std::wstring> ids;
    ComRef<FakeSession> session = Make<FakeSession>();
};

class FakeRequest final : public FakeObject<abi::IBluetoothLEPreferredConnectionParametersRequest, abi::IClosable> {
public:
    using Status = abi::BluetoothLEPreferredConnectionParametersRequestStatus;
    explicit FakeRequest(Status status) : status_(status) {}
    HRESULT STDMETHODCALLTYPE get_Status(Status *value) override
    {
        *value = status_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        trail.push_back("request closed");
        return S_OK;
    }

private:
    Status status_;
};

class FakeParameters final : public FakeObject<abi::IBluetoothLEPreferredConnectionParameters> {
public:
    FAKE_NOTIMPL(get_LinkTimeout(UINT16 *))
    FAKE_NOTIMPL(get_ConnectionLatency(UINT16 *))
    FAKE_NOTIMPL(get_MinConnectionInterval(UINT16 *))
    FAKE_NOTIMPL(get_MaxConnectionInterval(UINT16 *))
};

class FakeParametersStatics final : public FakeObject<abi::IBluetoothLEPreferredConnectionParametersStatics> {
public:
    FAKE_NOTIMPL(get_Balanced(abi::IBluetoothLEPreferredConnectionParameters **))
    HRESULT STDMETHODCALLTYPE get_ThroughputOptimized(abi::IBluetoothLEPreferredConnectionParameters **value) override
    {
        return Lend(throughputOptimized, value);
    }
    FAKE_NOTIMPL(get_PowerOptimized(abi::IBluetoothLEPreferredConnectionParameters **))
    ComRef<FakeParameters> throughputOptimized = Make<FakeParameters>();
};

// Answers IsMethodPresent for the one method of Windows 11 the backend asks about.
class FakeApiInformation final : public FakeObject<abi::IApiInformationStatics> {
public:
    FAKE_NOTIMPL(IsTypePresent(HSTRING, boolean *))
    HRESULT STDMETHODCALLTYPE IsMethodPresent(HSTRING type, HSTRING method, boolean *value) override
    {
        *value = windows11 && std::wstring(WindowsGetStringRawBuffer(type, nullptr)) == L"Windows.Devices.Bluetooth.BluetoothLEDevice" &&
                 std::wstring(WindowsGetStringRawBuffer(method, nullptr)) == L"RequestPreferredConnectionParameters";
        return S_OK;
    }
    FAKE_NOTIMPL(IsMethodPresentWithArity(HSTRING, HSTRING, UINT32, boolean *))
    FAKE_NOTIMPL(IsEventPresent(HSTRING, HSTRING, boolean *))
    FAKE_NOTIMPL(IsPropertyPresent(HSTRING, HSTRING, boolean *))
    FAKE_NOTIMPL(IsReadOnlyPropertyPresent(HSTRING, HSTRING, boolean *))
    FAKE_NOTIMPL(IsWriteablePropertyPresent(HSTRING, HSTRING, boolean *))
    FAKE_NOTIMPL(IsEnumNamedValuePresent(HSTRING, HSTRING, boolean *))
    FAKE_NOTIMPL(IsApiContractPresentByMajor(HSTRING, UINT16, boolean *))
    FAKE_NOTIMPL(IsApiContractPresentByMajorAndMinor(HSTRING, UINT16, UINT16, boolean *))
    bool windows11 = true;
};

class FakeDeviceInformation final : public FakeObject<abi::IDeviceInformation> {
public:
    explicit FakeDeviceInformation(std::wstring id) : id_(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE get_Id(HSTRING *value) override
    {
        *value = NewString(id_);
        return S_OK;
    }
    FAKE_NOTIMPL(get_Name(HSTRING *))
    FAKE_NOTIMPL(get_IsEnabled(boolean *))
    FAKE_NOTIMPL(get_IsDefault(boolean *))
    FAKE_NOTIMPL(get_EnclosureLocation(IInspectable **))
    FAKE_NOTIMPL(get_Properties(IInspectable **))
    FAKE_NOTIMPL(Update(IInspectable *))
    FAKE_NOTIMPL(GetThumbnailAsync(IInspectable **))
    FAKE_NOTIMPL(GetGlyphThumbnailAsync(IInspectable **))

private:
    std::wstring id_;
};

class FakeDeviceInformationStatics final : public FakeObject<abi::IDeviceInformationStatics> {
public:
    FAKE_NOTIMPL(CreateFromIdAsync(HSTRING, IInspectable **))
    FAKE_NOTIMPL(CreateFromIdAsyncAdditionalProperties(HSTRING, IInspectable *, IInspectable **))
    FAKE_NOTIMPL(FindAllAsync(abi::IAsyncOperation_DeviceInformationCollection **))
    FAKE_NOTIMPL(FindAllAsyncDeviceClass(INT32, abi::IAsyncOperation_DeviceInformationCollection **))
    HRESULT STDMETHODCALLTYPE FindAllAsyncAqsFilter(HSTRING filter, abi::IAsyncOperation_DeviceInformationCollection **op) override
    {
        filters.emplace_back(WindowsGetStringRawBuffer(filter, nullptr));
        return Lend(findOperation, op);
    }
    FAKE_NOTIMPL(FindAllAsyncAqsFilterAndAdditionalProperties(HSTRING, IInspectable *, abi::IAsyncOperation_DeviceInformationCollection **))
    FAKE_NOTIMPL(CreateWatcher(IInspectable **))
    FAKE_NOTIMPL(CreateWatcherDeviceClass(INT32, IInspectable **))
    FAKE_NOTIMPL(CreateWatcherAqsFilter(HSTRING, IInspectable **))
    FAKE_NOTIMPL(CreateWatcherAqsFilterAndAdditionalProperties(HSTRING, IInspectable *, IInspectable **))
    std::vector<std::wstring> filters;
    ComRef<abi::IAsyncOperation_DeviceInformationCollection> findOperation;
};

} // namespace fakes
