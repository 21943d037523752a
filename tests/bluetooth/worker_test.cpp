// The worker as the device runs it: started by Activate, paced by its poll, ended by
// Deactivate. Real time, so kept to a few runs; every wait is on a logged line or radio event.
#include "ControllerDriver.h"
#include "DriverState.h"
#include "LinkTestSupport.h"
#include "bluetooth/LinkObserver.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using namespace link_test;
using Lines = std::vector<std::string>;

class Worker : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitHost(host);
        controller = tarvolt::deviceProvider.controller;
        ASSERT_NE(controller, nullptr);
    }
    void TearDown() override
    {
        host.Shutdown();
        radio.Shutdown();
    }
    sim::SimHost host;
    sim::RadioControl &radio = sim::SimRadioControl();
    tarvolt::ControllerDriver *controller = nullptr;
};

// Catches: a worker that does not scan, connect and subscribe on its own in the documented
// order, that does not come back after a lost link, or that leaves a scan or handlers behind.
TEST_F(Worker, ConnectsReconnectsAfterADropAndLeavesNothingBehind)
{
    sim::PeripheralScript script = Rifle();
    script.restoreDelay = std::chrono::hours(1);  // found again by its advertisement
    const int rifle = radio.AddPeripheral(script);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit));
    EXPECT_EQ(WorkerLines(host.Recorder()),
              (Lines{"Tarvolt Running", "Starting the advertisement watcher.",
                     "Found device: Rifle Q508 (Address: " + kRifleAddressText + ")", "Target device found.",
                     "Connecting to device: " + kRifleAddressText, "Found GATT service: " + kServiceText,
                     "Subscribing to characteristic: " + kCharacteristicText,
                     "Successfully subscribed to notifications for characteristic: " + kCharacteristicText,
                     "Device successfully connected."}));

    radio.Drop(rifle);
    ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit, 2));
    EXPECT_EQ(host.Recorder().CountLog("Device connection lost."), 1u);
    radio.Notify(rifle, {0x5B, 0, 0, 0, 0, 0x5D});
    ASSERT_TRUE(host.Recorder().WaitForLog("Received data: 91 0 0 0 0 93 END", kLimit));
    EXPECT_TRUE(tarvolt::fire.load());

    controller->Deactivate();
    const sim::RadioStats stats = radio.Stats();
    EXPECT_EQ(stats.watchersCreated, 2);  // one per scan
    EXPECT_EQ(stats.scanning, 0);
    EXPECT_EQ(stats.attachedHandlers, 0);
    EXPECT_TRUE(stats.handlerFailures.empty());
}

