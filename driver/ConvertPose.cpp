#include "ConvertPose.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tarvolt {

namespace {

constexpr double kHalf = 0.5;
constexpr float kOne = 1.0f;

// Half the square root of a trace sum, with negative and not-a-number sums taken as 0.
double HalfRoot(float sum) { return kHalf * std::sqrt(std::fmax(0.0, static_cast<double>(sum))); }

} // namespace

// The built-in mount's angles and shift, for recognising it.
constexpr double kBuiltInPitch = -30.0;

Mounting MakeMounting(const float offset[3], double pitchDegrees, double yawDegrees, double rollDegrees)
{
    Mounting mounting;
    if (offset[0] == 0.0f && offset[1] == 0.0f && offset[2] == kMountOffset && pitchDegrees == kBuiltInPitch &&
        yawDegrees == 0.0 && rollDegrees == 0.0)
        return mounting;
    mounting.builtIn = false;
    for (int i = 0; i < 3; ++i)
        mounting.offset[i] = offset[i];
    constexpr double kHalfRadiansPerDegree = 3.14159265358979323846 / 360.0;
    const double p = pitchDegrees * kHalfRadiansPerDegree;
    const double y = yawDegrees * kHalfRadiansPerDegree;
    const double r = rollDegrees * kHalfRadiansPerDegree;
    const double cp = std::cos(p), sp = std::sin(p);
    const double cy = std::cos(y), sy = std::sin(y);
    const double cr = std::cos(r), sr = std::sin(r);
    // (cp, sp, 0, 0) * (cy, 0, sy, 0) * (cr, 0, 0, sr)
    mounting.turn[0] = cp * cy * cr - sp * sy * sr;
    mounting.turn[1] = sp * cy * cr + cp * sy * sr;
    mounting.turn[2] = cp * sy * cr - sp * cy * sr;
    mounting.turn[3] = cp * cy * sr + sp * sy * cr;
    return mounting;
}

vr::DriverPose_t ConvertPose(const vr::TrackedDevicePose_t &in) { return ConvertPose(in, Mounting{}); }

vr::DriverPose_t ConvertPose(const vr::TrackedDevicePose_t &in, const Mounting &mounting)
{
    vr::DriverPose_t out;
    std::memset(&out, 0, sizeof out);

    // The tracking result is passed on as the int32 it is, also when another process wrote a
    // value that the enumeration does not define; copied as bytes, since loading such a value
    // through the enumeration type is undefined.
    static_assert(sizeof(in.eTrackingResult) == sizeof(int32_t) && sizeof(out.result) == sizeof(int32_t),
                  "tracking results are 32-bit");
    std::memcpy(&out.result, &in.eTrackingResult, sizeof(int32_t));
    out.poseIsValid = in.bPoseIsValid;
    out.deviceIsConnected = in.bDeviceIsConnected;

    const float(*m)[4] = in.mDeviceToAbsoluteTracking.m;

    // The controller's orientation from the rotation part of its matrix. The sums are formed in
    // float from the stored values, left to right.
    const float sw = m[0][0] + kOne + m[1][1] + m[2][2];
    const float sx = m[0][0] + kOne - m[1][1] - m[2][2];
    const float sy = kOne - m[0][0] + m[1][1] - m[2][2];
    const float sz = kOne - m[0][0] - m[1][1] + m[2][2];
    const double w = HalfRoot(sw);
    // The signs come from float differences of the off-diagonal elements; -0 counts as negative.
    const float dx = m[2][1] - m[1][2];
    const float dy = m[0][2] - m[2][0];
    const float dz = m[1][0] - m[0][1];
    const double x = std::copysign(HalfRoot(sx), static_cast<double>(dx));
    const double y = std::copysign(HalfRoot(sy), static_cast<double>(dy));
    const double z = std::copysign(HalfRoot(sz), static_cast<double>(dz));

    if (mounting.builtIn) {
        // q times the mounting turn, q on the left, so that the turn acts in the controller's frame.
        out.qRotation.w = kMountCos * w + kMountSin * x;
        out.qRotation.x = kMountCos * x - kMountSin * w;
        out.qRotation.y = kMountCos * y - kMountSin * z;
        out.qRotation.z = kMountCos * z + kMountSin * y;

        // The position moves along the controller's own z axis (the third column of its rotation,
        // before the mounting turn); each product is formed in float.
        for (int r = 0; r < 3; ++r) {
            const float shift = kMountOffset * m[r][2];
            out.vecPosition[r] = static_cast<double>(m[r][3]) + static_cast<double>(shift);
        }
    } else {
        // The same composition for any mount: q times the turn (Hamilton product, q on the left),
        // and the shift along the columns of the controller's rotation, before the turn.
        const double *t = mounting.turn;
        out.qRotation.w = w * t[0] - x * t[1] - y * t[2] - z * t[3];
        out.qRotation.x = w * t[1] + x * t[0] + y * t[3] - z * t[2];
        out.qRotation.y = w * t[2] - x * t[3] + y * t[0] + z * t[1];
        out.qRotation.z = w * t[3] + x * t[2] - y * t[1] + z * t[0];
        const float *o = mounting.offset;
        for (int r = 0; r < 3; ++r)
            out.vecPosition[r] = static_cast<double>(m[r][3]) + static_cast<double>(m[r][0]) * o[0] +
                                 static_cast<double>(m[r][1]) * o[1] + static_cast<double>(m[r][2]) * o[2];
    }

    for (int i = 0; i < 3; ++i) {
        out.vecVelocity[i] = in.vVelocity.v[i];
        out.vecAngularVelocity[i] = in.vAngularVelocity.v[i];
    }

    out.poseTimeOffset = 0.0;
    out.qWorldFromDriverRotation.w = 1.0;
    out.qDriverFromHeadRotation.w = 1.0;
    return out;
}

} // namespace tarvolt
