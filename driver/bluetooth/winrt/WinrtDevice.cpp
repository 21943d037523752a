// The connected device, its GATT services and characteristics, and a notification's value.
#include "Activation.h"
#include "Await.h"
#include "Delegates.h"
#include "WinrtObjects.h"

namespace tarvolt::radio::winrt {

namespace {

// Wraps every item of a platform vector view, walked by index from 0 to Size - 1.
template <class Base, class Wrapper, class Item, class View>
std::vector<std::shared_ptr<Base>> WrapAll(const ComRef<View> &view)
{
    if (!view)
        Check(E_POINTER);
    UINT32 size = 0;
    Check(view->get_Size(&size));
    std::vector<std::shared_ptr<Base>> items;
    items.reserve(size);
    for (UINT32 i = 0; i < size; ++i) {
        ComRef<Item> item;
        Check(view->GetAt(i, item.Put()));
        if (!item)
            Check(E_POINTER);
        items.push_back(std::make_shared<Wrapper>(std::move(item)));
    }
    return items;
}

} // namespace

EventToken WinrtDevice::AddConnectionStatusChanged(ConnectionStatusHandler handler)
{
    using Iface = bleabi::ITypedEventHandler_Device_Object;
    // ConnectionStatusChanged: on a platform thread, not inside add_; Object arg may be null, unread.
    auto delegate = EventDelegate<Iface, NullArgs::Accepted>::Create([handler = std::move(handler)](Iface::Sender sender, Iface::Args) -> HRESULT {
        WinrtDevice device(ComRef<bleabi::IBluetoothLEDevice>::Borrow(sender));
        return handler(device);
    });
    EventRegistrationToken token{};
    Check(device_->add_ConnectionStatusChanged(delegate.Get(), &token));
    return token.value;
}

void WinrtDevice::RemoveConnectionStatusChanged(EventToken token)
{
    Check(device_->remove_ConnectionStatusChanged(EventRegistrationToken{token}));
}

ConnectionStatus WinrtDevice::GetConnectionStatus()
{
    bleabi::BluetoothConnectionStatus status{};
    Check(device_->get_ConnectionStatus(&status));
    return static_cast<ConnectionStatus>(status);
}

std::u16string WinrtDevice::Name()
{
    HSTRING name = nullptr;
    Check(device_->get_Name(&name));
    return TakeString(name);
}

namespace {

ServicesResult ServicesOf(const ComRef<bleabi::IAsyncOperation_GattDeviceServicesResult> &operation)
{
    auto result = ComRef<bleabi::IGattDeviceServicesResult>::Attach(Await(operation));
    if (!result)
        Check(E_POINTER);
    bleabi::GattCommunicationStatus status{};
    Check(result->get_Status(&status));
    ServicesResult out{static_cast<CommunicationStatus>(status), {}};
    if (status == bleabi::GattCommunicationStatus::Success) {
        ComRef<bleabi::IVectorView_GattDeviceService> services;
        Check(result->get_Services(services.Put()));
        out.services = WrapAll<Service, WinrtService, bleabi::IGattDeviceService>(services);
    }
    return out;
}

CharacteristicsResult CharacteristicsOf(const ComRef<bleabi::IAsyncOperation_GattCharacteristicsResult> &operation)
{
    auto result = ComRef<bleabi::IGattCharacteristicsResult>::Attach(Await(operation));
    if (!result)
        Check(E_POINTER);
    bleabi::GattCommunicationStatus status{};
    Check(result->get_Status(&status));
    CharacteristicsResult out{static_cast<CommunicationStatus>(status), {}};
    if (status == bleabi::GattCommunicationStatus::Success) {
        ComRef<bleabi::IVectorView_GattCharacteristic> characteristics;
        Check(result->get_Characteristics(characteristics.Put()));
        out.characteristics = WrapAll<Characteristic, WinrtCharacteristic, bleabi::IGattCharacteristic>(characteristics);
    }
    return out;
}

} // namespace

uint64_t WinrtDevice::BluetoothAddress()
{
    UINT64 address = 0;
    Check(device_->get_BluetoothAddress(&address));
    return address;
}

ServicesResult WinrtDevice::GetGattServices()
{
    ComRef<bleabi::IAsyncOperation_GattDeviceServicesResult> operation;
    Check(device_.As<bleabi::IBluetoothLEDevice3>()->GetGattServicesAsync(operation.Put()));
    return ServicesOf(operation);
}

ServicesResult WinrtDevice::GetGattServicesForUuid(const Guid &uuid, CacheMode mode)
{
    ComRef<bleabi::IAsyncOperation_GattDeviceServicesResult> operation;
    Check(device_.As<bleabi::IBluetoothLEDevice3>()->GetGattServicesForUuidWithCacheModeAsync(
        ToPlatformGuid(uuid), static_cast<bleabi::BluetoothCacheMode>(mode), operation.Put()));
    return ServicesOf(operation);
}

Guid WinrtService::Uuid()
{
    GUID uuid{};
    Check(service_->get_Uuid(&uuid));
    return FromPlatformGuid(uuid);
}

CharacteristicsResult WinrtService::GetCharacteristics()
{
    ComRef<bleabi::IAsyncOperation_GattCharacteristicsResult> operation;
    Check(service_.As<bleabi::IGattDeviceService3>()->GetCharacteristicsAsync(operation.Put()));
    return CharacteristicsOf(operation);
}

CharacteristicsResult WinrtService::GetCharacteristicsForUuid(const Guid &uuid, CacheMode mode)
{
    ComRef<bleabi::IAsyncOperation_GattCharacteristicsResult> operation;
    Check(service_.As<bleabi::IGattDeviceService3>()->GetCharacteristicsForUuidWithCacheModeAsync(
        ToPlatformGuid(uuid), static_cast<bleabi::BluetoothCacheMode>(mode), operation.Put()));
    return CharacteristicsOf(operation);
}

void WinrtService::Close()
{
    Check(service_.As<bleabi::IClosable>()->Close());
}

Guid WinrtCharacteristic::Uuid()
{
    GUID uuid{};
    Check(characteristic_->get_Uuid(&uuid));
    return FromPlatformGuid(uuid);
}

EventToken WinrtCharacteristic::AddValueChanged(ValueChangedHandler handler)
{
    using Iface = bleabi::ITypedEventHandler_Characteristic_ValueChanged;
    // ValueChanged: on a platform thread once notifications are on, not inside add_; args never null.
    auto delegate = EventDelegate<Iface, NullArgs::Refused>::Create([handler = std::move(handler)](Iface::Sender sender, Iface::Args args) -> HRESULT {
        WinrtCharacteristic characteristic(ComRef<bleabi::IGattCharacteristic>::Borrow(sender));
        WinrtValueChangedArgs changed(ComRef<bleabi::IGattValueChangedEventArgs>::Borrow(args));
        return handler(characteristic, changed);
    });
    EventRegistrationToken token{};
    Check(characteristic_->add_ValueChanged(delegate.Get(), &token));
    return token.value;
}

void WinrtCharacteristic::RemoveValueChanged(EventToken token)
{
    Check(characteristic_->remove_ValueChanged(EventRegistrationToken{token}));
}

CommunicationStatus WinrtCharacteristic::WriteClientCharacteristicConfigurationDescriptor(CccdValue value)
{
    ComRef<bleabi::IAsyncOperation_GattCommunicationStatus> operation;
    Check(characteristic_->WriteClientCharacteristicConfigurationDescriptorAsync(
        static_cast<bleabi::GattClientCharacteristicConfigurationDescriptorValue>(value), operation.Put()));
    return static_cast<CommunicationStatus>(Await(operation));
}

bleabi::IDataReader &WinrtValueChangedArgs::Reader()
{
    if (!reader_) {
        ComRef<bleabi::IBuffer> buffer;
        Check(args_->get_CharacteristicValue(buffer.Put()));
        auto statics = GetActivationFactory<bleabi::IDataReaderStatics>(kDataReaderClass);
        ComRef<bleabi::IDataReader> reader;
        Check(statics->FromBuffer(buffer.Get(), reader.Put()));
        if (!reader)
            Check(E_POINTER);
        reader_ = std::move(reader);
    }
    return *reader_.Get();
}

uint32_t WinrtValueChangedArgs::UnconsumedBufferLength()
{
    UINT32 length = 0;
    Check(Reader().get_UnconsumedBufferLength(&length));
    return length;
}

void WinrtValueChangedArgs::ReadBytes(uint8_t *destination, uint32_t count)
{
    // Nothing to read: how the reader treats an empty (possibly null) array is not documented.
    if (count == 0)
        return;
    Check(Reader().ReadBytes(count, destination));
}

} // namespace tarvolt::radio::winrt