// Records what the link reports to an observer, as the probe sees it.
class RecordingObserver final : public tarvolt::LinkObserver {
public:
    void Line(const char *text) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines.emplace_back(text);
    }
    void Notified(const uint8_t *bytes, size_t length, const std::atomic<bool> *flag) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notifications.emplace_back(std::vector<uint8_t>(bytes, bytes + length), flag);
        changed_.notify_all();
    }
    void StateSeen(tarvolt::LinkState state, uint64_t address) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        states.push_back(state);
        if (state == tarvolt::Connected)
            connectedTo.push_back(address);
        changed_.notify_all();
    }
    bool WaitForStates(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kLimit, [&] { return states.size() >= count; });
    }
    bool WaitForNotifications(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kLimit, [&] { return notifications.size() >= count; });
    }

    std::vector<std::string> lines;
    std::vector<std::pair<std::vector<uint8_t>, const std::atomic<bool> *>> notifications;
    std::vector<tarvolt::LinkState> states;
    std::vector<uint64_t> connectedTo;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Catches: an observer (the probe) that misses a state the link went through (a drop the worker
// handles within one pass shows as lost, then scanning again), a notification reported without
// its bytes or with another flag than the one set, and link lines that reach the observer but
// not the driver log or the other way round.
TEST_F(Worker, AnObserverSeesEveryLineNotificationAndState)
{
    static RecordingObserver observer;  // outlives late calls of the radio's thread
    tarvolt::SetLinkObserver(&observer);
    // The rifle advertises only once the scan runs, so that its find cannot overtake the
    // worker's report of the scan (the worker reports what it finds, not every store).
    sim::PeripheralScript script = Rifle();
    script.advertising = false;
    const int rifle = radio.AddPeripheral(script);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    using S = tarvolt::LinkState;
    ASSERT_TRUE(observer.WaitForStates(2));
    radio.SetAdvertising(rifle, true);
    ASSERT_TRUE(observer.WaitForStates(4));
    radio.Notify(rifle, {0x5C, 0x01, 0x5D, 0x5D});
    radio.Notify(rifle, {0x5C, 0x02, 0x5E, 0x5D});
    ASSERT_TRUE(observer.WaitForNotifications(2));
    radio.SetAdvertising(rifle, false);
    radio.Drop(rifle);
    ASSERT_TRUE(observer.WaitForStates(7));
    radio.SetAdvertising(rifle, true);
    ASSERT_TRUE(observer.WaitForStates(9));
    controller->Deactivate();
    tarvolt::SetLinkObserver(nullptr);

    EXPECT_EQ(observer.states, (std::vector<S>{S::StartScanning, S::Scanning, S::TargetFound, S::Connected,
                                               S::ConnectionLost, S::StartScanning, S::Scanning, S::TargetFound,
                                               S::Connected}));
    EXPECT_EQ(observer.connectedTo, (std::vector<uint64_t>{kRifleAddress, kRifleAddress}));
    ASSERT_EQ(observer.notifications.size(), 2u);
    EXPECT_EQ(observer.notifications[0].first, (std::vector<uint8_t>{0x5C, 0x01, 0x5D, 0x5D}));
    EXPECT_EQ(observer.notifications[0].second, &tarvolt::load_mag);
    EXPECT_EQ(observer.notifications[1].second, nullptr);
    // The same lines in both; lines of different threads (the worker's, the radio's event thread)
    // may reach the two in another order, since each is told in turn.
    std::vector<std::string> seen = testing_support::LinkLines(observer.lines);
    std::vector<std::string> logged = testing_support::LinkLines(host.Recorder().LogTexts());
    std::sort(seen.begin(), seen.end());
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(seen, logged);
}

// Catches: a radio that goes away mid-session (Bluetooth switched off, the adapter unplugged)
// going unnoticed by a connected link, a worker that stops running or throws when the scan it
// starts is aborted at once, and handlers or a scan left behind at Deactivate.
TEST_F(Worker, NoticesTheRadioGoneAndStillEndsCleanly)
{
    radio.AddPeripheral(Rifle());
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit));
    const size_t mark = host.Recorder().LogTexts().size();

    radio.SetRadioAvailable(false);
    ASSERT_TRUE(host.Recorder().WaitForLog("Disconnected from device: Rifle Q508", kLimit));
    // The next scan is started and aborted by the platform at once, as its status tells.
    ASSERT_TRUE(host.Recorder().WaitForLog("Watcher stopped.", kLimit, 2));
    ASSERT_TRUE(host.Recorder().WaitForLog("The advertisement watcher did not start.", kLimit));
    EXPECT_EQ(WorkerLines(host.Recorder(), mark), (Lines{"Device connection lost.", "Starting the advertisement watcher.",
                                                         "The advertisement watcher did not start."}));

    controller->Deactivate();
    radio.SetRadioAvailable(true);
    const sim::RadioStats stats = radio.Stats();
    EXPECT_EQ(stats.scanning, 0);
    EXPECT_EQ(stats.attachedHandlers, 0);
    EXPECT_TRUE(stats.handlerFailures.empty());
}

// Catches: a device activated again after Deactivate (the runtime restarting its devices within
// one load of the library) whose new worker finds the run flag still cleared and ends without
// scanning: the rifle would keep its pose but never send another button.
TEST_F(Worker, AReactivatedDeviceScansConnectsAndDeliversAgain)
{
    const int rifle = radio.AddPeripheral(Rifle());
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit));
    controller->Deactivate();
    tarvolt::fire.store(false);

    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit, 2));
    EXPECT_EQ(host.Recorder().CountLog("Tarvolt Running"), 2u);
    radio.Notify(rifle, {0x5B, 0, 0, 0, 0, 0x5D});
    ASSERT_TRUE(host.Recorder().WaitForLog("Received data: 91 0 0 0 0 93 END", kLimit));
    EXPECT_TRUE(tarvolt::fire.load());

    controller->Deactivate();
    const sim::RadioStats stats = radio.Stats();
    EXPECT_EQ(stats.watchersCreated, 2);
    EXPECT_EQ(stats.scanning, 0);
    EXPECT_EQ(stats.attachedHandlers, 0);
}

