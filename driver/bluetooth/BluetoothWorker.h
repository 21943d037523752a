#pragma once
// The Bluetooth worker: the one thread that scans for the rifle, connects, subscribes to its
// notifications and recovers from a lost link. Started by ControllerDriver::Activate, ended by
// clearing runFlag, raising the stop signal (StopSignal.h), which ends whatever it waits for,
// and joining it.
#include "LinkContext.h"

namespace tarvolt {

// The worker's only pace: every pass begins with this pause (ended early by the stop signal).
inline constexpr int kPollIntervalMs = 500;

// The thread function. Returns once it finds runFlag false before its first pass or at the end
// of a pass; nothing escapes it.
void BluetoothWorkerMain();

// One pass after its sleep: acts on the link state the worker finds.
void WorkerPass(LinkContext &context);

// After every failed connect step and every lost connection: detaches the handlers of the
// device and its characteristics, closes and drops the device, clears the target address, drops
// the characteristic and stores StartScanning.
void ResetLink(LinkContext &context);

// The end of a worker run: keeps every handler away from the context, stops the watcher,
// detaches the handlers and releases the characteristic, the device and the watcher.
void EndWorker(LinkContext &context);

} // namespace tarvolt
