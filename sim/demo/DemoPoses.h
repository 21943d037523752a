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
// The left-hand controller, which stays where the right one starts, 0.3 m to its left.
vr::TrackedDevicePose_t LeftControllerPose();

// Whether the rifle, as applications see it (its published pose in standing space, where the
// controller's poses are given), is where the controller was at `frame` or one of the 900
// frames before it, moved 0.25 m along the controller's own z axis (vistrel copies whichever
// pose the server last published, so the rifle may lag the controller by a few frames).
bool RifleFollowsController(const double standing[3][4], uint64_t frame);
// The same for the left-hand controller, which does not move.
bool RifleFollowsLeftController(const double standing[3][4]);

PoseSummary Summarise(const vr::TrackedDevicePose_t &pose);
PoseSummary Summarise(const double pose[3][4]);  // row-major 3x4: rotation, then position

} // namespace demo