// Catches: a Cleanup that leaves the library to be unloaded while the platform still holds one of
// its handlers (a late call would run unmapped code), and one that keeps it for no reason.
TEST_F(Worker, CleanupKeepsTheLibraryOnlyWhileThePlatformHoldsAHandler)
{
    const std::string kept = "Bluetooth callbacks are still held by the platform";
    tarvolt::deviceProvider.Cleanup();
    EXPECT_EQ(host.Recorder().CountLogPrefix(kept), 0u);

    std::shared_ptr<tarvolt::radio::Watcher> watcher = tarvolt::radio::PlatformRadio().CreateWatcher();
    watcher->AddReceived([](tarvolt::radio::Watcher &, tarvolt::radio::AdvertisementReceivedArgs &) { return 0; });
    tarvolt::deviceProvider.Cleanup();
    EXPECT_EQ(host.Recorder().CountLogPrefix(kept), 1u);
}

// The ways real radios keep the rifle from coming back, each as the simulated radio plays it.
// `before` runs before activation; `after`, if any, once the link is up, and the link must come
// up again. `forbidden`: a line that shows the link took the long way (a reset, a rescan).
struct Comeback {
    const char *name;
    std::function<void(sim::PeripheralScript &)> script;
    std::function<void(sim::RadioControl &, int)> before;
    std::function<void(sim::RadioControl &, int)> after;
    const char *forbidden;
};

void PrintTo(const Comeback &c, std::ostream *os) { *os << c.name; }

class RifleComesBack : public Worker, public ::testing::WithParamInterface<Comeback> {};

// Catches, per case: a rifle that is connected (so silent) but never found because the link
// waits for an advertisement; a first step that fails once and resets the link instead of
// being retried; a service or characteristic missing from the cached answer and never asked
// for uncached; a watcher that fails to start, never starts, hears nothing or ends unannounced,
// waited on for ever; a drop whose event never came; and after all that, no press delivered.
TEST_P(RifleComesBack, AndDeliversItsPresses)
{
    const Comeback &c = GetParam();
    radio.CompressTime(20);
    sim::PeripheralScript script = Rifle();
    script.closeHold = std::chrono::hours(1);  // a kept link outlasts the test
    if (c.script)
        c.script(script);
    const int rifle = radio.AddPeripheral(script);
    if (c.before)
        c.before(radio, rifle);
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit));
    if (c.after) {
        c.after(radio, rifle);
        ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit, 2));
    }
    radio.Notify(rifle, {0x5C, 0x00, 0x5C, 0x5D});
    ASSERT_TRUE(host.Recorder().WaitForLog("Received data: 92 0 92 93 END", kLimit));
    EXPECT_TRUE(tarvolt::eject_mag.exchange(false));
    EXPECT_EQ(c.forbidden ? host.Recorder().CountLogPrefix(c.forbidden) : 0u, 0u) << c.forbidden;
    controller->Deactivate();
    radio.CompressTime(1);
    EXPECT_EQ(radio.Stats().attachedHandlers, 0);
    EXPECT_EQ(radio.Stats().scanning, 0);
}

using R = sim::RadioControl;
sim::Outcome Failing(tarvolt::radio::CommunicationStatus status, int times) { return {status, 0, times}; }
constexpr auto kUnreachable = tarvolt::radio::CommunicationStatus::Unreachable;
void Fault(R &r, sim::WatcherFault fault) { r.SetWatcherFault(fault, 1); }

