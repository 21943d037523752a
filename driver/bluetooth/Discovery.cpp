#include "Discovery.h"

#include "../DriverLog.h"
#include "LinkText.h"

#include <string>

namespace tarvolt {

void RetireWatcher(LinkContext &context)
{
    // Its handlers may still be called once; they see another generation from now on.
    context.watcherGeneration.fetch_add(1);
    DetachAll(context.watcherDetachers);
    if (context.watcher) {
        try {
            context.watcher->Stop();
        } catch (...) {
        }
    }
    context.watcher.reset();
    context.watcherFresh = false;
}

void CreateAdvertisementWatcher(LinkContext &context)
{
    RetireWatcher(context);
    const uint32_t generation = context.watcherGeneration.load();
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
        const radio::EventToken received = watcher->AddReceived(
            [gate, link, generation](radio::Watcher &sender, radio::AdvertisementReceivedArgs &args) {
                GatePass pass(*gate);
                const bool current = pass.Entered() && link->watcherGeneration.load() == generation;
                return current ? OnAdvertisementReceived(*link, sender, args) : radio::kOk;
            });
        context.watcherDetachers.push_back([weak, received] {
            if (auto w = weak.lock())
                w->RemoveReceived(received);
        });
        const radio::EventToken stopped = watcher->AddStopped([gate, link, generation](radio::Watcher &sender) {
            GatePass pass(*gate);
            const bool current = pass.Entered() && link->watcherGeneration.load() == generation;
            return current ? OnWatcherStopped(*link, sender) : radio::kOk;
        });
        context.watcherDetachers.push_back([weak, stopped] {
            if (auto w = weak.lock())
                w->RemoveStopped(stopped);
        });
        context.watcherFresh = true;
    } catch (...) {
        // A watcher that never starts raises no events; the start step reports the missing one.
        context.watcher.reset();
        throw;
    }
}

bool StartAdvertisementWatcher(LinkContext &context)
{
    static const char kStarting[] = "Starting the advertisement watcher.";
    context.foundDevices.Reset();
    // Stops asked for before this start have had their events, or never will have one (a stop
    // of a watcher that had already stopped raises none).
    context.stopsRequested.store(0);
    context.scanEndedByPlatform.store(false);
    const bool announced = context.scanStarts.Log(kStarting);
    // Every scan has a new watcher (the first uses the one made when the worker started).
    if (!context.watcherFresh)
        CreateAdvertisementWatcher(context);
    if (!context.watcher)
        throw radio::PlatformError(radio::kFail);
    context.watcherFresh = false;
    context.lastHeard.store(0);
    context.scanStartedAt = PlatformClock().Now();
    context.watcher->Start();
    // Start may return without starting anything (the radio off): only the status tells. A
    // scan that has already found the rifle may be stopping by now, at the link's request.
    const radio::WatcherStatus status = context.watcher->Status();
    const bool stoppedByLink = context.stopsRequested.load() > 0 || context.linkState.load() == TargetFound;
    if (status == radio::WatcherStatus::Created || status == radio::WatcherStatus::Aborted ||
        (status != radio::WatcherStatus::Started && !stoppedByLink))
        return false;
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
    return true;
}

radio::ResultCode OnAdvertisementReceived(LinkContext &context, radio::Watcher &sender,
                                          radio::AdvertisementReceivedArgs &args)
{
    try {
        // Any advertisement at all shows that the scan hears.
        context.lastHeard.store(PlatformClock().Now().time_since_epoch().count());
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
            sender.Stop();
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
