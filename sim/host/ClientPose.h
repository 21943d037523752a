#pragma once
// A driver's pose as the runtime hands it to client programs: the device-to-world matrix that
// combines the driver's world-from-driver transform, the pose itself and its driver-from-head
// transform, with the velocities turned into world axes.
#include <openvr_driver.h>

namespace sim {

vr::TrackedDevicePose_t ClientPoseOf(const vr::DriverPose_t &pose);

} // namespace sim
