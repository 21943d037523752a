// The link's state table through the simulated radio, one pass at a time: the test plays the
// worker's loop (without its sleep) and the radio plays the rifle. Handler lines come on the
// radio's thread and are checked apart from the worker's ordered lines.
#include "DriverState.h"
#include "LinkTestSupport.h"
#include "SimObjects.h"
#include "bluetooth/BluetoothWorker.h"
#include "bluetooth/Discovery.h"

#include <algorithm>
#include <thread>

namespace {

using namespace link_test;
using tarvolt::LinkState;
using Lines = std::vector<std::string>;
namespace radio = tarvolt::radio;

const std::string kConnecting = "Connecting to device: " + kRifleAddressText;
const std::string kFoundService = "Found GATT service: " + kServiceText;
const std::string kSubscribing = "Subscribing to characteristic: " + kCharacteristicText;
const std::string kSubscribed = "Successfully subscribed to notifications for characteristic: " + kCharacteristicText;
const std::string kRefused = "Failed to subscribe to notifications for characteristic: " + kCharacteristicText;
const std::string kNotFound = "Target characteristic not found.";
const std::string kAskServices = "GATT service not in the cached answer; asking the device.";
const std::string kAskCharacteristics = "Characteristic not in the cached answer; asking the device.";

class Link : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitHost(host);
        radio.SetAdvertiseInterval(5ms);
        tarvolt::CreateAdvertisementWatcher(context);
    }
    void TearDown() override
    {
        tarvolt::EndWorker(context);
        radio.CompressTime(1);
        radio.ResumeEvents();
        radio.Shutdown();
    }
    void Pass() { tarvolt::WorkerPass(context); }
    int32_t State() const { return context.linkState.load(); }
    size_t Mark() { return host.Recorder().LogTexts().size(); }
    Lines Since(size_t mark) { return WorkerLines(host.Recorder(), mark); }
    // One pass; the worker's lines it wrote.
    Lines PassLines()
    {
        const size_t mark = Mark();
        Pass();
        return Since(mark);
    }

    // A pass at StartScanning, then the rifle's advertisement; returns once the handler is done
    // (its stop request is reported after it returns).
    void Discover()
    {
        const size_t stops = host.Recorder().CountLog("Watcher stopped.");
        ASSERT_EQ(State(), tarvolt::StartScanning);
        Pass();
        ASSERT_TRUE(host.Recorder().WaitForLog("Watcher stopped.", kLimit, stops + 1));
        ASSERT_EQ(State(), tarvolt::TargetFound);
    }
    // Discovery and the connect step; the lines of the connect step.
    Lines Connect()
    {
        Discover();
        return PassLines();
    }
    // After a reset: nothing held, and the scan starts again at the next pass.
    void ExpectResetAndRescan()
    {
        EXPECT_EQ(context.device, nullptr);
        ExpectRescan();
    }
    // After a reset or a drop (which may keep the device for the system to restore its link).
    void ExpectRescan()
    {
        EXPECT_EQ(State(), tarvolt::StartScanning);
        EXPECT_EQ(context.targetAddress.load(), 0u);
        EXPECT_EQ(context.characteristic, nullptr);
        Lines lines = PassLines();
        // The rifle may be seen again at once; those lines are discovery's.
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const std::string &line) {
                                       return line.rfind("Found device: ", 0) == 0 || line == "Target device found.";
                                   }),
                    lines.end());
        EXPECT_EQ(lines, Lines{"Starting the advertisement watcher."});
    }
    // Waits until the radio has delivered its events, handlers' stores included.
    void Settle() { ASSERT_TRUE(radio.WaitUntilIdle(kLimit)); }
    // A pass on another thread, held at the rifle's step while `whileHeld` runs.
    void PassHeldAt(int rifle, sim::Step step, const std::function<void()> &whileHeld)
    {
        radio.Hold(rifle, step);
        std::thread pass([this] { Pass(); });
        if (radio.WaitUntilHeld(rifle, step, kLimit))
            whileHeld();
        else
            ADD_FAILURE() << "the pass did not reach the held step";
        radio.Release(rifle, step);
        pass.join();
    }

    sim::SimHost host;
    sim::RadioControl &radio = sim::SimRadioControl();
    tarvolt::LinkContext context;
};

