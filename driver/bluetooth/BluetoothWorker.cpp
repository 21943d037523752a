#include "BluetoothWorker.h"

#include "../DriverLog.h"
#include "../DriverState.h"
#include "Connection.h"
#include "Discovery.h"
#include "LinkObserver.h"
#include "StopSignal.h"

namespace tarvolt {

namespace {

// Tells an observer (the probe) of the link state the worker finds, when it has changed.
void ReportState(const LinkContext &context, int32_t &last)
{
    LinkObserver *observer = CurrentLinkObserver();
    if (observer == nullptr)
        return;
    const int32_t state = context.linkState.load();
    if (state == last)
        return;
    last = state;
    observer->StateSeen(static_cast<LinkState>(state), context.targetAddress.load());
}

// Ends the run on every way out of the loop, so that no handler outlives the context.
struct WorkerRun {
    LinkContext context;
    WorkerRun() = default;
    WorkerRun(const WorkerRun &) = delete;
    WorkerRun &operator=(const WorkerRun &) = delete;
    ~WorkerRun() { EndWorker(context); }
};

void RunWorker()
{
    Log("Tarvolt Running");
    // An error the platform raises instead of reporting a status is handled like the reported
    // failure of the same step: a log line, then the link starts over.
    try {
        radio::PlatformRadio().EnterApartment();
    } catch (...) {
        Log("Failed to enter the multithreaded apartment.");
    }
    WorkerRun run;
    try {
        CreateAdvertisementWatcher(run.context);
    } catch (...) {
        Log("Failed to create the advertisement watcher.");
    }
    int32_t seen = -1;
    while (runFlag.load(std::memory_order_acquire)) {
        // Deactivation ends the pause at once; the pass it would have begun is not made.
        if (radio::WorkerStop().WaitFor(kPollIntervalMs))
            break;
        try {
            // States a handler stored since the last pass (TargetFound, ConnectionLost) show
            // here, before the pass acts on them.
            ReportState(run.context, seen);
            WorkerPass(run.context);
            ReportState(run.context, seen);
        } catch (...) {
            // Only a failing log call or allocation gets here; start over rather than stop.
            ResetLink(run.context);
        }
    }
}

} // namespace

void BluetoothWorkerMain()
{
    try {
        RunWorker();
    } catch (...) {
        // A thread function that throws ends the runtime's process.
    }
}

void WorkerPass(LinkContext &context)
{
    switch (context.linkState.load()) {
    case StartScanning:
        try {
            StartAdvertisementWatcher(context);
        } catch (const radio::PlatformError &) {
            // Without an adapter this fails every pass, for as long as SteamVR runs.
            context.scanStarts.Log("Failed to start the advertisement watcher.");
            ResetLink(context);
        }
        break;
    case TargetFound:
        ConnectStep(context);
        break;
    case ConnectionLost:
        Log("Device connection lost.");
        ResetLink(context);
        break;
    case Scanning:
    case Connected:
    default:
        break;
    }
}

void ResetLink(LinkContext &context)
{
    // The link lets the device go: its handlers and its characteristics' go first, so that
    // nothing it reports from now on (its own Close included) reaches the link.
    DetachConnectionHandlers(context);
    if (context.device) {
        try {
            context.device->Close();
        } catch (...) {
            // The reference goes all the same; the link must start over.
        }
        context.device.reset();
    }
    context.targetAddress.store(0);
    context.characteristic.reset();
    context.linkState.store(StartScanning);
}

void EndWorker(LinkContext &context)
{
    context.gate->Close();
    if (context.watcher) {
        try {
            context.watcher->Stop();
        } catch (...) {
        }
    }
    DetachHandlers(context);
    context.characteristic.reset();
    context.device.reset();
    context.watcher.reset();
}

} // namespace tarvolt
