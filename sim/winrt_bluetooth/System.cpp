// What Windows lists and answers about itself: DeviceInformation (the devices the system has
// connected, found without an advertisement) and ApiInformation (which of the newer Bluetooth
// APIs this Windows has, as the control chose Windows 10 or 11).
#include "AsyncOperation.h"
#include "Classes.h"
#include "Gatt.h"
#include "VectorView.h"

#include <cwchar>

namespace winrt_bluetooth {

namespace {

constexpr wchar_t kInformationViewClass[] =
    L"Windows.Foundation.Collections.IVectorView`1<Windows.Devices.Enumeration.DeviceInformation>";
constexpr wchar_t kListingOperationClass[] =
    L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Enumeration.DeviceInformationCollection>";

std::wstring Text(HSTRING text)
{
    UINT32 length = 0;
    const wchar_t *raw = WindowsGetStringRawBuffer(text, &length);
    return std::wstring(raw ? raw : L"", length);
}

// One device as the system lists it: its id (what BluetoothLEDevice.FromIdAsync takes) and the
// name the system has for it, which once connected is the device's own (GAP) name.
class Information final : public Object<abi::IDeviceInformation> {
public:
    Information(UINT64 address, std::u16string name) : Object(kDeviceInformationClass), address_(address), name_(std::move(name)) {}
    HRESULT STDMETHODCALLTYPE get_Id(HSTRING *value) override { return NewString(DeviceId(address_), value); }
    HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) override { return NewString(name_, value); }
    HRESULT STDMETHODCALLTYPE get_IsEnabled(boolean *value) override { return Give(value, TRUE); }
    NOT_SERVED(get_IsDefault(boolean *))
    NOT_SERVED(get_EnclosureLocation(IInspectable **))
    NOT_SERVED(get_Properties(IInspectable **))
    NOT_SERVED(Update(IInspectable *))
    NOT_SERVED(GetThumbnailAsync(IInspectable **))
    NOT_SERVED(GetGlyphThumbnailAsync(IInspectable **))

private:
    const UINT64 address_;
    const std::u16string name_;
};

using InformationView = VectorView<abi::IVectorView_DeviceInformation, abi::IDeviceInformation>;

class InformationStatics final : public Object<IActivationFactory, abi::IDeviceInformationStatics> {
public:
    InformationStatics() : Object(kDeviceInformationClass) {}
    NOT_SERVED(ActivateInstance(IInspectable **))
    NOT_SERVED(CreateFromIdAsync(HSTRING, IInspectable **))
    NOT_SERVED(CreateFromIdAsyncAdditionalProperties(HSTRING, IInspectable *, IInspectable **))
    NOT_SERVED(FindAllAsync(abi::IAsyncOperation_DeviceInformationCollection **))
    NOT_SERVED(FindAllAsyncDeviceClass(INT32, abi::IAsyncOperation_DeviceInformationCollection **))
    // Only the connected Bluetooth LE devices' selector is served: the devices the radio has
    // connected now, whoever connected them (Microsoft Learn: DeviceInformation.FindAllAsync).
    HRESULT STDMETHODCALLTYPE FindAllAsyncAqsFilter(HSTRING filter, abi::IAsyncOperation_DeviceInformationCollection **operation) override
    {
        if (!operation)
            return E_POINTER;
        if (Text(filter) != kConnectedSelector)
            return E_NOTIMPL;
        ++Count().connectedListings;
        return Lend(AsyncOperation<abi::IAsyncOperation_DeviceInformationCollection>::Start(
                        kListingOperationClass,
                        []() -> abi::IVectorView_DeviceInformation * {
                            std::vector<ComRef<abi::IDeviceInformation>> items;
                            for (const auto &device : Radio().ConnectedDevices())
                                items.push_back(Make<Information>(device->BluetoothAddress(), device->Name()));
                            auto view = Make<InformationView>(kInformationViewClass, std::move(items));
                            view->AddRef();
                            return view.Get();
                        }),
                    operation);
    }
    NOT_SERVED(FindAllAsyncAqsFilterAndAdditionalProperties(HSTRING, IInspectable *, abi::IAsyncOperation_DeviceInformationCollection **))
    NOT_SERVED(CreateWatcher(IInspectable **))
    NOT_SERVED(CreateWatcherDeviceClass(INT32, IInspectable **))
    NOT_SERVED(CreateWatcherAqsFilter(HSTRING, IInspectable **))
    NOT_SERVED(CreateWatcherAqsFilterAndAdditionalProperties(HSTRING, IInspectable *, IInspectable **))
};

// What ApiInformation answers: the Bluetooth types and methods the component serves, those of
// Windows 11 only in Windows 11 mode; anything else is absent.
struct Api {
    const wchar_t *type;
    const wchar_t *method;  // null: the type itself
    bool windows11Only;
};
constexpr Api kApis[] = {
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", nullptr, false},
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", L"FromIdAsync", false},
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", L"FromBluetoothAddressAsync", false},
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", L"GetDeviceSelectorFromConnectionStatus", false},
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", L"GetGattServicesAsync", false},
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", L"GetGattServicesForUuidAsync", false},
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", L"RequestPreferredConnectionParameters", true},
    {L"Windows.Devices.Bluetooth.BluetoothLEDevice", L"GetConnectionParameters", true},
    {L"Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParameters", nullptr, true},
    {L"Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParametersRequest", nullptr, true},
    {L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession", nullptr, false},
    {L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession", L"FromDeviceIdAsync", false},
    {L"Windows.Devices.Enumeration.DeviceInformation", nullptr, false},
    {L"Windows.Devices.Enumeration.DeviceInformation", L"FindAllAsync", false},
};

bool Present(const std::wstring &type, const wchar_t *method)
{
    for (const Api &api : kApis)
        if (type == api.type && (method ? api.method && std::wcscmp(method, api.method) == 0 : !api.method))
            return !api.windows11Only || Windows11();
    return false;
}

class ApiInformationStatics final : public Object<IActivationFactory, abi::IApiInformationStatics> {
public:
    ApiInformationStatics() : Object(kApiInformationClass) {}
    NOT_SERVED(ActivateInstance(IInspectable **))
    HRESULT STDMETHODCALLTYPE IsTypePresent(HSTRING type, boolean *value) override { return Give(value, Present(Text(type), nullptr)); }
    HRESULT STDMETHODCALLTYPE IsMethodPresent(HSTRING type, HSTRING method, boolean *value) override
    {
        if (!method)
            return E_INVALIDARG;
        return Give(value, Present(Text(type), Text(method).c_str()));
    }
    NOT_SERVED(IsMethodPresentWithArity(HSTRING, HSTRING, UINT32, boolean *))
    NOT_SERVED(IsEventPresent(HSTRING, HSTRING, boolean *))
    NOT_SERVED(IsPropertyPresent(HSTRING, HSTRING, boolean *))
    NOT_SERVED(IsReadOnlyPropertyPresent(HSTRING, HSTRING, boolean *))
    NOT_SERVED(IsWriteablePropertyPresent(HSTRING, HSTRING, boolean *))
    NOT_SERVED(IsEnumNamedValuePresent(HSTRING, HSTRING, boolean *))
    NOT_SERVED(IsApiContractPresentByMajor(HSTRING, UINT16, boolean *))
    NOT_SERVED(IsApiContractPresentByMajorAndMinor(HSTRING, UINT16, UINT16, boolean *))
};

} // namespace

ComRef<IActivationFactory> NewDeviceInformationStatics() { return Make<InformationStatics>(); }
ComRef<IActivationFactory> NewApiInformationStatics() { return Make<ApiInformationStatics>(); }

} // namespace winrt_bluetooth
