#pragma once
// The demo's right-hand controller, which moves on a slow circle in front of the user, and the
// poses reduced to what the status view shows.
#include "StatusView.h"

#include <openvr_driver.h>

#include <cstdint>

namespace demo {

inline constexpr double kFrameRate = 90.0;

// The controller at a frame: it circles 0.25 m around (0.2, 1.1, -0.4) once every 12 seconds,
// turning once round with it and tilted 15 degrees down.
vr::TrackedDevicePose_t ControllerPoseAt(uint64_t frame);

PoseSummary Summarise(const vr::TrackedDevicePose_t &pose);
PoseSummary Summarise(const vr::DriverPose_t &pose);

} // namespace demo
