#pragma once
// The Bluetooth worker: the one thread that scans for the rifle, connects, subscribes to its
// notifications and recovers from a lost link. Started by ControllerDriver::Activate, ended by
// clearing runFlag, raising the stop signal (StopSignal.h), which ends whatever it waits for,
// and joining it.
#include "LinkContext.h"

namespace tarvolt {

// The worker's pace: every pass begins with this pause (ended early by the stop signal).
inline constexpr int kPollIntervalMs = 500;
// A failed start of the scan waits 2^n - 1 passes before the next, n up to this.
inline constexpr int kScanStartBackOffSteps = 4;

// The thread function. Returns once it finds runFlag false before its first pass or at the end
// of a pass; nothing escapes it.
void BluetoothWorkerMain();

// One pass after its sleep: acts on the link state the worker finds.
void WorkerPass(LinkContext &context);

// After every failed connect step: lets the connection go (LinkTeardown.h), clears the target
// address and stores StartScanning. A lost connection does the same, but keeps the device a
// while for the system to restore its link.
void ResetLink(LinkContext &context);

// The end of a worker run: keeps every handler away from the context, stops and lets go of the
// watcher, lets the connection go and detaches whatever handler is left.
void EndWorker(LinkContext &context);

} // namespace tarvolt
