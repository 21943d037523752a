#pragma once
// The state the Bluetooth worker shares with the platform's event handlers. One per run of the
// worker; the handlers run on platform threads at any time, so everything they touch is atomic,
// and they reach the context only through a HandlerGate that the worker closes before the
// context ends.
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
    std::shared_ptr<radio::Watcher> watcher;
    std::shared_ptr<radio::Device> device;
    std::shared_ptr<radio::Characteristic> characteristic;

    // Shared with every handler registered for this context, so that it outlives late calls.
    std::shared_ptr<HandlerGate> gate = std::make_shared<HandlerGate>();
    // How to take each registered handler off its platform object again. The watcher's handlers
    // stay until the worker ends. Those of the device and of every characteristic subscribed on
    // it go as soon as the link lets the device go, so that a link that drops all evening does
    // not collect them; each holds its object, since the link names only the last characteristic.
    std::vector<std::function<void()>> watcherDetachers;
    std::vector<std::function<void()>> connectionDetachers;

    // Lines that repeat for as long as nothing changes, kept from flooding the log: every named
    // device nearby, advertising several times a second, once per scan (each scan starts
    // afresh); and a start of the scan that fails pass after pass (until one succeeds).
    RepeatLimiter foundDevices;
    RepeatLimiter scanStarts;
};

// Detaches the handlers of the device and its characteristics, or every handler of this
// context; platform errors are ignored, since the gate keeps a handler that stays attached
// from reaching the context.
void DetachConnectionHandlers(LinkContext &context);
void DetachHandlers(LinkContext &context);

// Turns whatever escapes a handler into its result code to the platform.
radio::ResultCode ResultOfCurrentException();

} // namespace tarvolt