// Catches: a wrong message or order on the way to a subscription, a missing connect report,
// other services or characteristics subscribed, a state other than Connected at the end, and a
// scan that is not active or is started more than once.
TEST_F(Link, FirstConnectionSubscribesToTheRifle)
{
    radio.AddPeripheral(Rifle());
    Discover();
    EXPECT_EQ(PassLines(), (Lines{kConnecting, kFoundService, kSubscribing, kSubscribed, "Device successfully connected."}));
    EXPECT_EQ(State(), tarvolt::Connected);
    EXPECT_TRUE(host.Recorder().WaitForLog("Connected to device: Rifle Q508", kLimit));
    sim::RadioStats stats = radio.Stats();
    EXPECT_EQ(stats.closes, 0);
    EXPECT_EQ(stats.maintained, 1);
    EXPECT_EQ(stats.lowLatencyRequests, 1);
    EXPECT_EQ(stats.activeScanning, 1);
    EXPECT_EQ(stats.starts, 1);

    const size_t idle = Mark();
    Pass();
    EXPECT_EQ(Mark(), idle);
    EXPECT_EQ(State(), tarvolt::Connected);

    // The end lets go of everything once: notifications off (the link is up), the request to
    // keep the link withdrawn, the service and the device closed (the sim refuses any call on
    // an object already closed).
    tarvolt::EndWorker(context);
    stats = radio.Stats();
    EXPECT_EQ(stats.notifying, 0);
    EXPECT_EQ(stats.maintained, 0);
    EXPECT_EQ(stats.serviceCloses, 1);
    EXPECT_EQ(stats.closes, 1);
    EXPECT_EQ(stats.attachedHandlers, 0);
}

struct Failure {
    const char *name;
    std::function<void(sim::PeripheralScript &)> script;
    Lines lines;  // after "Connecting to device: "
};

void PrintTo(const Failure &failure, std::ostream *out) { *out << failure.name; }

class FailedConnect : public Link, public ::testing::WithParamInterface<Failure> {};

// Catches, per reported failure or raised error of a connect step: a missing or wrong message,
// going on past the failure, no reset, the device left open, or no rescan one pass later.
TEST_P(FailedConnect, IsReportedAndStartsOver)
{
    radio.CompressTime(100);  // retries wait a second each, for up to ten
    sim::PeripheralScript rifle = Rifle();
    rifle.closeHold = std::chrono::milliseconds(0);  // the link goes with the device, so the scan starts again
    GetParam().script(rifle);
    radio.AddPeripheral(rifle);
    Lines expected{kConnecting};
    expected.insert(expected.end(), GetParam().lines.begin(), GetParam().lines.end());
    EXPECT_EQ(Connect(), expected);
    ExpectResetAndRescan();
    EXPECT_EQ(radio.Stats().closes, rifle.connectable && !rifle.connectError ? 1 : 0);
}

sim::Outcome Status(radio::CommunicationStatus status) { return {status, 0}; }
sim::Outcome Raised(uint32_t code) { return {radio::CommunicationStatus::Success, static_cast<radio::ResultCode>(code)}; }
sim::ServiceScript &Target(sim::PeripheralScript &p) { return p.services[1]; }

