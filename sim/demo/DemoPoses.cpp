#include "DemoPoses.h"

#include <cmath>

namespace demo {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kCircleSeconds = 12.0;
constexpr double kRadius = 0.25;
constexpr double kCentre[3] = {0.2, 1.1, -0.4};
constexpr double kTilt = -15.0 * kPi / 180.0;
} // namespace

vr::TrackedDevicePose_t ControllerPoseAt(uint64_t frame)
{
    const double angle = 2.0 * kPi * static_cast<double>(frame) / (kCircleSeconds * kFrameRate);
    // Rotation: yaw about +y (heading along the circle), then the tilt about the own x axis.
    const double yaw = -angle;
    const double cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(kTilt), sp = std::sin(kTilt);
    const double r[3][3] = {
        {cy, sy * sp, sy * cp},
        {0.0, cp, -sp},
        {-sy, cy * sp, cy * cp},
    };
    vr::TrackedDevicePose_t pose{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            pose.mDeviceToAbsoluteTracking.m[i][j] = static_cast<float>(r[i][j]);
    pose.mDeviceToAbsoluteTracking.m[0][3] = static_cast<float>(kCentre[0] + kRadius * std::cos(angle));
    pose.mDeviceToAbsoluteTracking.m[1][3] = static_cast<float>(kCentre[1]);
    pose.mDeviceToAbsoluteTracking.m[2][3] = static_cast<float>(kCentre[2] + kRadius * std::sin(angle));
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = true;
    pose.bDeviceIsConnected = true;
    return pose;
}

namespace {
// Whether the rifle's position is the controller's moved 0.25 m along the controller's own z axis.
bool OnController(const double standing[3][4], const vr::TrackedDevicePose_t &c)
{
    const float(*m)[4] = c.mDeviceToAbsoluteTracking.m;
    double distance2 = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = standing[i][3] - (m[i][3] + 0.25 * m[i][2]);
        distance2 += d * d;
    }
    return distance2 < 1e-6;
}
} // namespace

vr::TrackedDevicePose_t LeftControllerPose()
{
    vr::TrackedDevicePose_t left = ControllerPoseAt(0);
    left.mDeviceToAbsoluteTracking.m[0][3] = -0.3f;
    return left;
}

bool RifleFollowsController(const double standing[3][4], uint64_t frame)
{
    constexpr uint64_t kLookBack = 900;
    for (uint64_t f = frame;; --f) {
        if (OnController(standing, ControllerPoseAt(f)))
            return true;
        if (f == 0 || f + kLookBack <= frame)
            return false;
    }
}

bool RifleFollowsLeftController(const double standing[3][4]) { return OnController(standing, LeftControllerPose()); }

PoseSummary Summarise(const vr::TrackedDevicePose_t &pose)
{
    double m[3][4];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = pose.mDeviceToAbsoluteTracking.m[i][j];
    return Summarise(m);
}

PoseSummary Summarise(const double m[3][4])
{
    PoseSummary out;
    out.present = true;
    for (int i = 0; i < 3; ++i)
        out.position[i] = m[i][3];
    // The rotation matrix as a quaternion (the largest-component method, stable for any turn).
    const double trace = m[0][0] + m[1][1] + m[2][2];
    double w, x, y, z;
    if (trace > 0.0) {
        const double s = 2.0 * std::sqrt(trace + 1.0);
        w = 0.25 * s, x = (m[2][1] - m[1][2]) / s, y = (m[0][2] - m[2][0]) / s, z = (m[1][0] - m[0][1]) / s;
    } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + m[0][0] - m[1][1] - m[2][2]);
        w = (m[2][1] - m[1][2]) / s, x = 0.25 * s, y = (m[0][1] + m[1][0]) / s, z = (m[0][2] + m[2][0]) / s;
    } else if (m[1][1] > m[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + m[1][1] - m[0][0] - m[2][2]);
        w = (m[0][2] - m[2][0]) / s, x = (m[0][1] + m[1][0]) / s, y = 0.25 * s, z = (m[1][2] + m[2][1]) / s;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + m[2][2] - m[0][0] - m[1][1]);
        w = (m[1][0] - m[0][1]) / s, x = (m[0][2] + m[2][0]) / s, y = (m[1][2] + m[2][1]) / s, z = 0.25 * s;
    }
    QuaternionToYawPitchRoll(w, x, y, z, out.yawPitchRoll);
    return out;
}

} // namespace demo
