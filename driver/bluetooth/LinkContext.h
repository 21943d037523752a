#pragma once
// The state the Bluetooth worker shares with the platform's event handlers. One per run of the
// worker; the handlers run on platform threads at any time, so everything they touch is atomic,
// and they reach the context only through a HandlerGate that the worker closes before the
// context ends.
#include "../Clock.h"
#include "../RepeatLimiter.h"
#include "Radio.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tarvolt {

enum LinkState : int32_t {
    StartScanning = 0,   // the scan is to be (re)started
    Scanning = 1,        // the watcher runs; waiting for the rifle
    TargetFound = 2,     // the target address is set; the worker is to connect
    ConnectionLost = 3,  // the platform reported the connected device as disconnected
    Connected = 4,       // connected and subscribed to notifications
};

// Lets handler invocations into the link context until the worker closes it; Close waits for
// the invocations already inside. The platform may still call a handler after it was detached
// (an event already on its way), which then finds the gate closed and touches nothing.
class HandlerGate {
public:
    // True when the caller may go on; pair every successful Enter with Leave.
    bool Enter();
    void Leave();
    void Close();

private:
    std::atomic<int32_t> inside_{0};
    std::atomic<bool> closed_{false};
};

// Enter/Leave as a scope.
class GatePass {
public:
    explicit GatePass(HandlerGate &gate) : gate_(gate), entered_(gate.Enter()) {}
    ~GatePass()
    {
        if (entered_)
            gate_.Leave();
    }
    GatePass(const GatePass &) = delete;
    GatePass &operator=(const GatePass &) = delete;
    bool Entered() const { return entered_; }

private:
    HandlerGate &gate_;
    bool entered_;
};

struct LinkContext {
    // Written by the advertisement handler before it stores TargetFound, and by ResetLink.
    std::atomic<uint64_t> targetAddress{0};
    std::atomic<int32_t> linkState{StartScanning};
    // Disconnections reported so far, counted before each store of ConnectionLost, so that the
    // end of a connect step can tell whether one came after it read the device's status.
    std::atomic<uint32_t> disconnectionReports{0};
    // Stops of the scan that the link asked for since the scan last started and whose Stopped
    // event has not come yet: any other Stopped event means the platform ended the scan itself.
    std::atomic<int32_t> stopsRequested{0};
    // Set by a Stopped event the link did not ask for; cleared by each start of the scan, which
    // looks at it again once it has stored Scanning (the event may come in between).
    std::atomic<bool> scanEndedByPlatform{false};
    // Each scan has a watcher of its own (a watcher can fall silent or end unannounced); the
    // handlers of an earlier one, still called once after they were detached, see another
    // generation and do nothing. The advertisement handler also notes when the scan last heard
    // anything, in ticks of PlatformClock (0: nothing yet).
    std::atomic<uint32_t> watcherGeneration{0};
    std::atomic<int64_t> lastHeard{0};
    std::shared_ptr<radio::Watcher> watcher;
    std::shared_ptr<radio::Device> device;
    std::shared_ptr<radio::Characteristic> characteristic;

    // The rest belongs to the worker alone.
    bool watcherFresh = false;  // created and not yet started: the next scan may use it
    // A connected rifle found without an advertisement, for the connect step to use as it is.
    std::shared_ptr<radio::Device> foundDevice;
    // The rifle's address, once the link has been connected to it in this run.
    uint64_t knownAddress = 0;
    // For the GATT steps of the current connect step, which are not retried on a link that went
    // down meanwhile: the disconnections reported before the step began, and whether its device
    // has been connected during it (one reading disconnected before that is still connecting).
    uint32_t reportsBeforeStep = 0;
    bool linkSeenUp = false;
    // What the link holds of a connection, each let go once (LinkTeardown.h): the target
    // services examined and the characteristics with notifications on; whether the device was
    // asked to keep its link; and, after a drop, until when the device is kept for the system to
    // restore its link (restoring) while the link searches.
    std::vector<std::shared_ptr<radio::Service>> services;
    std::vector<std::shared_ptr<radio::Characteristic>> subscribed;
    bool maintained = false;
    bool restoring = false;
    Clock::TimePoint restoreUntil{};
    // Timers of the worker's passes, on PlatformClock.
    Clock::TimePoint scanStartedAt{};
    Clock::TimePoint nextConnectedCheck{};
    Clock::TimePoint nextStatusPoll{};
    int failedScanStarts = 0;       // in a row
    int passesUntilScanStart = 0;   // the back-off after a failed start

    // Shared with every handler registered for this context, so that it outlives late calls.
    std::shared_ptr<HandlerGate> gate = std::make_shared<HandlerGate>();
    // How to take each registered handler off its platform object again: those of the current
    // watcher, of the device, and of every characteristic subscribed on it. The device's and the
    // characteristics' go as soon as the link lets them go, so that a link that drops all evening
    // does not collect them; each holds its object, since the link names only the last characteristic.
    std::vector<std::function<void()>> watcherDetachers;
    std::vector<std::function<void()>> deviceDetachers;
    std::vector<std::function<void()>> characteristicDetachers;

    // Lines that repeat for as long as nothing changes, kept from flooding the log: every named
    // device nearby, advertising several times a second, once per scan (each scan starts
    // afresh); a start of the scan that fails pass after pass (until one succeeds); a scan that
    // hears nothing all evening; retried GATT steps; and a failing list of connected devices.
    RepeatLimiter foundDevices;
    RepeatLimiter scanStarts;
    RepeatLimiter silentScans;
    RepeatLimiter stepRetries;
    RepeatLimiter connectedLists;
};

// Detach the handlers of one kind, or every handler of this context; platform errors are
// ignored, since the gate keeps a handler that stays attached from reaching the context.
void DetachAll(std::vector<std::function<void()>> &detachers);
void DetachHandlers(LinkContext &context);

// Turns whatever escapes a handler into its result code to the platform.
radio::ResultCode ResultOfCurrentException();

} // namespace tarvolt