const Failure kFailures[] = {
    {"NoTargetService", [](auto &p) { p.services.pop_back(); }, {kAskServices, kNotFound}},
    {"ServiceWithoutTheCharacteristic", [](auto &p) { Target(p).characteristics.pop_back(); },
     {kFoundService, kAskCharacteristics, kNotFound}},
    {"RefusedDescriptorWrite",
     [](auto &p) { Target(p).characteristics[1].subscribe = Status(radio::CommunicationStatus::AccessDenied); },
     {kFoundService, kSubscribing, kRefused, kNotFound}},
    {"DescriptorWriteRaises", [](auto &p) { Target(p).characteristics[1].subscribe = Raised(0x80070005u); },
     {kFoundService, kSubscribing, kRefused, kNotFound}},
    {"FailedCharacteristicsQueryEndsTheEnumeration",
     [](auto &p) {
         p.services.insert(p.services.begin(), {tarvolt::kTargetServiceUuid, Status(radio::CommunicationStatus::Unreachable), {}});
     },
     {kFoundService, "Retrying the characteristics query for service: " + kServiceText,
      "Failed to get characteristics for service: " + kServiceText, kNotFound}},
    {"CharacteristicsQueryRaises", [](auto &p) { Target(p).query = Raised(0x80004005u); },
     {kFoundService, "Failed to get characteristics for service: " + kServiceText, kNotFound}},
    {"ServicesQueryFails", [](auto &p) { p.servicesQuery = Status(radio::CommunicationStatus::ProtocolError); },
     {"Retrying the GATT service query.", "Failed to get GATT services."}},
    {"ServicesQueryRaises", [](auto &p) { p.servicesQuery = Raised(0x8000000Eu); }, {"Failed to get GATT services."}},
    {"NoDeviceForTheAddress", [](auto &p) { p.connectable = false; }, {"Failed to connect to device: " + kRifleAddressText}},
    {"DeviceLookupRaises", [](auto &p) { p.connectError = static_cast<radio::ResultCode>(0x800704C7u); },
     {"Failed to connect to device: " + kRifleAddressText}},
};

INSTANTIATE_TEST_SUITE_P(StateTable, FailedConnect, ::testing::ValuesIn(kFailures),
                         [](const auto &info) { return std::string(info.param.name); });

// Catches: stopping at the first target characteristic, holding the earlier one, or needing
// every write to succeed.
TEST_F(Link, TwoTargetCharacteristicsAreBothSubscribedAndTheLaterIsHeld)
{
    sim::PeripheralScript rifle = Rifle();
    Target(rifle).characteristics.push_back({tarvolt::kTargetCharacteristicUuid, Status(radio::CommunicationStatus::AccessDenied)});
    radio.AddPeripheral(rifle);
    EXPECT_EQ(Connect(), (Lines{kConnecting, kFoundService, kSubscribing, kSubscribed, kSubscribing, kRefused,
                                "Device successfully connected."}));
    EXPECT_EQ(State(), tarvolt::Connected);
    ASSERT_NE(context.characteristic, nullptr);
    EXPECT_EQ(context.characteristic->WriteClientCharacteristicConfigurationDescriptor(radio::CccdValue::Notify),
              radio::CommunicationStatus::AccessDenied);
}

// Catches: a connect step run with no address instead of being reported and reset.
TEST_F(Link, TargetWithoutAddressIsInvalid)
{
    context.linkState = tarvolt::TargetFound;
    EXPECT_EQ(PassLines(), Lines{"Target device address is invalid."});
    ExpectResetAndRescan();
}

