// Windows.Devices.Bluetooth.BluetoothLEDevice: its statics and the device, over a device of the
// simulated radio. Its GATT services come from Gatt.cpp.
#include "AsyncOperation.h"
#include "Classes.h"
#include "Gatt.h"

#include <cstdio>
#include <cstring>

namespace winrt_bluetooth {

namespace {

constexpr wchar_t kDeviceOperationClass[] = L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Bluetooth.BluetoothLEDevice>";
constexpr wchar_t kServicesOperationClass[] =
    L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceServicesResult>";

class Device final : public Object<abi::IBluetoothLEDevice, abi::IBluetoothLEDevice3, abi::IClosable> {
public:
    Device(std::shared_ptr<radio::Device> device, UINT64 address)
        : Object(kDeviceClass), device_(std::move(device)), address_(address),
          anchor_(std::make_shared<Anchor<Device>>(this))
    {
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
    // The first GATT access connects the device (Connected comes as an event).
    HRESULT STDMETHODCALLTYPE GetGattServicesAsync(abi::IAsyncOperation_GattDeviceServicesResult **operation) override
    {
        if (!operation)
            return E_POINTER;
        if (Closed())
            return RO_E_CLOSED;
        const std::shared_ptr<radio::Device> device = device_;
        const UINT64 address = address_;
        return Lend(AsyncOperation<abi::IAsyncOperation_GattDeviceServicesResult>::Start(
                        kServicesOperationClass, [device, address] { return NewServicesResult(device->GetGattServices(), address); }),
                    operation);
    }
    // Cached or not, the simulated radio answers the same.
    HRESULT STDMETHODCALLTYPE GetGattServicesWithCacheModeAsync(abi::BluetoothCacheMode,
                                                                abi::IAsyncOperation_GattDeviceServicesResult **operation) override
    {
        return GetGattServicesAsync(operation);
    }
    NOT_SERVED(GetGattServicesForUuidAsync(GUID, abi::IAsyncOperation_GattDeviceServicesResult **))
    NOT_SERVED(GetGattServicesForUuidWithCacheModeAsync(GUID, abi::BluetoothCacheMode, abi::IAsyncOperation_GattDeviceServicesResult **))

    // Close disconnects and frees the device: every later call fails with RO_E_CLOSED.
    HRESULT STDMETHODCALLTYPE Close() override
    {
        if (closed_.exchange(true))
            return S_OK;
        return Guarded([&] {
            device_->Close();
            return S_OK;
        });
    }

private:
    ~Device() override { anchor_->Clear(); }
    bool Closed() const { return closed_.load(); }

    const std::shared_ptr<radio::Device> device_;  // its handlers hold the caller's delegates
    const UINT64 address_;
    const std::shared_ptr<Anchor<Device>> anchor_;
    std::atomic<bool> closed_{false};
};

class DeviceStatics final : public Object<IActivationFactory, abi::IBluetoothLEDeviceStatics> {
public:
    DeviceStatics() : Object(kDeviceClass) {}
    // BluetoothLEDevice has no constructor: only its statics.
    NOT_SERVED(ActivateInstance(IInspectable **))
    NOT_SERVED(FromIdAsync(HSTRING, abi::IAsyncOperation_BluetoothLEDevice **))
    // Completes with a null device when the radio knows no device at the address.
    HRESULT STDMETHODCALLTYPE FromBluetoothAddressAsync(UINT64 address, abi::IAsyncOperation_BluetoothLEDevice **operation) override
    {
        if (!operation)
            return E_POINTER;
        return Lend(AsyncOperation<abi::IAsyncOperation_BluetoothLEDevice>::Start(
                        kDeviceOperationClass,
                        [address]() -> abi::IBluetoothLEDevice * {
                            std::shared_ptr<radio::Device> device = Radio().FromBluetoothAddress(address);
                            if (!device)
                                return nullptr;
                            auto made = Make<Device>(std::move(device), address);
                            made->AddRef();
                            return made.Get();
                        }),
                    operation);
    }
    NOT_SERVED(GetDeviceSelector(HSTRING *))
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

ComRef<IActivationFactory> NewDeviceStatics() { return Make<DeviceStatics>(); }

} // namespace winrt_bluetooth
