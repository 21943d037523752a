#include "BluetoothWorker.h"

#include "../DriverLog.h"
#include "../DriverState.h"
#include "Connection.h"
#include "Discovery.h"
#include "LinkObserver.h"
#include "LinkSearch.h"
#include "LinkTeardown.h"
#include "StopSignal.h"

#include <algorithm>

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

namespace {

// The start step, unless a connected rifle makes the scan needless. A start that fails (the
// adapter off, the watcher refusing) is tried again after 1, 2, 4, then every 8 seconds.
void StartScan(LinkContext &context)
{
    if (context.passesUntilScanStart > 0) {
        --context.passesUntilScanStart;
        return;
    }
    if (FindWithoutAdvertisement(context))
        return;
    const char *failure = nullptr;
    try {
        if (!StartAdvertisementWatcher(context))
            failure = "The advertisement watcher did not start.";
    } catch (const radio::PlatformError &) {
        failure = "Failed to start the advertisement watcher.";
    }
    if (failure == nullptr) {
        context.failedScanStarts = 0;
        return;
    }
    // Without an adapter this fails for as long as SteamVR runs.
    context.scanStarts.Log(failure);
    context.failedScanStarts = std::min(context.failedScanStarts + 1, kScanStartBackOffSteps);
    context.passesUntilScanStart = (1 << context.failedScanStarts) - 1;
}

} // namespace

void WorkerPass(LinkContext &context)
{
    switch (context.linkState.load()) {
    case StartScanning:
        StartScan(context);
        break;
    case Scanning:
        WatchScan(context);
        break;
    case TargetFound:
        ConnectStep(context);
        break;
    case ConnectionLost:
        Log("Device connection lost.");
        // The system may restore the link while the link searches.
        AwaitRestore(context);
        context.targetAddress.store(0);
        context.linkState.store(StartScanning);
        break;
    case Connected:
        PollConnectionStatus(context);
        break;
    default:
        break;
    }
}

void ResetLink(LinkContext &context)
{
    ReleaseConnection(context);
    context.foundDevice.reset();
    context.targetAddress.store(0);
    context.linkState.store(StartScanning);
}

void EndWorker(LinkContext &context)
{
    context.gate->Close();
    RetireWatcher(context);
    ReleaseConnection(context);
    DetachHandlers(context);
    context.foundDevice.reset();
}

} // namespace tarvolt
