// The BlueZ radio as the probe uses it besides the link: the check of Bluetooth as a whole, and
// the devices bluetoothd has connected.
#include "BluezTestSupport.h"

#include <fstream>
#include <set>

namespace {

using namespace bluez_test;
using tarvolt::radio::Readiness;

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// Catches: a radio check that writes to the log (the probe says what is missing in its own
// words) or keeps the bus connection open after it, and one that does not see Bluetooth usable
// again. The probe's tests check what it names for each missing part.
TEST_F(BluezLink, TheRadioCheckNamesWhatIsMissingQuietly)
{
    tarvolt::radio::Radio &radio = tarvolt::radio::PlatformRadio();
    EXPECT_EQ(radio.CheckRadio().readiness, Readiness::Ready);
    bluez->SetPowered(false);
    EXPECT_EQ(radio.CheckRadio().readiness, Readiness::AdapterOff);
    bluez->SetPowered(true);
    EXPECT_EQ(radio.CheckRadio().readiness, Readiness::Ready);
    bluez->Vanish();
    EXPECT_EQ(radio.CheckRadio().readiness, Readiness::StackMissing);
    bus.Stop();
    EXPECT_EQ(radio.CheckRadio().readiness, Readiness::StackMissing);
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

// Catches: the devices bluetoothd has connected not listed, or listed when not connected; the
// rifle's service and characteristic not found by UUID; and another program's link disconnected
// (for every program) when we did not subscribe on it, or kept when we did.
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

} // namespace