// Catches: a lost link not reported, reconnecting straight away instead of rescanning, a
// notification flag lost with the link, a device kept for the system's restore never let go once
// the rifle was found again, and handlers of the devices and characteristics let go staying
// attached, so that a link that drops all evening collects them.
TEST_F(Link, ALostLinkIsRescannedAndKeepsOnlyItsCurrentDevicesHandlers)
{
    sim::PeripheralScript script = Rifle();
    script.restoreDelay = std::chrono::hours(1);  // the system does not restore it
    const int rifle = radio.AddPeripheral(script);
    std::vector<std::shared_ptr<void>> kept;  // every device and characteristic, as the platform may keep them
    constexpr int kWatcherHandlers = 2, kConnectionHandlers = 2;  // status, one notifying characteristic
    Discover();
    for (int drop = 1; drop <= 3; ++drop) {
        Pass();
        ASSERT_EQ(WorkerLines(host.Recorder()).back(), "Device successfully connected.");
        EXPECT_TRUE(host.Recorder().WaitForLog("Connected to device: Rifle Q508", kLimit, drop));
        kept.insert(kept.end(), {context.device, context.characteristic});
        EXPECT_EQ(radio.Stats().attachedHandlers, kWatcherHandlers + kConnectionHandlers);
        radio.Notify(rifle, {0x60, 0x01, 0x61, 0x5D});
        ASSERT_TRUE(host.Recorder().WaitForLog("Received data: 96 1 97 93 END", kLimit, drop));
        radio.Drop(rifle);
        Settle();
        EXPECT_EQ(host.Recorder().CountLog("Disconnected from device: Rifle Q508"), static_cast<size_t>(drop));
        ASSERT_EQ(State(), tarvolt::ConnectionLost);
        EXPECT_EQ(PassLines(), Lines{"Device connection lost."});
        EXPECT_EQ(radio.Stats().attachedHandlers, kWatcherHandlers) << "after drop " << drop;
        EXPECT_EQ(radio.Stats().closes, drop - 1);
        EXPECT_EQ(radio.Stats().maintained, 1);
        ExpectRescan();
        EXPECT_TRUE(tarvolt::load_bullet.exchange(false));
        ASSERT_TRUE(host.Recorder().WaitForLog("Watcher stopped.", kLimit, drop + 1));
    }
}

// Catches: a link that stays at Connected although its device was lost during the connect step
// (nothing would report the loss again), and a stale report from a device that is connected
// again tearing the new link down.
TEST_F(Link, DisconnectionDuringTheConnectStepIsKeptOnlyWhileTheDeviceIsLost)
{
    sim::PeripheralScript script = Rifle();
    script.restoreDelay = std::chrono::hours(1);
    const int rifle = radio.AddPeripheral(script);
    Discover();
    PassHeldAt(rifle, sim::Step::Subscribe, [&] {
        radio.Drop(rifle);
        Settle();
        EXPECT_EQ(State(), tarvolt::ConnectionLost);
    });
    EXPECT_EQ(WorkerLines(host.Recorder()).back(), "Device successfully connected.");
    EXPECT_EQ(State(), tarvolt::ConnectionLost);
    EXPECT_EQ(PassLines(), Lines{"Device connection lost."});

    // The same report, but the device is connected again by the end of the step.
    ExpectRescan();
    ASSERT_TRUE(host.Recorder().WaitForLog("Watcher stopped.", kLimit, 2));
    context.linkState = tarvolt::TargetFound;
    PassHeldAt(rifle, sim::Step::Characteristics, [&] {
        Settle();  // the new device's own report (connected) has come
        context.linkState = tarvolt::ConnectionLost;  // a report from the device closed before
    });
    EXPECT_EQ(State(), tarvolt::Connected);
}

// Catches: a step retried on a link that went down without its event (the device, connected
// when it was found, reads disconnected): the link would go on asking a rifle that is gone, for
// ten seconds or until an answer succeeds on the dead link, instead of searching at once.
TEST_F(Link, AStepIsNotRetriedOnALinkThatWentDown)
{
    sim::PeripheralScript script = Rifle();
    script.connectedAtStart = true;
    script.closeHold = std::chrono::hours(1);
    Target(script).characteristics[1].subscribe = {radio::CommunicationStatus::Unreachable, 0, 2};
    const int rifle = radio.AddPeripheral(script);
    Pass();
    ASSERT_EQ(State(), tarvolt::TargetFound);
    PassHeldAt(rifle, sim::Step::Subscribe, [&] {
        radio.DropWithoutEvent(rifle);
        Settle();
    });
    const Lines lines = WorkerLines(host.Recorder());
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()), (Lines{kSubscribing, kRefused, kNotFound}));
    ExpectResetAndRescan();
}

