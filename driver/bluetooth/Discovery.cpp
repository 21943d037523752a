#include "Discovery.h"

#include "../DriverLog.h"
#include "LinkText.h"

#include <string>

namespace tarvolt {

void CreateAdvertisementWatcher(LinkContext &context)
{
    try {
        context.watcher = radio::PlatformRadio().CreateWatcher();
        if (!context.watcher)
            throw radio::PlatformError(radio::kFail);
        const std::shared_ptr<radio::Watcher> watcher = context.watcher;
        watcher->SetScanningMode(radio::ScanningMode::Active);

        // The handlers hold the gate, not the context: the gate outlives the context and keeps a
        // late invocation away from it.
        LinkContext *const link = &context;
        const std::shared_ptr<HandlerGate> gate = context.gate;
        const std::weak_ptr<radio::Watcher> weak = watcher;
        const radio::EventToken received =
            watcher->AddReceived([gate, link](radio::Watcher &sender, radio::AdvertisementReceivedArgs &args) {
                GatePass pass(*gate);
                return pass.Entered() ? OnAdvertisementReceived(*link, sender, args) : radio::kOk;
            });
        context.watcherDetachers.push_back([weak, received] {
            if (auto w = weak.lock())
                w->RemoveReceived(received);
        });
        const radio::EventToken stopped = watcher->AddStopped([gate, link](radio::Watcher &sender) {
            GatePass pass(*gate);
            return pass.Entered() ? OnWatcherStopped(*link, sender) : radio::kOk;
        });
        context.watcherDetachers.push_back([weak, stopped] {
            if (auto w = weak.lock())
                w->RemoveStopped(stopped);
        });
    } catch (...) {
        // A watcher that never starts raises no events; the start step reports the missing one.
        context.watcher.reset();
        throw;
    }
}

void StartAdvertisementWatcher(LinkContext &context)
{
    static const char kStarting[] = "Starting the advertisement watcher.";
    context.foundDevices.Reset();
    // Stops asked for before this start have had their events, or never will have one (a stop
    // of a watcher that had already stopped raises none).
    context.stopsRequested.store(0);
    context.scanEndedByPlatform.store(false);
    const bool announced = context.scanStarts.Log(kStarting);
    if (!context.watcher)
        throw radio::PlatformError(radio::kFail);
    context.watcher->Start();
    // A run of failed starts has ended: this start is news even if it looked like one more.
    if (!announced)
        Log(kStarting);
    context.scanStarts.Reset();
    // Only from StartScanning: the rifle's advertisement may arrive as soon as the scan runs,
    // and a plain store would overwrite its TargetFound with Scanning after the handler had
    // already stopped the scan, leaving the link waiting for ever.
    int32_t expected = StartScanning;
    context.linkState.compare_exchange_strong(expected, Scanning);
    // A scan the platform ended as soon as it began: the handler found StartScanning, not
    // Scanning, and left the state to this step.
    if (context.scanEndedByPlatform.load()) {
        expected = Scanning;
        context.linkState.compare_exchange_strong(expected, StartScanning);
    }
}

radio::ResultCode OnAdvertisementReceived(LinkContext &context, radio::Watcher & /*sender*/,
                                          radio::AdvertisementReceivedArgs &args)
{
    try {
        const std::u16string name = args.LocalName();
        if (name.empty())
            return radio::kOk;
        context.foundDevices.Log("Found device: " + Utf16ToUtf8(name) + " (Address: " +
                                 std::to_string(args.BluetoothAddress()) + ")");
        if (name != kTargetName)
            return radio::kOk;
        Log("Target device found.");
        // The address before the state: the worker reads the address only after it has seen
        // TargetFound (sequentially consistent stores and loads).
        context.targetAddress.store(args.BluetoothAddress());
        // Counted before the call: the Stopped event may come on another thread before Stop
        // returns, and must not be taken for the platform ending the scan.
        context.stopsRequested.fetch_add(1);
        try {
            context.watcher->Stop();
        } catch (...) {
            context.stopsRequested.fetch_sub(1);
            throw;
        }
        context.linkState.store(TargetFound);
        return radio::kOk;
    } catch (...) {
        return ResultOfCurrentException();
    }
}

radio::ResultCode OnWatcherStopped(LinkContext &context, radio::Watcher & /*sender*/)
{
    try {
        bool requested = false;
        int32_t pending = context.stopsRequested.load();
        while (pending > 0 && !requested)
            requested = context.stopsRequested.compare_exchange_weak(pending, pending - 1);
        if (!requested) {
            // Only from Scanning: a link that found the rifle, or lost it and starts over anyway,
            // keeps its state. Changed before the line, which then tells that it has happened.
            context.scanEndedByPlatform.store(true);
            int32_t expected = Scanning;
            context.linkState.compare_exchange_strong(expected, StartScanning);
        }
        Log("Watcher stopped.");
        return radio::kOk;
    } catch (...) {
        return ResultOfCurrentException();
    }
}

} // namespace tarvolt