INSTANTIATE_TEST_SUITE_P(
    RealRadios, RifleComesBack,
    ::testing::Values(
        Comeback{"ConnectedByASessionThatCrashed", [](auto &p) { p.connectedAtStart = true; }, nullptr, nullptr,
                 nullptr},
        Comeback{"HeldByAnotherProgram", nullptr, [](R &r, int id) { r.SetOtherHolder(id, true); }, nullptr, nullptr},
        Comeback{"KeptAfterAFailedSubscription",
                 [](auto &p) { p.services[1].characteristics[1].subscribe = Failing(tarvolt::radio::CommunicationStatus::AccessDenied, 1); },
                 nullptr, nullptr, nullptr},
        Comeback{"DroppedWhileAnotherProgramHoldsIt", nullptr, nullptr,
                 [](R &r, int id) {
                     r.SetOtherHolder(id, true);
                     r.Drop(id);
                 },
                 nullptr},
        Comeback{"DroppedWithoutAnEvent", [](auto &p) { p.restoreDelay = std::chrono::hours(1); }, nullptr,
                 [](R &r, int id) { r.DropWithoutEvent(id); }, nullptr},
        Comeback{"ServicesUnreachableThreeTimes", [](auto &p) { p.servicesQuery = Failing(kUnreachable, 3); }, nullptr,
                 nullptr, "Failed to get GATT services."},
        Comeback{"CharacteristicsAndSubscriptionFailingTwice",
                 [](auto &p) {
                     p.services[1].query = Failing(tarvolt::radio::CommunicationStatus::ProtocolError, 2);
                     p.services[1].characteristics[1].subscribe = Failing(kUnreachable, 2);
                 },
                 nullptr, nullptr, "Target characteristic not found."},
        Comeback{"ServiceOnlyInAnUncachedAnswer", [](auto &p) { p.services[1].uncachedOnly = true; }, nullptr, nullptr,
                 nullptr},
        Comeback{"CharacteristicOnlyInAnUncachedAnswer",
                 [](auto &p) { p.services[1].characteristics[1].uncachedOnly = true; }, nullptr, nullptr, nullptr},
        Comeback{"WatcherStartThrows", nullptr, [](R &r, int) { Fault(r, sim::WatcherFault::StartThrows); }, nullptr,
                 nullptr},
        Comeback{"WatcherStaysCreated", nullptr, [](R &r, int) { Fault(r, sim::WatcherFault::StaysCreated); }, nullptr,
                 nullptr},
        Comeback{"WatcherHearsNothing", nullptr, [](R &r, int) { Fault(r, sim::WatcherFault::Silent); }, nullptr,
                 nullptr},
        Comeback{"WatcherEndsWithoutStopped", [](auto &p) { p.advertising = false; },
                 [](R &r, int id) {
                     Fault(r, sim::WatcherFault::EndsWithoutStopped);
                     std::thread([&r, id] {
                         while (r.Stats().scanning == 0)
                             std::this_thread::yield();
                         r.EndScan();
                         r.SetAdvertising(id, true);
                     }).detach();
                 },
                 nullptr, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

// Catches: a wait between retries (a second each, ten in all) that Deactivate cannot cut short:
// SteamVR would stall on quitting (the host's watchdog fails the test after 2 s).
TEST_F(Worker, DeactivationEndsAWaitBetweenRetries)
{
    sim::PeripheralScript script = Rifle();
    script.servicesQuery = {tarvolt::radio::CommunicationStatus::Unreachable, 0, -1};
    radio.AddPeripheral(script);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Retrying the GATT service query.", kLimit));
    host.Deactivate();
    EXPECT_EQ(WorkerLines(host.Recorder()).back(), "Failed to get GATT services.");
}

struct HeldStep {
    sim::Step step;
    const char *name;
    Lines lastLines;  // how the step fails when deactivation cancels it
};

void PrintTo(const HeldStep &held, std::ostream *os) { *os << held.name; }

class WorkerDuringAStep : public Worker, public ::testing::WithParamInterface<HeldStep> {};

// Catches: a Deactivate held up by a platform operation that does not finish (SteamVR would hang
// at shutdown and then end the server; the host's watchdog fails the test after 2 s), a step
// that does not fail through its normal path when it is cut short, and handlers or a scan left
// behind.
TEST_P(WorkerDuringAStep, DeactivationEndsAWaitThatNeverFinishes)
{
    const HeldStep &held = GetParam();
    const int rifle = radio.AddPeripheral(Rifle());
    radio.Hold(rifle, held.step);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    ASSERT_TRUE(radio.WaitUntilHeld(rifle, held.step, kLimit));

    host.Deactivate();
    EXPECT_FALSE(controller->workerThread.joinable());
    const Lines lines = WorkerLines(host.Recorder());
    ASSERT_GE(lines.size(), held.lastLines.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(held.lastLines.size()), lines.end()), held.lastLines);
    const sim::RadioStats stats = radio.Stats();
    EXPECT_EQ(stats.attachedHandlers, 0);
    EXPECT_EQ(stats.scanning, 0);
    radio.Release(rifle, held.step);
}

INSTANTIATE_TEST_SUITE_P(
    EachPlatformWait, WorkerDuringAStep,
    ::testing::Values(
        HeldStep{sim::Step::Connect, "Connect", {"Failed to connect to device: " + kRifleAddressText}},
        HeldStep{sim::Step::Services, "Services", {"Failed to get GATT services."}},
        HeldStep{sim::Step::Characteristics, "Characteristics",
                 {"Failed to get characteristics for service: " + kServiceText, "Target characteristic not found."}},
        HeldStep{sim::Step::Subscribe, "Subscribe",
                 {"Failed to subscribe to notifications for characteristic: " + kCharacteristicText,
                  "Target characteristic not found."}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