// Catches: a dropped link that the system restores (the link asked it to keep the link) torn
// down and searched for anyway, and a restored link not subscribed again (the rifle forgot the
// subscription with the link).
TEST_F(Link, ALinkTheSystemRestoresIsSubscribedAgainOnTheSameDevice)
{
    sim::PeripheralScript script = Rifle();
    script.restoreDelay = std::chrono::milliseconds(0);
    const int rifle = radio.AddPeripheral(script);
    Connect();
    radio.Drop(rifle);  // and restored at once: the rifle, connected again, does not advertise
    ASSERT_TRUE(host.Recorder().WaitForLog("Connected to device: Rifle Q508", kLimit, 2));
    EXPECT_EQ(radio.Stats().notifying, 0);
    Pass();
    EXPECT_EQ(PassLines(), (Lines{"The system restored the connection."}));
    EXPECT_EQ(PassLines(), (Lines{kConnecting, kFoundService, kSubscribing, kSubscribed, "Device successfully connected."}));
    EXPECT_EQ(State(), tarvolt::Connected);
    const sim::RadioStats stats = radio.Stats();
    EXPECT_EQ(stats.notifying, 1);
    EXPECT_EQ(stats.closes, 0);
    EXPECT_EQ(stats.serviceCloses, 1);
}

// Catches: a connected rifle whose own name has replaced the advertised one ignored although
// the link was connected to its address before, and another device of that name taken for it.
TEST_F(Link, AConnectedRifleIsKnownByTheAddressConnectedBefore)
{
    sim::PeripheralScript script = Rifle();
    script.gapName = u"RQ508";
    const int rifle = radio.AddPeripheral(script);
    sim::PeripheralScript other = Rifle(0x112233445566ull);
    other.gapName = u"RQ508";
    other.advertising = false;
    radio.SetOtherHolder(radio.AddPeripheral(other), true);
    Connect();
    radio.SetAdvertising(rifle, false);
    tarvolt::ResetLink(context);  // the link is let go, but the system keeps it a while
    const size_t mark = Mark();
    Pass();
    EXPECT_EQ(Since(mark), (Lines{"Found connected device: RQ508 (Address: " + kRifleAddressText + ")",
                                  "Target device found."}));
    Pass();
    EXPECT_EQ(State(), tarvolt::Connected);
    EXPECT_EQ(Since(mark).back(), "Device successfully connected.");
}

// Catches: a disconnection stored between a successful step's read of the device's status and
// its final store (while an older, overcome report still stood) overwritten by that store: the
// link would stay Connected with a lost rifle, and nothing would report the loss again.
TEST_F(Link, DisconnectionBetweenTheStatusReadAndTheFinalStoreIsKept)
{
    const int rifle = radio.AddPeripheral(Rifle());
    Discover();
    PassHeldAt(rifle, sim::Step::Characteristics, [&] {
        Settle();  // the device has reported itself connected
        context.linkState = tarvolt::ConnectionLost;  // a report from a device closed before
        radio.Hold(rifle, sim::Step::StatusRead);
        radio.Release(rifle, sim::Step::Characteristics);
        ASSERT_TRUE(radio.WaitUntilHeld(rifle, sim::Step::StatusRead, kLimit));  // it read "connected"
        radio.Drop(rifle);
        Settle();
        EXPECT_EQ(host.Recorder().CountLog("Disconnected from device: Rifle Q508"), 1u);
        radio.Release(rifle, sim::Step::StatusRead);
    });
    EXPECT_EQ(WorkerLines(host.Recorder()).back(), "Device successfully connected.");
    EXPECT_EQ(State(), tarvolt::ConnectionLost);
}

