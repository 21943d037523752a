// The radio of a build without a Bluetooth LE backend: every operation fails as a platform
// without the Bluetooth classes would (class not registered). The worker reports the failures
// and keeps trying, so such a build still loads, runs and shuts down cleanly.
#include "Radio.h"

namespace tarvolt::radio {

namespace {

class UnavailableRadio final : public Radio {
public:
    void EnterApartment() override { throw PlatformError(kClassNotRegistered); }
    std::shared_ptr<Watcher> CreateWatcher() override { throw PlatformError(kClassNotRegistered); }
    std::shared_ptr<Device> FromBluetoothAddress(uint64_t) override { throw PlatformError(kClassNotRegistered); }
    std::u16string GuidToString(const Guid &) override { throw PlatformError(kClassNotRegistered); }
    int CallbacksHeld() override { return 0; }
};

} // namespace

Radio &PlatformRadio()
{
    static UnavailableRadio radio;
    return radio;
}

} // namespace tarvolt::radio
