#pragma once
// The simulated runtime's tracking spaces. A driver publishes its poses in the runtime's raw
// tracking space; applications see every device in the standing space that the room setup
// defines, and the two differ by the room setup's transform (OpenVR driver documentation:
// DriverPose_t is in the driver's raw space; IVRSystem::GetRawZeroPoseToStandingAbsoluteTrackingPose).
// The simulation keeps one room setup that turns and shifts raw space, as a real one does on a
// base-station setup, so that a pose taken or published in the wrong space lands in the wrong
// place. Header only, and free of either OpenVR header, so that the host (driver header), the
// client library stand-in (client header), the demo and the tests share one definition.
#include <cmath>
#include <initializer_list>

namespace sim {

// A rigid transform: x' = r x + t.
struct RigidTransform {
    double r[3][3];
    double t[3];
};

inline RigidTransform Compose(const RigidTransform &a, const RigidTransform &b)  // a after b
{
    RigidTransform out{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                out.r[i][j] += a.r[i][k] * b.r[k][j];
        out.t[i] = a.t[i];
        for (int k = 0; k < 3; ++k)
            out.t[i] += a.r[i][k] * b.t[k];
    }
    return out;
}

inline RigidTransform Inverse(const RigidTransform &a)
{
    RigidTransform out{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out.r[i][j] = a.r[j][i];
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            out.t[i] -= out.r[i][k] * a.t[k];
    return out;
}

inline RigidTransform TurnAboutVertical(double degrees, double x, double y, double z)
{
    const double a = degrees * 3.14159265358979323846 / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    return RigidTransform{{{c, 0.0, s}, {0.0, 1.0, 0.0}, {-s, 0.0, c}}, {x, y, z}};
}

// The simulated room setup: standing space is raw space turned by 120 degrees about the
// vertical and shifted 1.5 m and 2.25 m across the floor and 0.1 m down.
inline RigidTransform RoomSetupStandingFromRaw() { return TurnAboutVertical(120.0, 1.5, -0.1, 2.25); }

// The seated zero pose in standing space: seated space has its origin where a seated user's
// head is, 1.1 m up and 0.3 m back.
inline RigidTransform SeatedZeroInStanding() { return TurnAboutVertical(0.0, 0.0, 1.1, 0.3); }

// A tracked-device pose record (vr::TrackedDevicePose_t of either header) moved into another
// space: its matrix taken through t, its velocities turned with it; flags, result and padding
// stay as they are.
template <class Pose>
void TransformPose(const RigidTransform &t, Pose &pose)
{
    float(*m)[4] = pose.mDeviceToAbsoluteTracking.m;
    double out[3][4];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            double v = j == 3 ? t.t[i] : 0.0;
            for (int k = 0; k < 3; ++k)
                v += t.r[i][k] * m[k][j];
            out[i][j] = v;
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = static_cast<float>(out[i][j]);
    for (float *v : {pose.vVelocity.v, pose.vAngularVelocity.v}) {
        const double in[3] = {v[0], v[1], v[2]};
        for (int i = 0; i < 3; ++i)
            v[i] = static_cast<float>(t.r[i][0] * in[0] + t.r[i][1] * in[1] + t.r[i][2] * in[2]);
    }
}

// Where applications see a device whose driver published `pose` (vr::DriverPose_t): the pose
// taken through the driver's world-from-driver transform into raw space, then through the room
// setup into standing space. Row-major 3x4: rotation, then the position in column 3.
template <class DriverPose>
void StandingPoseOf(const DriverPose &pose, const RigidTransform &standingFromRaw, double out[3][4])
{
    const auto matrix = [](double w, double x, double y, double z, const double p[3]) {
        return RigidTransform{{{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                               {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                               {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}},
                              {p[0], p[1], p[2]}};
    };
    const RigidTransform worldFromDriver =
        matrix(pose.qWorldFromDriverRotation.w, pose.qWorldFromDriverRotation.x, pose.qWorldFromDriverRotation.y,
               pose.qWorldFromDriverRotation.z, pose.vecWorldFromDriverTranslation);
    const RigidTransform device =
        matrix(pose.qRotation.w, pose.qRotation.x, pose.qRotation.y, pose.qRotation.z, pose.vecPosition);
    const RigidTransform standing = Compose(standingFromRaw, Compose(worldFromDriver, device));
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            out[i][j] = standing.r[i][j];
        out[i][3] = standing.t[i];
    }
}

} // namespace sim
