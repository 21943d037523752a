// The Windows Runtime radio: the product's backend of the radio interface.
#include "Activation.h"
#include "Await.h"
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
