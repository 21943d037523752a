// The Bluetooth link through the BlueZ radio against a fake bluetoothd on a private bus: what
// bluetoothd does becomes the link's events, and each way the platform can fail is one failed
// step with a line saying why, retried on the link's passes, never a crash or a hang.
#include "BluezTestSupport.h"

#include "DriverState.h"

namespace {

using namespace bluez_test;
using namespace link_test;
using Lines = std::vector<std::string>;

const std::string kRifleText = "AA:BB:CC:DD:EE:FF";

size_t Count(sim::HostRecorder &r, const std::string &line) { return r.CountLog(line); }

// Catches: discovery, connection, services, subscription or notifications not mapped onto the
// link's events (the rifle never connects, or a trigger message never sets its flag), and a scan
// set up without the low-energy filter. The shipped library's test checks the press and the end.
TEST_F(BluezLink, FirstConnectionAndATriggerPull)
{
    AddLamp();
    const int rifle = bluez->AddPeripheral(Rifle());
    ASSERT_TRUE(ActivateAndConnect());
    Lines lines;
    for (const std::string &line : WorkerLines(Recorder()))
        if (line.rfind("Found device: Desk Lamp", 0) != 0)
            lines.push_back(line);
    EXPECT_EQ(lines, (Lines{"Tarvolt Running", "Starting the advertisement watcher.",
                            "Found device: Rifle Q508 (Address: " + kRifleAddressText + ")", "Target device found.",
                            "Connecting to device: " + kRifleAddressText, "Found GATT service: " + kServiceText,
                            "Subscribing to characteristic: " + kCharacteristicText,
                            "Successfully subscribed to notifications for characteristic: " + kCharacteristicText,
                            "Device successfully connected."}));
    EXPECT_GE(Recorder().CountLogPrefix("Found device: Desk Lamp (Address: 98956046499841)"), 1u);
    EXPECT_EQ(Recorder().CountLog("Connected to device: Rifle Q508"), 1u);
    const sim::RadioStats stats = bluez->Stats();
    EXPECT_EQ(stats.activeScanning, 0);  // stopped once the rifle was found
    EXPECT_EQ(stats.starts, 1);
    EXPECT_EQ(stats.stops, 1);
    EXPECT_EQ(stats.watchersCreated, 1);  // the discovery filter, set before the scan

    ASSERT_TRUE(Fire(rifle));
    EXPECT_TRUE(tarvolt::fire.exchange(false));
    controller->Deactivate();
}

// Catches: a discovery that ends without the driver (Discovering false, the adapter powered off)
// going unreported, so that nothing could tell the link its scan is over and start it again.
TEST_F(BluezLink, AScanEndedByThePlatformIsReportedAsStoppedAndStartedAgain)
{
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(WaitForLog("Starting the advertisement watcher."));
    ASSERT_TRUE(bluez->WaitForStats([](const sim::RadioStats &s) { return s.starts == 1; }, kLimit));
    bluez->EndScan();
    ASSERT_TRUE(WaitForLog("Watcher stopped."));
    EXPECT_TRUE(bluez->WaitForStats([](const sim::RadioStats &s) { return s.starts == 2; }, kLimit));
    controller->Deactivate();
    EXPECT_EQ(Count(Recorder(), "Watcher stopped."), 1u);
}

// Catches: device objects bluetoothd had before the scan never heard (a known device is announced
// only by changes: an RSSI that moved 8 dBm, nothing at all for a connected rifle), a rifle another
// client subscribed to left unsubscribed (AcquireNotify is refused), and a stored object of a
// rifle that is switched off taken for the rifle.
struct Preexisting {
    const char *name;
    void (*setUp)(sim::FakeBluez &, int rifle);
    bool found;
    void (*duringScan)(sim::FakeBluez &, int rifle) = nullptr;  // once the scan runs
};

void PrintTo(const Preexisting &p, std::ostream *os) { *os << p.name; }

class BluezPreexisting : public BluezLink, public ::testing::WithParamInterface<Preexisting> {};

TEST_P(BluezPreexisting, ObjectsFromBeforeTheScanCountWhenTheRifleIsThere)
{
    sim::BluezModes master;
    master.rssiRule = sim::BluezModes::RssiRule::Master;
    bluez->SetModes(master);
    AddLamp();
    const int rifle = bluez->AddPeripheral(Rifle());
    GetParam().setUp(*bluez, rifle);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    if (GetParam().duringScan != nullptr) {
        ASSERT_TRUE(WaitForLog("Starting the advertisement watcher."));
        GetParam().duringScan(*bluez, rifle);
    }
    if (!GetParam().found) {
        // What the scan's start showed is reported before anything heard after it.
        ASSERT_TRUE(WaitForLogPrefix("Found device: Desk Lamp"));
        controller->Deactivate();
        EXPECT_EQ(Count(Recorder(), "Target device found."), 0u);
        EXPECT_EQ(bluez->Connects(), 0);
        return;
    }
    ASSERT_TRUE(WaitForLog("Device successfully connected."));
    ASSERT_TRUE(Fire(rifle));
    controller->Deactivate();
}

INSTANTIATE_TEST_SUITE_P(
    Bluetoothd, BluezPreexisting,
    ::testing::Values(
        Preexisting{"HeardByAnotherClientsScan", [](sim::FakeBluez &b, int) { b.SetAnotherClientDiscovering(true); }, true},
        Preexisting{"StoredAndHeardByAnotherClientsScan",
                    [](sim::FakeBluez &b, int r) {
                        b.MakeKnown(r);
                        b.SetAnotherClientDiscovering(true);
                    },
                    true},
        Preexisting{"ConnectedByAnotherClient", [](sim::FakeBluez &b, int r) { b.ConnectByAnotherClient(r); }, true},
        Preexisting{"SubscribedByAnotherClient", [](sim::FakeBluez &b, int r) { b.ConnectByAnotherClient(r, true); }, true},
        Preexisting{"ConnectedByAnotherClientDuringTheScan", [](sim::FakeBluez &b, int r) { b.SetAdvertising(r, false); },
                    true, [](sim::FakeBluez &b, int r) { b.ConnectByAnotherClient(r); }},
        Preexisting{"StoredAndSwitchedOff",
                    [](sim::FakeBluez &b, int r) {
                        b.SetAdvertising(r, false);
                        b.MakeKnown(r);
                    },
                    false}),
    [](const ::testing::TestParamInfo<Preexisting> &info) { return std::string(info.param.name); });

// Catches: services looked up as soon as ServicesResolved arrives (bluetoothd can signal it ahead
// of the GATT objects: the rifle would lack its characteristic, with Cache = no after every drop),
// and object paths or names kept across a drop (without the cache the objects go with the link, a
// firmware update moves their handles, and the GAP name replaces the advertised one).
TEST_F(BluezLink, ServicesThatFollowTheirResolutionAndMoveAcrossADrop)
{
    sim::BluezModes modes;
    modes.servicesResolvedFirst = true;
    modes.cacheNo = true;
    bluez->SetModes(modes);
    sim::PeripheralScript script = Rifle();
    script.gapName = u"RQ508 7F21";
    const int rifle = bluez->AddPeripheral(script);
    bluez->Hold(rifle, sim::Step::Services);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(bluez->WaitUntilHeld(rifle, sim::Step::Services, kLimit));
    ASSERT_TRUE(bluez->WaitForTreeReadWhileHeld(kLimit));  // the services are looked for again
    bluez->Release(rifle, sim::Step::Services);
    ASSERT_TRUE(WaitForLog("Device successfully connected."));
    bluez->ChangeAttributeTable(rifle);
    bluez->Drop(rifle);
    ASSERT_TRUE(WaitForLog("Disconnected from device: RQ508 7F21"));
    ASSERT_TRUE(WaitForLog("Device successfully connected.", 2));
    ASSERT_TRUE(Fire(rifle));
    controller->Deactivate();
    EXPECT_EQ(Count(Recorder(), "Device connection lost."), 1u);
    EXPECT_EQ(Count(Recorder(), "Target characteristic not found."), 0u);
}

// Catches: another program's read of the rifle's characteristic taken for a notification (with
// StartNotify bluetoothd signals both as Value changes, so a desktop tool would fire the rifle),
// and a notification socket that ends unnoticed (anyone's StopNotify ends it: the rifle would stay
// silent while the link looks connected).
TEST_F(BluezLink, OnlyTheRiflesNotificationsFireAndASocketThatEndsIsADrop)
{
    const int rifle = bluez->AddPeripheral(Rifle());
    ASSERT_TRUE(ActivateAndConnect());
    ASSERT_TRUE(Fire(rifle));
    ASSERT_TRUE(bluez->AnotherClientCalls(rifle, "ReadValue"));
    bluez->Notify(rifle, {0x60, 0x00, 0x60, 0x5D});
    ASSERT_TRUE(WaitForLog("Received data: 96 0 96 93 END"));
    EXPECT_EQ(Recorder().CountLogPrefix("Received data: "), 2u);
    ASSERT_TRUE(bluez->AnotherClientCalls(rifle, "StopNotify"));
    ASSERT_TRUE(WaitForLog("Device successfully connected.", 2));
    controller->Deactivate();
    EXPECT_EQ(Count(Recorder(), "Device connection lost."), 1u);
}

// Catches: a refused StartNotify taken for a subscription (a rifle that connects but never fires)
// or not reported, and the rifle, let go while bluetoothd still disconnects it (Disconnect answers
// after 2 s, StartNotify meanwhile NotConnected, the rifle silent), that never comes back, or only
// once the retries of its subscription on the link that went down have run their ten seconds.
TEST_F(BluezLink, ARefusedSubscriptionIsReportedAndTheRifleLetGoWhileBluetoothdStillDisconnectsItComesBack)
{
    sim::BluezModes modes;
    modes.slowDisconnect = true;
    modes.acquireNotify = false;
    bluez->SetModes(modes);
    sim::PeripheralScript script = Rifle();
    script.services[1].characteristics[1].subscribe = {sim::CommunicationStatus::AccessDenied, 0, 1};  // once
    const int rifle = bluez->AddPeripheral(script);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(WaitForLog("Target characteristic not found."));
    EXPECT_EQ(Count(Recorder(), "Failed to subscribe to notifications for characteristic: " + kCharacteristicText), 1u);
    EXPECT_EQ(Recorder().CountLogPrefix("BlueZ: StartNotify on /org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF/service0020/"
                                        "char0024 failed: org.bluez.Error.NotPermitted"),
              1u);
    ASSERT_TRUE(WaitForLog("Device successfully connected."));
    ASSERT_TRUE(Fire(rifle));
    controller->Deactivate();
}

// Catches: a machine without an adapter taken for a crash or a silent stall, and its reason
// logged every half second.
TEST_F(BluezLink, NoAdapterIsAFailedStartLoggedOnce)
{
    bluez->RemoveAdapter();
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    // Each start reads bluetoothd's objects again: four of them are four starts.
    ASSERT_TRUE(bluez->WaitForCalls("GetManagedObjects", 4, kLimit));
    controller->Deactivate();
    EXPECT_EQ(Count(Recorder(), "BlueZ: bluetoothd has no Bluetooth adapter"), 1u);
    EXPECT_EQ(Count(Recorder(), "Failed to start the advertisement watcher."), 1u);
}

// Catches: discovery started on an adapter that is off, and a link that does not come up once
// the user powers the adapter on.
TEST_F(BluezLink, APoweredOffAdapterIsReportedUntilItIsPoweredOn)
{
    bluez->AddPeripheral(Rifle());
    bluez->SetPowered(false);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(bluez->WaitForCalls("GetManagedObjects", 3, kLimit));
    EXPECT_EQ(Count(Recorder(), "BlueZ: the Bluetooth adapter /org/bluez/hci0 is powered off"), 1u);
    bluez->SetPowered(true);
    ASSERT_TRUE(WaitForLog("Device successfully connected."));
    controller->Deactivate();
}

// Catches: a device named like the rifle but without its service kept connected (bluetoothd
// keeps a link that nobody disconnects), or taken for the rifle.
TEST_F(BluezLink, ADeviceWithoutTheRifleServiceIsLetGo)
{
    sim::PeripheralScript impostor = Rifle();
    impostor.services = {{kOtherUuid, {}, {{kOtherUuid, {}}}}};
    bluez->AddPeripheral(impostor);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(WaitForLog("Target characteristic not found.", 2));
    controller->Deactivate();
    EXPECT_EQ(Count(Recorder(), "Found GATT service: " + kServiceText), 0u);
    EXPECT_TRUE(bluez->WaitForStats([](const sim::RadioStats &s) { return s.closes >= 2; }, kLimit));
}

// Catches: a Connect that bluetoothd never answers hanging the worker (and so Deactivate) for
// ever, and the link not trying again after the time limit.
TEST_F(BluezLink, AConnectNeverAnsweredTimesOutAndTheNextAttemptConnects)
{
    Options().connectTimeout = 300ms;
    const int rifle = bluez->AddPeripheral(Rifle());
    bluez->Hold(rifle, sim::Step::Connect);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    const std::string noAnswer = "BlueZ: bluetoothd did not answer Connect to " + kRifleText + " in time";
    ASSERT_TRUE(WaitForLog(noAnswer));
    bluez->Release(rifle, sim::Step::Connect);
    ASSERT_TRUE(WaitForLog("Device successfully connected."));
    controller->Deactivate();
    EXPECT_EQ(Count(Recorder(), noAnswer), 1u);  // later attempts meet the pending one (InProgress)
}

// Catches: a wait for bluetoothd that a deactivation cannot cut short (SteamVR's thread would
// wait for the whole time limit of the call, 60 s here, and SteamVR ends a server that stalls).
TEST_F(BluezLink, DeactivationEndsAWaitForBluetoothdWithoutItsAnswer)
{
    Options().connectTimeout = 60s;
    const int rifle = bluez->AddPeripheral(Rifle());
    bluez->Hold(rifle, sim::Step::Connect);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(bluez->WaitUntilHeld(rifle, sim::Step::Connect, kLimit));
    controller->Deactivate();
    EXPECT_EQ(Count(Recorder(), "Failed to get GATT services."), 1u);
    EXPECT_EQ(Count(Recorder(), "BlueZ: Connect to " + kRifleText + " was interrupted"), 1u);
}

// Catches: properties of unexpected types misread (a number taken for a name or an address,
// text taken for notification bytes) or ending the loop that serves every other event, and
// notifications accepted from any program on the bus that sends a Value change for the rifle's
// characteristic (any local program could fire the rifle), not only from bluetoothd.
TEST_F(BluezLink, PropertiesOfWrongTypesArePassedOver)
{
    sim::BluezModes olderBluez;  // no AcquireNotify: notifications are Value changes
    olderBluez.acquireNotify = false;
    bluez->SetModes(olderBluez);
    sim::PeripheralScript numbered = Rifle(0x112233445566ull);
    const int badAddress = bluez->AddPeripheral(numbered);
    bluez->OverrideProperty(badAddress, "Device1", "Address", tarvolt::bluez::Value::UInt32(7));
    sim::PeripheralScript other;
    other.name = u"Other";
    other.address = 0x5A0000000002ull;
    const int badName = bluez->AddPeripheral(other);
    bluez->OverrideProperty(badName, "Device1", "Name", tarvolt::bluez::Value::Int32(42));
    const int rifle = bluez->AddPeripheral(Rifle());
    ASSERT_TRUE(ActivateAndConnect());
    EXPECT_EQ(Recorder().CountLogPrefix("Connecting to device: "), 1u);
    EXPECT_EQ(Count(Recorder(), "BlueZ: Address of /org/bluez/hci0/dev_11_22_33_44_55_66 has type u instead of "
                                "type s; it is ignored"),
              1u);
    EXPECT_EQ(Count(Recorder(), "BlueZ: Name of /org/bluez/hci0/dev_5A_00_00_00_00_02 has type i instead of type "
                                "s; it is ignored"),
              1u);
    tarvolt::fire.store(false);
    ASSERT_TRUE(bluez->Impersonate(rifle, kFire));  // another program's Value change
    bluez->NotifyFailing(rifle, 0);
    bluez->Notify(rifle, {0x60, 0x00, 0x60, 0x5D});
    ASSERT_TRUE(WaitForLog("Received data: 96 0 96 93 END"));
    EXPECT_EQ(Recorder().CountLogPrefix("Received data: "), 1u);
    EXPECT_FALSE(tarvolt::fire.load());
    EXPECT_EQ(Recorder().CountLogPrefix("BlueZ: Value of "), 1u);
    controller->Deactivate();
}

// Catches: a system bus that goes away taking the driver down, a backend that never connects
// again, and one that keeps the device it had as connected.
TEST_F(BluezLink, ASystemBusThatDropsAndReturns)
{
    bluez->AddPeripheral(Rifle());
    ASSERT_TRUE(ActivateAndConnect());
    bus.Stop();
    ASSERT_TRUE(WaitForLog("Disconnected from device: Rifle Q508"));
    bluez->Vanish();  // bluetoothd's own connection went with the bus
    ASSERT_TRUE(WaitForLog("Failed to start the advertisement watcher."));
    ASSERT_TRUE(WaitForLog("BlueZ: cannot connect to the system bus: No such file or directory"));
    EXPECT_EQ(Count(Recorder(), "BlueZ: the connection to the system bus was lost"), 1u);
    std::string error;
    ASSERT_TRUE(bus.Start(error)) << error;
    ASSERT_TRUE(bluez->Start(error)) << error;
    ASSERT_TRUE(WaitForLog("Device successfully connected.", 2));
    controller->Deactivate();
}

// Catches: a library that cannot be loaded stopping the driver.
TEST_F(BluezLink, WithoutTheSdBusLibraryTheLinkFailsSoftly)
{
    Options().libraries = {"libtarvolt-absent-sd-bus.so.0"};
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(WaitForLog("Failed to start the advertisement watcher."));
    controller->Deactivate();
    EXPECT_EQ(Recorder().CountLogPrefix("BlueZ: the D-Bus library sd-bus (libsystemd.so.0) could not be loaded ("),
              1u);
}

class BluezLinkRefused : public BluezLink {
protected:
    bool RefuseBluez() const override { return true; }
};

// Catches: a bus policy that forbids talking to bluetoothd taken for a missing bluetoothd by the
// radio check, or reported in the log as anything but what it is.
TEST_F(BluezLinkRefused, APolicyThatRefusesBluezMakesBluetoothUnusableAndIsNamedInTheLog)
{
    const tarvolt::radio::RadioCheck check = tarvolt::radio::PlatformRadio().CheckRadio();
    EXPECT_EQ(check.readiness, tarvolt::radio::Readiness::Unusable);
    EXPECT_NE(check.detail.find("refused by the system bus"), std::string::npos) << check.detail;
    bluez->AddPeripheral(Rifle());
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(WaitForLog("Failed to start the advertisement watcher."));
    controller->Deactivate();
    EXPECT_EQ(Recorder().CountLogPrefix("BlueZ: GetManagedObjects was refused by the system bus ("), 1u);
}

} // namespace