// Catches: a report from a device the reset let go (here the one its Close raises) reaching the
// link and resetting it again. One the platform had already begun delivering when the reset
// detached the handler still counts: it is reported and leads to another reset and Start.
TEST_F(Link, ReportsOfADeviceLetGoStopAtTheResetExceptThoseAlreadyOnTheirWay)
{
    sim::PeripheralScript script = Rifle();
    script.services.pop_back();
    script.disconnectOnClose = true;
    script.closeHold = std::chrono::milliseconds(0);
    const int rifle = radio.AddPeripheral(script);
    Discover();
    radio.SetAdvertising(rifle, false);
    std::shared_ptr<sim::SimDevice> device;
    decltype(device->statusChanged.Snapshot()) onTheirWay;
    PassHeldAt(rifle, sim::Step::Services, [&] {
        device = dynamic_cast<sim::SimDevice &>(*context.device).shared_from_this();
        onTheirWay = device->statusChanged.Snapshot();
    });
    ASSERT_EQ(onTheirWay.size(), 1u);
    ExpectResetAndRescan();
    Settle();  // the report of the Close has been raised
    EXPECT_EQ(radio.Stats().closes, 1);
    EXPECT_EQ(host.Recorder().CountLog("Disconnected from device: Rifle Q508"), 0u);
    EXPECT_EQ(State(), tarvolt::Scanning);

    const int starts = radio.Stats().starts;
    std::thread([&] { onTheirWay[0](*device); }).join();
    EXPECT_EQ(host.Recorder().CountLog("Disconnected from device: Rifle Q508"), 1u);
    EXPECT_EQ(State(), tarvolt::ConnectionLost);
    EXPECT_EQ(PassLines(), Lines{"Device connection lost."});
    ExpectResetAndRescan();
    EXPECT_EQ(radio.Stats().starts, starts + 1);
}

// Catches: a start of the scan that fails every pass (no adapter, no Bluetooth classes) writing
// its two lines every 500 ms for as long as SteamVR runs, a pass that stops retrying, and the
// start that finally succeeds held back with the failures; a failure after that is news again.
// Every start is tried on a new watcher, after 1, 2, 4, then every 8 seconds.
TEST_F(Link, AStartThatKeepsFailingIsLoggedOnceAMinuteAndItsEndAtOnce)
{
    const std::string starting = "Starting the advertisement watcher.";
    const std::string failed = "Failed to start the advertisement watcher.";
    tarvolt::RepeatLimiter::TimePoint now{};
    context.scanStarts.SetClock([&] { return now; });
    radio.SetWatcherFault(sim::WatcherFault::StartThrows, -1);
    context.watcherFresh = false;  // the watcher made before the fault is not used
    const size_t mark = Mark();
    for (int pass = 0; pass < 130; ++pass, now += 500ms)  // 65 s: starts at passes 0, 2, 6, 14, 30, 46, ... 126
        Pass();
    EXPECT_EQ(Since(mark), (Lines{starting, failed, starting + " (repeated 10 times)", failed + " (repeated 10 times)"}));
    EXPECT_EQ(radio.Stats().starts, 11);
    EXPECT_EQ(radio.Stats().watchersCreated, 12);
    EXPECT_EQ(State(), tarvolt::StartScanning);

    radio.SetWatcherFault(sim::WatcherFault::None, 0);
    const size_t back = Mark();
    while (State() == tarvolt::StartScanning && radio.Stats().starts == 11)
        Pass();
    EXPECT_EQ(Since(back), Lines{starting});
    EXPECT_EQ(State(), tarvolt::Scanning);

    radio.SetWatcherFault(sim::WatcherFault::StaysCreated, 1);
    context.linkState = tarvolt::StartScanning;
    EXPECT_EQ(PassLines(), (Lines{starting, "The advertisement watcher did not start."}));
}

// Catches: a gate that lets a handler in after Close, or a Close that returns while a handler
// is still inside.
TEST(HandlerGate, CloseWaitsForTheHandlerInsideAndShutsOutLaterOnes)
{
    tarvolt::HandlerGate gate;
    ASSERT_TRUE(gate.Enter());
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        gate.Close();
        closed = true;
    });
    while (gate.Enter()) {  // until the closer has shut the gate
        gate.Leave();
        std::this_thread::yield();
    }
    EXPECT_FALSE(closed.load());
    gate.Leave();
    closer.join();
    EXPECT_TRUE(closed.load());
    EXPECT_FALSE(gate.Enter());
}

} // namespace
