#pragma once
// Library-wide state of the driver: one copy per loaded library, shared by the runtime's threads,
// the Bluetooth worker and the platform's event handlers. Everything here is static storage that
// is valid before any code of the library has run.
#include "PoseLock.h"

#include <atomic>

namespace tarvolt {

// True from load on; ControllerDriver::Deactivate clears it, and Activate sets it again before it
// starts a new worker, so that a device activated again gets a worker that scans. The Bluetooth
// worker reads it before its first pass and at the end of every pass.
extern std::atomic<bool> runFlag;

// Input event flags, one per button. The notification handler only ever stores true; the frame
// update only ever exchanges them back to false. A flag holds no count: events that arrive while
// it is set merge into one.
extern std::atomic<bool> fire;
extern std::atomic<bool> eject_mag;
extern std::atomic<bool> load_mag;
extern std::atomic<bool> load_bullet;
extern std::atomic<bool> unload_bullet;

static_assert(sizeof(std::atomic<bool>) == 1, "input event flags are one byte each");

struct SharedPose;

// The shared pose block of this driver process, whichever device activated it: the section's
// handle and the mapped view. Both are null while no block is mapped (before activation, after a
// failed mapping, after deactivation); the frame update publishes no pose then.
extern PoseBlockHandle poseBlockMapping;
extern SharedPose *poseBlockView;

} // namespace tarvolt
