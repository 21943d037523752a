// Windows.Devices.Bluetooth.GenericAttributeProfile over the simulated radio's services and
// characteristics: results with their statuses, vector views walked by index, the descriptor
// write, and ValueChanged with the notification's bytes in a buffer.
#include "AsyncOperation.h"
#include "Classes.h"
#include "Gatt.h"
#include "VectorView.h"

#include <cstring>
#include <optional>

namespace winrt_bluetooth {

namespace {

constexpr wchar_t kServicesResultClass[] = L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceServicesResult";
constexpr wchar_t kServiceClass[] = L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceService";
constexpr wchar_t kCharacteristicsResultClass[] =
    L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristicsResult";
constexpr wchar_t kCharacteristicClass[] = L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristic";
constexpr wchar_t kValueChangedClass[] = L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattValueChangedEventArgs";
constexpr wchar_t kServiceViewClass[] =
    L"Windows.Foundation.Collections.IVectorView`1<Windows.Devices.Bluetooth.GenericAttributeProfile.GattDeviceService>";
constexpr wchar_t kCharacteristicViewClass[] =
    L"Windows.Foundation.Collections.IVectorView`1<Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristic>";
constexpr wchar_t kCharacteristicsOperationClass[] =
    L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Bluetooth.GenericAttributeProfile.GattCharacteristicsResult>";
constexpr wchar_t kStatusOperationClass[] =
    L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Bluetooth.GenericAttributeProfile.GattCommunicationStatus>";

// A notification's value, or the error the platform met reading it.
class ValueChangedArgs final : public Object<abi::IGattValueChangedEventArgs> {
public:
    ValueChangedArgs(ComRef<abi::IBuffer> value, HRESULT error)
        : Object(kValueChangedClass), value_(std::move(value)), error_(error)
    {
    }
    HRESULT STDMETHODCALLTYPE get_CharacteristicValue(abi::IBuffer **value) override
    {
        if (FAILED(error_))
            return error_;
        return Lend(value_, value);
    }
    NOT_SERVED(get_Timestamp(abi::DateTime *))

private:
    const ComRef<abi::IBuffer> value_;
    const HRESULT error_;
};

class Characteristic final : public Object<abi::IGattCharacteristic> {
public:
    explicit Characteristic(std::shared_ptr<radio::Characteristic> characteristic)
        : Object(kCharacteristicClass), characteristic_(std::move(characteristic)),
          uuid_(ToGuid(characteristic_->Uuid())), anchor_(std::make_shared<Anchor<Characteristic>>(this))
    {
    }
    NOT_SERVED(GetDescriptors(GUID, IInspectable **))
    NOT_SERVED(get_CharacteristicProperties(abi::GattCharacteristicProperties *))
    NOT_SERVED(get_ProtectionLevel(abi::GattProtectionLevel *))
    NOT_SERVED(put_ProtectionLevel(abi::GattProtectionLevel))
    NOT_SERVED(get_UserDescription(HSTRING *))
    HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override { return Give(value, uuid_); }
    NOT_SERVED(get_AttributeHandle(UINT16 *))
    NOT_SERVED(get_PresentationFormats(IInspectable **))
    NOT_SERVED(ReadValueAsync(IInspectable **))
    NOT_SERVED(ReadValueWithCacheModeAsync(abi::BluetoothCacheMode, IInspectable **))
    NOT_SERVED(WriteValueAsync(abi::IBuffer *, abi::IAsyncOperation_GattCommunicationStatus **))
    NOT_SERVED(WriteValueWithOptionAsync(abi::IBuffer *, abi::GattWriteOption, abi::IAsyncOperation_GattCommunicationStatus **))
    NOT_SERVED(ReadClientCharacteristicConfigurationDescriptorAsync(IInspectable **))
    HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorAsync(
        abi::GattClientCharacteristicConfigurationDescriptorValue value,
        abi::IAsyncOperation_GattCommunicationStatus **operation) override
    {
        if (!operation)
            return E_POINTER;
        if (value != abi::GattClientCharacteristicConfigurationDescriptorValue::None &&
            value != abi::GattClientCharacteristicConfigurationDescriptorValue::Notify &&
            value != abi::GattClientCharacteristicConfigurationDescriptorValue::Indicate)
            return E_INVALIDARG;
        const std::shared_ptr<radio::Characteristic> characteristic = characteristic_;
        return Lend(AsyncOperation<abi::IAsyncOperation_GattCommunicationStatus>::Start(
                        kStatusOperationClass,
                        [characteristic, value] {
                            return static_cast<abi::GattCommunicationStatus>(
                                characteristic->WriteClientCharacteristicConfigurationDescriptor(
                                    static_cast<radio::CccdValue>(value)));
                        }),
                    operation);
    }
    // ValueChanged: on the radio's thread once notifications are on, never inside add_; the
    // arguments are an object made for each notification, never null, its value a buffer of
    // its own.
    HRESULT STDMETHODCALLTYPE add_ValueChanged(abi::ITypedEventHandler_Characteristic_ValueChanged *handler,
                                               EventRegistrationToken *token) override
    {
        if (!handler || !token)
            return E_INVALIDARG;
        auto held = std::make_shared<HeldDelegate<abi::ITypedEventHandler_Characteristic_ValueChanged>>(handler);
        return Guarded([&] {
            token->value = characteristic_->AddValueChanged(
                [held, anchor = anchor_](radio::Characteristic &, radio::ValueChangedArgs &notified) -> radio::ResultCode {
                    ComRef<Characteristic> sender = anchor->Lock();
                    if (!sender)
                        return radio::kOk;
                    std::vector<uint8_t> bytes;
                    const HRESULT read = Guarded([&] {
                        bytes.resize(notified.UnconsumedBufferLength());
                        if (!bytes.empty())
                            notified.ReadBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
                        return S_OK;
                    });
                    auto args = Make<ValueChangedArgs>(SUCCEEDED(read) ? NewBuffer(std::move(bytes)) : ComRef<abi::IBuffer>(), read);
                    return held->Get()->Invoke(sender.Get(), args.Get());
                });
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE remove_ValueChanged(EventRegistrationToken token) override
    {
        return Guarded([&] {
            characteristic_->RemoveValueChanged(token.value);
            return S_OK;
        });
    }

private:
    ~Characteristic() override { anchor_->Clear(); }

    const std::shared_ptr<radio::Characteristic> characteristic_;  // its handlers hold the caller's delegates
    const GUID uuid_;
    const std::shared_ptr<Anchor<Characteristic>> anchor_;
};

using CharacteristicView = VectorView<abi::IVectorView_GattCharacteristic, abi::IGattCharacteristic>;
using ServiceView = VectorView<abi::IVectorView_GattDeviceService, abi::IGattDeviceService>;

// A services or characteristics result: the status, and the items only when it is Success.
template <class Iface, class View>
class Result : public Object<Iface> {
public:
    Result(const wchar_t *className, abi::GattCommunicationStatus status, ComRef<View> items)
        : Object<Iface>(className), status_(status), items_(std::move(items))
    {
    }
    HRESULT STDMETHODCALLTYPE get_Status(abi::GattCommunicationStatus *value) override { return Give(value, status_); }
    // No protocol error is ever reported: the reference is null.
    HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable **value) override { return Give(value, nullptr); }

protected:
    HRESULT Items(View **value) { return Lend(items_, value); }

private:
    const abi::GattCommunicationStatus status_;
    const ComRef<View> items_;
};

class CharacteristicsResult final : public Result<abi::IGattCharacteristicsResult, abi::IVectorView_GattCharacteristic> {
public:
    using Result::Result;
    HRESULT STDMETHODCALLTYPE get_Characteristics(abi::IVectorView_GattCharacteristic **value) override
    {
        return Items(value);
    }
};

class ServicesResult final : public Result<abi::IGattDeviceServicesResult, abi::IVectorView_GattDeviceService> {
public:
    using Result::Result;
    HRESULT STDMETHODCALLTYPE get_Services(abi::IVectorView_GattDeviceService **value) override { return Items(value); }
};

class Service final : public Object<abi::IGattDeviceService, abi::IGattDeviceService3, abi::IClosable> {
public:
    Service(std::shared_ptr<radio::Service> service, UINT64 address)
        : Object(kServiceClass), service_(std::move(service)), uuid_(ToGuid(service_->Uuid())), address_(address)
    {
    }
    NOT_SERVED(GetCharacteristics(GUID, IInspectable **))
    NOT_SERVED(GetIncludedServices(GUID, IInspectable **))
    HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING *value) override { return NewString(DeviceId(address_), value); }
    HRESULT STDMETHODCALLTYPE get_Uuid(GUID *value) override { return Give(value, uuid_); }
    NOT_SERVED(get_AttributeHandle(UINT16 *))
    NOT_SERVED(get_DeviceAccessInformation(IInspectable **))
    NOT_SERVED(get_Session(IInspectable **))
    NOT_SERVED(get_SharingMode(abi::GattSharingMode *))
    NOT_SERVED(RequestAccessAsync(IInspectable **))
    NOT_SERVED(OpenAsync(abi::GattSharingMode, IInspectable **))
    HRESULT STDMETHODCALLTYPE GetCharacteristicsAsync(abi::IAsyncOperation_GattCharacteristicsResult **operation) override
    {
        return Characteristics(nullptr, abi::BluetoothCacheMode::Cached, operation);
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristicsWithCacheModeAsync(abi::BluetoothCacheMode mode,
                                                                   abi::IAsyncOperation_GattCharacteristicsResult **operation) override
    {
        return Characteristics(nullptr, mode, operation);
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristicsForUuidAsync(GUID uuid, abi::IAsyncOperation_GattCharacteristicsResult **operation) override
    {
        return Characteristics(&uuid, abi::BluetoothCacheMode::Cached, operation);
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristicsForUuidWithCacheModeAsync(GUID uuid, abi::BluetoothCacheMode mode,
                                                                          abi::IAsyncOperation_GattCharacteristicsResult **operation) override
    {
        return Characteristics(&uuid, mode, operation);
    }
    NOT_SERVED(GetIncludedServicesAsync(abi::IAsyncOperation_GattDeviceServicesResult **))
    NOT_SERVED(GetIncludedServicesWithCacheModeAsync(abi::BluetoothCacheMode, abi::IAsyncOperation_GattDeviceServicesResult **))
    NOT_SERVED(GetIncludedServicesForUuidAsync(GUID, abi::IAsyncOperation_GattDeviceServicesResult **))
    NOT_SERVED(GetIncludedServicesForUuidWithCacheModeAsync(GUID, abi::BluetoothCacheMode, abi::IAsyncOperation_GattDeviceServicesResult **))
    HRESULT STDMETHODCALLTYPE Close() override
    {
        if (closed_.exchange(true)) {
            ++Count().repeatedCloses;
            return S_OK;
        }
        return Guarded([&] {
            service_->Close();
            return S_OK;
        });
    }

private:
    // One characteristics query, as the services query (Device.cpp).
    HRESULT Characteristics(const GUID *uuid, abi::BluetoothCacheMode mode, abi::IAsyncOperation_GattCharacteristicsResult **operation)
    {
        if (!operation)
            return E_POINTER;
        if (closed_.load())
            return RO_E_CLOSED;
        if (mode != abi::BluetoothCacheMode::Cached && mode != abi::BluetoothCacheMode::Uncached)
            return E_INVALIDARG;
        if (!uuid && mode == abi::BluetoothCacheMode::Uncached)
            return E_NOTIMPL;
        const std::shared_ptr<radio::Service> service = service_;
        const std::optional<radio::Guid> only = uuid ? std::optional<radio::Guid>(FromGuid(*uuid)) : std::nullopt;
        return Lend(AsyncOperation<abi::IAsyncOperation_GattCharacteristicsResult>::Start(
                        kCharacteristicsOperationClass,
                        [service, only, mode]() -> abi::IGattCharacteristicsResult * {
                            const radio::CharacteristicsResult answer =
                                only ? service->GetCharacteristicsForUuid(*only, static_cast<radio::CacheMode>(mode))
                                     : service->GetCharacteristics();
                            ComRef<abi::IVectorView_GattCharacteristic> view;
                            if (answer.status == radio::CommunicationStatus::Success) {
                                std::vector<ComRef<abi::IGattCharacteristic>> items;
                                for (const auto &c : answer.characteristics)
                                    items.push_back(Make<Characteristic>(c));
                                view = Make<CharacteristicView>(kCharacteristicViewClass, std::move(items));
                            }
                            auto result = Make<CharacteristicsResult>(
                                kCharacteristicsResultClass, static_cast<abi::GattCommunicationStatus>(answer.status), view);
                            result->AddRef();
                            return result.Get();
                        }),
                    operation);
    }

    const std::shared_ptr<radio::Service> service_;
    const GUID uuid_;
    const UINT64 address_;
    std::atomic<bool> closed_{false};
};

} // namespace

GUID ToGuid(const radio::Guid &uuid)
{
    GUID out{uuid.data1, uuid.data2, uuid.data3, {}};
    std::memcpy(out.Data4, uuid.data4, sizeof out.Data4);
    return out;
}

radio::Guid FromGuid(const GUID &uuid)
{
    radio::Guid out{uuid.Data1, uuid.Data2, uuid.Data3, {}};
    std::memcpy(out.data4, uuid.Data4, sizeof out.data4);
    return out;
}

abi::IGattDeviceServicesResult *NewServicesResult(radio::ServicesResult answer, UINT64 address)
{
    ComRef<abi::IVectorView_GattDeviceService> view;
    if (answer.status == radio::CommunicationStatus::Success) {
        std::vector<ComRef<abi::IGattDeviceService>> items;
        for (const auto &s : answer.services)
            items.push_back(Make<Service>(s, address));
        view = Make<ServiceView>(kServiceViewClass, std::move(items));
    }
    auto result = Make<ServicesResult>(kServicesResultClass, static_cast<abi::GattCommunicationStatus>(answer.status), view);
    result->AddRef();
    return result.Get();
}

} // namespace winrt_bluetooth
