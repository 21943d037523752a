#pragma once
// Turns the borrowed controller's pose, as the relay program copies it into the shared pose
// block, into the pose of the rifle: matrix to quaternion, single to double precision, and the
// fixed mounting offset between the controller and the rifle.
#include <openvr_driver.h>

namespace tarvolt {

// The rifle's frame is the controller's own frame turned by -30 degrees about its x axis; the
// quaternion (cos 15, -sin 15, 0, 0) of that turn, applied on the right.
inline constexpr double kMountCos = 0.9659258262890683;
inline constexpr double kMountSin = 0.25881904510252074;
// The rifle's reference point lies this far along the controller's own +z axis, in metres.
inline constexpr float kMountOffset = 0.25f;

// A pure function: no state, no locking, no calls into the runtime. The arithmetic is spelled
// out step by step (sums in float, roots and products in double) so that every build gives the
// same bits; the file is compiled without contraction into fused multiply-adds.
vr::DriverPose_t ConvertPose(const vr::TrackedDevicePose_t &in);

} // namespace tarvolt
