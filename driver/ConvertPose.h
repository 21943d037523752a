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

// How the rifle sits on the controller: a shift along the controller's own axes, then a turn in
// the controller's own frame. The built-in mount (-30 degrees about x, 0.25 m along +z) keeps
// its own arithmetic, so that its poses stay the same to the bit; any other mount takes the
// general path.
struct Mounting {
    bool builtIn = true;
    // Metres along the controller's own x, y and z axes.
    float offset[3] = {0.0f, 0.0f, kMountOffset};
    // The turn as a quaternion (w, x, y, z), applied on the right of the controller's.
    double turn[4] = {kMountCos, -kMountSin, 0.0, 0.0};
};

// The mount for a shift and three angles in degrees. The turn is pitch about the controller's x
// axis, then yaw about the y axis so turned, then roll about the z axis turned twice
// (turn = pitch * yaw * roll). The built-in values give the built-in mount.
Mounting MakeMounting(const float offset[3], double pitchDegrees, double yawDegrees, double rollDegrees);

// A pure function: no state, no locking, no calls into the runtime. The arithmetic is spelled
// out step by step (sums in float, roots and products in double) so that every build gives the
// same bits; the file is compiled without contraction into fused multiply-adds.
vr::DriverPose_t ConvertPose(const vr::TrackedDevicePose_t &in);
vr::DriverPose_t ConvertPose(const vr::TrackedDevicePose_t &in, const Mounting &mounting);

} // namespace tarvolt
