// The worker as the device runs it: started by Activate, paced by its poll, ended by
// Deactivate. Real time, so kept to a few runs; every wait is on a logged line or radio event.
#include "ControllerDriver.h"
#include "DriverState.h"
#include "LinkTestSupport.h"

#include <functional>
#include <optional>
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

// Catches: a worker that does not scan, connect and subscribe on its own, that does not come back
// after a lost link, that leaves a scan or handlers behind, or that, activated again within one
// load of the library (the runtime restarting its devices), finds its run flag still cleared and
// ends without scanning. The lines of the way there are checked by the link's tests.
TEST_F(Worker, ConnectsReconnectsAfterADropAndAfterReactivationAndLeavesNothingBehind)
{
    sim::PeripheralScript script = Rifle();
    script.restoreDelay = std::chrono::hours(1);  // found again by its advertisement
    script.closeHold = std::chrono::milliseconds(0);  // the link goes with the device at the end of a run
    const int rifle = radio.AddPeripheral(script);
    for (size_t run = 1; run <= 2; ++run) {
        tarvolt::fire.store(false);
        ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
        ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit, 2 * run - 1));
        EXPECT_EQ(host.Recorder().CountLog("Tarvolt Running"), run);
        radio.Drop(rifle);
        ASSERT_TRUE(host.Recorder().WaitForLog("Device successfully connected.", kLimit, 2 * run));
        EXPECT_EQ(host.Recorder().CountLog("Device connection lost."), run);
        radio.Notify(rifle, {0x5B, 0, 0, 0, 0, 0x5D});
        ASSERT_TRUE(host.Recorder().WaitForLog("Received data: 91 0 0 0 0 93 END", kLimit, run));
        EXPECT_TRUE(tarvolt::fire.load());
        controller->Deactivate();
        const sim::RadioStats stats = radio.Stats();
        EXPECT_EQ(stats.watchersCreated, static_cast<int>(2 * run));  // one per scan
        EXPECT_EQ(stats.scanning, 0);
        EXPECT_EQ(stats.attachedHandlers, 0);
        EXPECT_TRUE(stats.handlerFailures.empty());
    }
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

// Catches, per case: a rifle that another program keeps connected (so silent) never found because
// the link waits for an advertisement; a first step that fails once and resets the link instead
// of being retried; a service or characteristic missing from the cached answer and never asked
// for uncached; a watcher that hears nothing or ends unannounced, waited on for ever; a drop
// whose event never came; and after all that, no press delivered.
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
        Comeback{"HeldByAnotherProgram", nullptr, [](R &r, int id) { r.SetOtherHolder(id, true); }, nullptr, nullptr},
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

// Each wait of the worker's: a platform operation that never finishes, or (no step) the pause
// between retries of a services query that keeps failing.
struct HeldStep {
    std::optional<sim::Step> step;
    const char *name;
    Lines lastLines;  // how the step fails when deactivation cancels it
};

void PrintTo(const HeldStep &held, std::ostream *os) { *os << held.name; }

class WorkerDuringAStep : public Worker, public ::testing::WithParamInterface<HeldStep> {};

// Catches: a Deactivate held up by a platform operation that does not finish or by a wait between
// retries (SteamVR would hang at shutdown and then end the server; the host's watchdog fails the
// test after 2 s), a step that does not fail through its normal path when it is cut short, and
// handlers or a scan left behind.
TEST_P(WorkerDuringAStep, DeactivationEndsAWaitThatNeverFinishes)
{
    const HeldStep &held = GetParam();
    sim::PeripheralScript script = Rifle();
    if (!held.step)
        script.servicesQuery = {tarvolt::radio::CommunicationStatus::Unreachable, 0, -1};
    const int rifle = radio.AddPeripheral(script);
    if (held.step)
        radio.Hold(rifle, *held.step);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    if (held.step)
        ASSERT_TRUE(radio.WaitUntilHeld(rifle, *held.step, kLimit));
    else
        ASSERT_TRUE(host.Recorder().WaitForLog("Retrying the GATT service query.", kLimit));

    host.Deactivate();
    EXPECT_FALSE(controller->workerThread.joinable());
    const Lines lines = WorkerLines(host.Recorder());
    ASSERT_GE(lines.size(), held.lastLines.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(held.lastLines.size()), lines.end()), held.lastLines);
    const sim::RadioStats stats = radio.Stats();
    EXPECT_EQ(stats.attachedHandlers, 0);
    EXPECT_EQ(stats.scanning, 0);
    if (held.step)
        radio.Release(rifle, *held.step);
}

INSTANTIATE_TEST_SUITE_P(
    EachPlatformWait, WorkerDuringAStep,
    ::testing::Values(
        HeldStep{std::nullopt, "PauseBetweenRetries", {"Failed to get GATT services."}},
        HeldStep{sim::Step::Connect, "Connect", {"Failed to connect to device: " + kRifleAddressText}},
        HeldStep{sim::Step::Services, "Services", {"Failed to get GATT services."}},
        HeldStep{sim::Step::Characteristics, "Characteristics",
                 {"Failed to get characteristics for service: " + kServiceText, "Target characteristic not found."}},
        HeldStep{sim::Step::Subscribe, "Subscribe",
                 {"Failed to subscribe to notifications for characteristic: " + kCharacteristicText,
                  "Target characteristic not found."}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
