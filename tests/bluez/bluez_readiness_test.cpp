// The BlueZ radio as the probe uses it besides the link: the check of Bluetooth as a whole, and
// the signal strength of each device heard.
#include "BluezTestSupport.h"

#include <condition_variable>
#include <mutex>

namespace {

using namespace bluez_test;
using tarvolt::radio::Readiness;

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// Catches: a machine whose Bluetooth cannot be used (no adapter, adapter off, bluetoothd not
// running, no system bus) reported as usable or under another reason; a check that writes to
// the log (the probe says it in its own words); and a check that keeps the bus connection open
// after it.
TEST_F(BluezLink, TheRadioCheckNamesWhatIsMissing)
{
    tarvolt::radio::Radio &radio = tarvolt::radio::PlatformRadio();
    EXPECT_EQ(radio.CheckRadio().readiness, Readiness::Ready);
    EXPECT_EQ(radio.CallbacksHeld(), 0);

    bluez->SetPowered(false);
    tarvolt::radio::RadioCheck check = radio.CheckRadio();
    EXPECT_EQ(check.readiness, Readiness::AdapterOff);
    EXPECT_TRUE(Contains(check.detail, "is powered off")) << check.detail;
    bluez->SetPowered(true);
    EXPECT_EQ(radio.CheckRadio().readiness, Readiness::Ready);

    bluez->RemoveAdapter();
    check = radio.CheckRadio();
    EXPECT_EQ(check.readiness, Readiness::NoAdapter);
    EXPECT_EQ(check.detail, "bluetoothd has no Bluetooth adapter");

    bluez->Vanish();
    check = radio.CheckRadio();
    EXPECT_EQ(check.readiness, Readiness::StackMissing);
    EXPECT_TRUE(Contains(check.detail, "bluetoothd is not running")) << check.detail;

    bus.Stop();
    check = radio.CheckRadio();
    EXPECT_EQ(check.readiness, Readiness::StackMissing);
    EXPECT_TRUE(Contains(check.detail, "cannot connect to the system bus")) << check.detail;

    EXPECT_EQ(radio.CallbacksHeld(), 0);
    EXPECT_EQ(Recorder().CountLogPrefix("BlueZ: "), 0u);
}

class BluezRefused : public BluezLink {
protected:
    bool RefuseBluez() const override { return true; }
};

// Catches: a bus policy that keeps this user from bluetoothd taken for a missing bluetoothd.
TEST_F(BluezRefused, ARefusingPolicyMakesBluetoothUnusable)
{
    const tarvolt::radio::RadioCheck check = tarvolt::radio::PlatformRadio().CheckRadio();
    EXPECT_EQ(check.readiness, Readiness::Unusable);
    EXPECT_TRUE(Contains(check.detail, "refused by the system bus")) << check.detail;
}

// Catches: the RSSI that bluetoothd reports with each device lost on the way to the handler.
TEST_F(BluezLink, EachDeviceHeardCarriesItsSignalStrength)
{
    sim::PeripheralScript rifle = link_test::Rifle();
    rifle.rssi = -47;
    bluez->AddPeripheral(rifle);
    // Shared with the handler, which the bus loop may still call once after the watcher is gone.
    struct Heard {
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<int16_t> strength;
        bool got = false;
    };
    auto heard = std::make_shared<Heard>();
    auto watcher = tarvolt::radio::PlatformRadio().CreateWatcher();
    watcher->AddReceived([heard](tarvolt::radio::Watcher &, tarvolt::radio::AdvertisementReceivedArgs &args) {
        std::lock_guard<std::mutex> lock(heard->mutex);
        if (!heard->got && args.LocalName() == u"Rifle Q508") {
            heard->strength = args.SignalStrength();
            heard->got = true;
            heard->changed.notify_all();
        }
        return tarvolt::radio::kOk;
    });
    watcher->Start();
    std::unique_lock<std::mutex> lock(heard->mutex);
    ASSERT_TRUE(heard->changed.wait_for(lock, link_test::kLimit, [&] { return heard->got; }));
    EXPECT_EQ(heard->strength, std::optional<int16_t>(-47));
    lock.unlock();
    watcher->Stop();
}

} // namespace
