#pragma once
// What the runtime takes as a pose: the checks the simulated server applies to every pose a driver
// publishes, so that a malformed one fails the test that caused it.
#include <openvr_driver.h>

#include <string>

namespace sim {

// How far a quaternion's length may be from 1 (float rotations converted to double come within
// about 1e-7 of it).
inline constexpr double kUnitQuaternionTolerance = 1e-6;

// What is wrong with the pose, or "" when nothing is: a tracking result outside
// vr::ETrackingResult, a number that is not finite, or a rotation that is not a unit quaternion.
std::string PoseRuleBroken(const vr::DriverPose_t &pose);

} // namespace sim
