// The BlueZ radio as the probe uses it besides the link: the check of Bluetooth as a whole, and
// the signal strength of each device heard.
#include "BluezTestSupport.h"

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>

namespace {

using namespace bluez_test;
using tarvolt::radio::Readiness;

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// Catches: a machine whose Bluetooth cannot be used (no adapter, adapter off, bluetoothd not
// running, no system bus) reported as usable or under another reason, a check that writes to
// the log (the probe says it in its own words), and one that keeps the bus connection open.
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

// Catches: bluetoothd hidden by the sandbox of Steam from Flathub reported as not running (the
// user would look for a fault that is not there) or without the command that lets Steam see it.
TEST_F(BluezLink, InsideFlatpakAHiddenBluetoothdIsNamedWithTheFix)
{
    const std::string fix = "flatpak override --user --system-talk-name=org.bluez com.valvesoftware.Steam";
    Options().flatpakInfoPath = ::testing::TempDir() + "flatpak-info";
    std::ofstream(Options().flatpakInfoPath) << "[Application]\nname=com.valvesoftware.Steam\n";
    bluez->Vanish();
    tarvolt::radio::Radio &radio = tarvolt::radio::PlatformRadio();
    const tarvolt::radio::RadioCheck check = radio.CheckRadio();
    EXPECT_EQ(check.readiness, Readiness::Unusable);  // starting bluetoothd would not help
    EXPECT_TRUE(Contains(check.detail, fix)) << check.detail;
    EXPECT_THROW(radio.CreateWatcher()->Start(), tarvolt::radio::PlatformError);
    EXPECT_EQ(Recorder().CountLog("BlueZ: " + check.detail), 1u);
}

// Catches: the devices bluetoothd has connected (where a rifle that no longer advertises is found)
// not listed, or listed when not connected; the rifle's service and characteristic not found by
// UUID; and a link that another program made let go with Disconnect, which drops it for every
// program, when we did not subscribe on it (a keyboard would lose its link each time the list is
// read), or kept when we did.
TEST_F(BluezLink, ConnectedDevicesAreThoseBluetoothdHasConnected)
{
    sim::PeripheralScript keyboard;
    keyboard.name = u"Keyboard";
    keyboard.address = 0x5A0000000003ull;
    const int keys = bluez->AddPeripheral(keyboard);
    const int rifle = bluez->AddPeripheral(link_test::Rifle());
    bluez->MakeKnown(bluez->AddPeripheral(link_test::Rifle(0x112233445566ull)));
    bluez->ConnectByAnotherClient(keys);
    bluez->ConnectByAnotherClient(rifle);
    std::vector<std::shared_ptr<tarvolt::radio::Device>> devices = tarvolt::radio::PlatformRadio().ConnectedDevices();
    std::set<uint64_t> addresses;
    for (const auto &device : devices)
        addresses.insert(device->BluetoothAddress());
    EXPECT_EQ(addresses, (std::set<uint64_t>{keyboard.address, link_test::kRifleAddress}));
    for (const auto &device : devices) {
        if (device->BluetoothAddress() != link_test::kRifleAddress)
            continue;
        EXPECT_EQ(device->Name(), u"Rifle Q508");
        const auto services = device->GetGattServicesForUuid(sim::kRifleServiceUuid, tarvolt::radio::CacheMode::Uncached);
        ASSERT_EQ(services.services.size(), 1u);
        const auto found = services.services[0]->GetCharacteristicsForUuid(sim::kRifleNotifyUuid,
                                                                         tarvolt::radio::CacheMode::Uncached);
        ASSERT_EQ(found.characteristics.size(), 1u);
        EXPECT_EQ(found.characteristics[0]->WriteClientCharacteristicConfigurationDescriptor(
                      tarvolt::radio::CccdValue::Notify),
                  tarvolt::radio::CommunicationStatus::Success);
    }
    devices.clear();
    EXPECT_TRUE(bluez->WaitForStats([](const sim::RadioStats &s) { return s.closes >= 1; }, link_test::kLimit));
    EXPECT_TRUE(bluez->WaitUntilIdle(link_test::kLimit));
    EXPECT_EQ(bluez->Stats().closes, 1);  // the rifle, subscribed on; not the keyboard
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
