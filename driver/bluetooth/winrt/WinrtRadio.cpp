// The Windows Runtime radio: the product's backend of the radio interface.
#include "../../Clock.h"
#include "Activation.h"
#include "Await.h"
#include "HString.h"
#include "WinrtObjects.h"

#include <objbase.h>

namespace tarvolt::radio {

namespace winrt {
namespace {

class WinrtRadio final : public Radio {
public:
    void EnterApartment() override { Check(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

    std::shared_ptr<Watcher> CreateWatcher() override
    {
        ComRef<IInspectable> instance = ActivateInstance(kWatcherClass);
        return std::make_shared<WinrtWatcher>(instance.As<bleabi::IBluetoothLEAdvertisementWatcher>());
    }

    std::shared_ptr<Device> FromBluetoothAddress(uint64_t address) override
    {
        auto statics = GetActivationFactory<bleabi::IBluetoothLEDeviceStatics>(kDeviceClass);
        ComRef<bleabi::IAsyncOperation_BluetoothLEDevice> operation;
        Check(statics->FromBluetoothAddressAsync(address, operation.Put()));
        auto device = ComRef<bleabi::IBluetoothLEDevice>::Attach(Await(operation));
        if (!device)
            return nullptr;  // the platform knows no device at that address
        return std::make_shared<WinrtDevice>(std::move(device));
    }

    // The connected devices as Windows lists them without an advertisement: the selector of
    // connected Bluetooth LE devices, DeviceInformation.FindAllAsync with it, and each device
    // opened by its id. A device that cannot be opened (gone meanwhile: a null device, or an
    // error) is left out, so that another device's trouble does not hide the rifle; a stop of
    // the worker still ends the whole call.
    std::vector<std::shared_ptr<Device>> ConnectedDevices() override
    {
        auto statics = GetActivationFactory<bleabi::IBluetoothLEDeviceStatics>(kDeviceClass);
        OwnedString selector;
        Check(statics.As<bleabi::IBluetoothLEDeviceStatics2>()->GetDeviceSelectorFromConnectionStatus(
            bleabi::BluetoothConnectionStatus::Connected, selector.Put()));
        auto informationStatics = GetActivationFactory<bleabi::IDeviceInformationStatics>(kDeviceInformationClass);
        ComRef<bleabi::IAsyncOperation_DeviceInformationCollection> find;
        Check(informationStatics->FindAllAsyncAqsFilter(selector.Get(), find.Put()));
        auto found = ComRef<bleabi::IVectorView_DeviceInformation>::Attach(Await(find));
        if (!found)
            Check(E_POINTER);
        UINT32 size = 0;
        Check(found->get_Size(&size));
        std::vector<std::shared_ptr<Device>> devices;
        for (UINT32 i = 0; i < size; ++i) {
            ComRef<bleabi::IDeviceInformation> information;
            Check(found->GetAt(i, information.Put()));
            if (!information)
                continue;
            OwnedString id;
            Check(information->get_Id(id.Put()));
            try {
                ComRef<bleabi::IAsyncOperation_BluetoothLEDevice> open;
                Check(statics->FromIdAsync(id.Get(), open.Put()));
                if (auto device = ComRef<bleabi::IBluetoothLEDevice>::Attach(Await(open)))
                    devices.push_back(std::make_shared<WinrtDevice>(std::move(device)));
            } catch (const PlatformError &error) {
                if (error.Code() == kCanceled)
                    throw;
            }
        }
        return devices;
    }

    RadioCheck CheckRadio() override
    {
        try {
            auto statics = GetActivationFactory<bleabi::IBluetoothAdapterStatics>(kAdapterClass);
            ComRef<bleabi::IAsyncOperation_BluetoothAdapter> adapterOperation;
            Check(statics->GetDefaultAsync(adapterOperation.Put()));
            auto adapter = ComRef<bleabi::IBluetoothAdapter>::Attach(Await(adapterOperation));
            if (!adapter)
                return {Readiness::NoAdapter, "Windows reports no Bluetooth adapter"};
            boolean lowEnergy = 0;
            Check(adapter->get_IsLowEnergySupported(&lowEnergy));
            if (!lowEnergy)
                return {Readiness::NoAdapter, "the Bluetooth adapter does not support Bluetooth LE (4.0 or later)"};
            ComRef<bleabi::IAsyncOperation_Radio> radioOperation;
            Check(adapter->GetRadioAsync(radioOperation.Put()));
            auto radio = ComRef<bleabi::IRadio>::Attach(Await(radioOperation));
            // Without its radio the adapter's state is unknown: the scan itself will tell.
            if (!radio)
                return {};
            bleabi::RadioState state = bleabi::RadioState::Unknown;
            Check(radio->get_State(&state));
            if (state == bleabi::RadioState::Off)
                return {Readiness::AdapterOff, "Bluetooth is switched off in Windows"};
            if (state == bleabi::RadioState::Disabled)
                return {Readiness::AdapterOff, "the Bluetooth adapter is disabled (in Device Manager or by the machine's own switch)"};
            return {};
        } catch (const PlatformError &error) {
            // Where the Windows Runtime has no Bluetooth classes (Wine, for one), activation
            // finds no class or not the interface asked for.
            if (error.Code() == kClassNotRegistered || error.Code() == static_cast<ResultCode>(E_NOINTERFACE))
                return {Readiness::ClassesUnavailable, "the Windows Runtime's Bluetooth classes are not available (" +
                                                           std::string(error.what()) + ")"};
            return {Readiness::Unusable, std::string("the Windows Runtime's Bluetooth adapter could not be read (") +
                                             error.what() + ")"};
        }
    }

    std::u16string GuidToString(const Guid &guid) override
    {
        wchar_t text[39];
        const int written = StringFromGUID2(ToPlatformGuid(guid), text, 39);  // counts the NUL
        if (written <= 1)
            return {};
        return std::u16string(reinterpret_cast<const char16_t *>(text), static_cast<size_t>(written - 1));
    }

    // Every delegate object of ours still alive: once the worker has ended, only the platform
    // holds them (an event it has not let go of yet, a cancelled operation not finished yet).
    int CallbacksHeld() override { return liveDelegates.load(); }
};

} // namespace
} // namespace winrt

Radio &PlatformRadio()
{
    static winrt::WinrtRadio radio;
    return radio;
}

} // namespace tarvolt::radio

namespace tarvolt {

Clock &PlatformClock() { return SteadyClock(); }

} // namespace tarvolt
