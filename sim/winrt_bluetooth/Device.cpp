// Windows.Devices.Bluetooth.BluetoothLEDevice: its statics and the device, over a device of the
// simulated radio. Its GATT services come from Gatt.cpp.
#include "AsyncOperation.h"
#include "Classes.h"
#include "Gatt.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>

namespace winrt_bluetooth {

namespace {

constexpr wchar_t kDeviceOperationClass[] = L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Bluetooth.BluetoothLEDevice>";
constexpr wchar_t kServicesOperationClass[] =
    L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceServicesResult>";

class Device final : public Object<abi::IBluetoothLEDevice, abi::IBluetoothLEDevice3, abi::IBluetoothLEDevice4,
                                   abi::IBluetoothLEDevice6, abi::IClosable> {
public:
    Device(std::shared_ptr<radio::Device> device, UINT64 address)
        : Object(kDeviceClass), device_(std::move(device)), address_(address),
          anchor_(std::make_shared<Anchor<Device>>(this)), windows11_(Windows11())
    {
    }

    // IBluetoothLEDevice6 is Windows 11's (Microsoft Learn: BluetoothLEDevice, 10.0.22000): a
    // Windows 10 answers E_NOINTERFACE.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == __uuidof(abi::IBluetoothLEDevice6) && !windows11_) {
            if (!out)
                return E_POINTER;
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return Object::QueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) override
    {
        if (Closed())
            return RO_E_CLOSED;
        return NewString(DeviceId(address_), value);
    }
    HRESULT STDMETHODCALLTYPE get_Name(HSTRING *value) override
    {
        if (Closed())
            return RO_E_CLOSED;
        return Guarded([&] { return NewString(device_->Name(), value); });
    }
    NOT_SERVED(get_GattServices(IInspectable **))
    HRESULT STDMETHODCALLTYPE get_ConnectionStatus(abi::BluetoothConnectionStatus *value) override
    {
        if (Closed())
            return RO_E_CLOSED;
        return Guarded([&] { return Give(value, device_->GetConnectionStatus()); });
    }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) override
    {
        if (Closed())
            return RO_E_CLOSED;
        return Give(value, address_);
    }
    NOT_SERVED(GetGattService(GUID, IInspectable **))
    NOT_SERVED(add_NameChanged(IUnknown *, EventRegistrationToken *))
    NOT_SERVED(remove_NameChanged(EventRegistrationToken))
    NOT_SERVED(add_GattServicesChanged(IUnknown *, EventRegistrationToken *))
    NOT_SERVED(remove_GattServicesChanged(EventRegistrationToken))
    // ConnectionStatusChanged: on the radio's thread, never inside add_; the Object argument is
    // null, as Windows passes it: the handler reads ConnectionStatus from the sender.
    HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(abi::ITypedEventHandler_Device_Object *handler,
                                                          EventRegistrationToken *token) override
    {
        if (!handler || !token)
            return E_INVALIDARG;
        if (Closed())
            return RO_E_CLOSED;
        auto held = std::make_shared<HeldDelegate<abi::ITypedEventHandler_Device_Object>>(handler);
        return Guarded([&] {
            token->value = device_->AddConnectionStatusChanged([held, anchor = anchor_](radio::Device &) -> radio::ResultCode {
                ComRef<Device> sender = anchor->Lock();
                if (!sender)
                    return radio::kOk;
                return held->Get()->Invoke(sender.Get(), nullptr);
            });
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(EventRegistrationToken token) override
    {
        return Guarded([&] {
            device_->RemoveConnectionStatusChanged(token.value);
            return S_OK;
        });
    }

    NOT_SERVED(get_DeviceAccessInformation(IInspectable **))
    NOT_SERVED(RequestAccessAsync(IInspectable **))
    // The first GATT access connects the device (Connected comes as an event). Without a cache
    // mode the query may be answered from Windows' cache (Microsoft Learn: GetGattServicesAsync).
    HRESULT STDMETHODCALLTYPE GetGattServicesAsync(abi::IAsyncOperation_GattDeviceServicesResult **operation) override
    {
        return Services(nullptr, abi::BluetoothCacheMode::Cached, operation);
    }
    HRESULT STDMETHODCALLTYPE GetGattServicesWithCacheModeAsync(abi::BluetoothCacheMode mode,
                                                                abi::IAsyncOperation_GattDeviceServicesResult **operation) override
    {
        return Services(nullptr, mode, operation);
    }
    HRESULT STDMETHODCALLTYPE GetGattServicesForUuidAsync(GUID uuid, abi::IAsyncOperation_GattDeviceServicesResult **operation) override
    {
        return Services(&uuid, abi::BluetoothCacheMode::Cached, operation);
    }
    HRESULT STDMETHODCALLTYPE GetGattServicesForUuidWithCacheModeAsync(GUID uuid, abi::BluetoothCacheMode mode,
                                                                       abi::IAsyncOperation_GattDeviceServicesResult **operation) override
    {
        return Services(&uuid, mode, operation);
    }

    HRESULT STDMETHODCALLTYPE get_BluetoothDeviceId(abi::IBluetoothDeviceId **value) override
    {
        if (Closed())
            return RO_E_CLOSED;
        return Guarded([&] { return Lend(NewDeviceId(address_), value); });
    }

    NOT_SERVED(GetConnectionParameters(IInspectable **))
    NOT_SERVED(GetConnectionPhy(IInspectable **))
    // Synchronous; the request is answered at once (Microsoft Learn:
    // BluetoothLEDevice.RequestPreferredConnectionParameters).
    HRESULT STDMETHODCALLTYPE RequestPreferredConnectionParameters(abi::IBluetoothLEPreferredConnectionParameters *parameters,
                                                                   abi::IBluetoothLEPreferredConnectionParametersRequest **request) override
    {
        if (!parameters)
            return E_INVALIDARG;
        if (Closed())
            return RO_E_CLOSED;
        return Guarded([&] { return Lend(NewParametersRequest(*device_), request); });
    }
    NOT_SERVED(add_ConnectionParametersChanged(IUnknown *, EventRegistrationToken *))
    NOT_SERVED(remove_ConnectionParametersChanged(EventRegistrationToken))
    NOT_SERVED(add_ConnectionPhyChanged(IUnknown *, EventRegistrationToken *))
    NOT_SERVED(remove_ConnectionPhyChanged(EventRegistrationToken))

    // Close disconnects and frees the device: every later call fails with RO_E_CLOSED.
    HRESULT STDMETHODCALLTYPE Close() override
    {
        if (closed_.exchange(true)) {
            ++Count().repeatedCloses;
            return S_OK;
        }
        return Guarded([&] {
            device_->Close();
            return S_OK;
        });
    }

private:
    // The radio's device, let go with it, lets the link go as Close does.
    ~Device() override { anchor_->Clear(); }
    bool Closed() const { return closed_.load(); }

    // One services query, for every service or for one UUID, from Windows' cache or from the
    // device, as the radio answers it (a first query Unreachable, a cache that lacks a service).
    // The radio has no uncached query for every service: not served.
    HRESULT Services(const GUID *uuid, abi::BluetoothCacheMode mode, abi::IAsyncOperation_GattDeviceServicesResult **operation)
    {
        if (!operation)
            return E_POINTER;
        if (Closed())
            return RO_E_CLOSED;
        if (mode != abi::BluetoothCacheMode::Cached && mode != abi::BluetoothCacheMode::Uncached)
            return E_INVALIDARG;
        if (!uuid && mode == abi::BluetoothCacheMode::Uncached)
            return E_NOTIMPL;
        const std::shared_ptr<radio::Device> device = device_;
        const UINT64 address = address_;
        const std::optional<radio::Guid> only = uuid ? std::optional<radio::Guid>(FromGuid(*uuid)) : std::nullopt;
        return Lend(AsyncOperation<abi::IAsyncOperation_GattDeviceServicesResult>::Start(
                        kServicesOperationClass,
                        [device, address, only, mode] {
                            return NewServicesResult(only ? device->GetGattServicesForUuid(*only, static_cast<radio::CacheMode>(mode))
                                                          : device->GetGattServices(),
                                                     address);
                        }),
                    operation);
    }

    const std::shared_ptr<radio::Device> device_;  // its handlers hold the caller's delegates
    const UINT64 address_;
    const std::shared_ptr<Anchor<Device>> anchor_;
    const bool windows11_;
    std::atomic<bool> closed_{false};
};

// A device of the radio at the address, as a new BluetoothLEDevice; null when the radio has none.
abi::IBluetoothLEDevice *OpenDevice(UINT64 address)
{
    std::shared_ptr<radio::Device> device = Radio().FromBluetoothAddress(address);
    if (!device)
        return nullptr;
    auto made = Make<Device>(std::move(device), address);
    made->AddRef();
    return made.Get();
}

// What GetDeviceSelectorFromConnectionStatus gives for disconnected devices (listing them is
// not served).
constexpr wchar_t kDisconnectedSelector[] =
    L"System.Devices.DevObjectType:=5 AND System.Devices.Aep.ProtocolId:=\"{BB7BB05E-5972-42B5-94FC-76EAA7084D49}\" AND "
    L"System.Devices.Aep.IsConnected:=System.StructuredQueryType.Boolean#False";

class DeviceStatics final : public Object<IActivationFactory, abi::IBluetoothLEDeviceStatics, abi::IBluetoothLEDeviceStatics2> {
public:
    DeviceStatics() : Object(kDeviceClass) {}
    // BluetoothLEDevice has no constructor: only its statics.
    NOT_SERVED(ActivateInstance(IInspectable **))
    // An id that names no Bluetooth LE device fails with ERROR_NOT_FOUND (as reported for a
    // device interface's id); an LE device's id the radio does not know gives a null device.
    HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING deviceId, abi::IAsyncOperation_BluetoothLEDevice **operation) override
    {
        if (!operation)
            return E_POINTER;
        UINT32 length = 0;
        const wchar_t *raw = WindowsGetStringRawBuffer(deviceId, &length);
        UINT64 address = 0;
        const bool named = AddressFromId(std::wstring(raw ? raw : L"", length), &address);
        return Lend(AsyncOperation<abi::IAsyncOperation_BluetoothLEDevice>::Start(
                        kDeviceOperationClass,
                        [named, address]() -> abi::IBluetoothLEDevice * {
                            if (!named)
                                throw radio::PlatformError(HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
                            return OpenDevice(address);
                        }),
                    operation);
    }
    // Completes with a null device when the radio knows no device at the address.
    HRESULT STDMETHODCALLTYPE FromBluetoothAddressAsync(UINT64 address, abi::IAsyncOperation_BluetoothLEDevice **operation) override
    {
        if (!operation)
            return E_POINTER;
        return Lend(AsyncOperation<abi::IAsyncOperation_BluetoothLEDevice>::Start(
                        kDeviceOperationClass, [address] { return OpenDevice(address); }),
                    operation);
    }
    NOT_SERVED(GetDeviceSelector(HSTRING *))

    NOT_SERVED(GetDeviceSelectorFromPairingState(boolean, HSTRING *))
    // An AQS string for DeviceInformation.FindAllAsync (Microsoft Learn:
    // BluetoothLEDevice.GetDeviceSelectorFromConnectionStatus).
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromConnectionStatus(abi::BluetoothConnectionStatus status, HSTRING *result) override
    {
        if (!result)
            return E_POINTER;
        *result = nullptr;
        if (status == abi::BluetoothConnectionStatus::Connected)
            return WindowsCreateString(kConnectedSelector, static_cast<UINT32>(wcslen(kConnectedSelector)), result);
        if (status == abi::BluetoothConnectionStatus::Disconnected)
            return WindowsCreateString(kDisconnectedSelector, static_cast<UINT32>(wcslen(kDisconnectedSelector)), result);
        return E_INVALIDARG;
    }
    NOT_SERVED(GetDeviceSelectorFromDeviceName(HSTRING, HSTRING *))
    NOT_SERVED(GetDeviceSelectorFromBluetoothAddress(UINT64, HSTRING *))
    NOT_SERVED(GetDeviceSelectorFromBluetoothAddressWithBluetoothAddressType(UINT64, abi::BluetoothAddressType, HSTRING *))
    NOT_SERVED(GetDeviceSelectorFromAppearance(IInspectable *, HSTRING *))
    NOT_SERVED(FromBluetoothAddressWithBluetoothAddressTypeAsync(UINT64, abi::BluetoothAddressType, abi::IAsyncOperation_BluetoothLEDevice **))
};

} // namespace

std::u16string DeviceId(UINT64 address)
{
    char text[64];
    std::snprintf(text, sizeof text, "BluetoothLE#BluetoothLE00:1a:7d:da:71:13-%02x:%02x:%02x:%02x:%02x:%02x",
                  static_cast<unsigned>(address >> 40 & 0xFF), static_cast<unsigned>(address >> 32 & 0xFF),
                  static_cast<unsigned>(address >> 24 & 0xFF), static_cast<unsigned>(address >> 16 & 0xFF),
                  static_cast<unsigned>(address >> 8 & 0xFF), static_cast<unsigned>(address & 0xFF));
    return std::u16string(text, text + std::strlen(text));
}

bool AddressFromId(const std::wstring &id, UINT64 *address)
{
    const std::u16string prefix = DeviceId(0).substr(0, DeviceId(0).size() - 17);  // up to the device's address
    unsigned b[6];
    if (id.size() != prefix.size() + 17 || !std::equal(prefix.begin(), prefix.end(), id.begin()) ||
        swscanf(id.c_str() + prefix.size(), L"%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
        return false;
    *address = 0;
    for (unsigned byte : b)
        *address = *address << 8 | byte;
    return true;
}

const wchar_t kConnectedSelector[] =
    L"System.Devices.DevObjectType:=5 AND System.Devices.Aep.ProtocolId:=\"{BB7BB05E-5972-42B5-94FC-76EAA7084D49}\" AND "
    L"System.Devices.Aep.IsConnected:=System.StructuredQueryType.Boolean#True";

ComRef<IActivationFactory> NewDeviceStatics() { return Make<DeviceStatics>(); }

} // namespace winrt_bluetooth
