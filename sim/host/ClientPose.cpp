#include "ClientPose.h"

#include <cstring>

namespace sim {

namespace {

struct Transform {
    double r[3][3];
    double t[3];
};

Transform FromQuaternion(const vr::HmdQuaternion_t &q, const double t[3])
{
    const double w = q.w, x = q.x, y = q.y, z = q.z;
    Transform m{{{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                 {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                 {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}},
                {t[0], t[1], t[2]}};
    return m;
}

Transform Compose(const Transform &a, const Transform &b)
{
    Transform m{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                m.r[i][j] += a.r[i][k] * b.r[k][j];
        m.t[i] = a.t[i];
        for (int k = 0; k < 3; ++k)
            m.t[i] += a.r[i][k] * b.t[k];
    }
    return m;
}

void Rotate(const Transform &m, const double v[3], float out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<float>(m.r[i][0] * v[0] + m.r[i][1] * v[1] + m.r[i][2] * v[2]);
}

} // namespace

vr::TrackedDevicePose_t ClientPoseOf(const vr::DriverPose_t &pose)
{
    const Transform worldFromDriver = FromQuaternion(pose.qWorldFromDriverRotation, pose.vecWorldFromDriverTranslation);
    const Transform driverFromDevice = FromQuaternion(pose.qRotation, pose.vecPosition);
    const Transform deviceFromHead = FromQuaternion(pose.qDriverFromHeadRotation, pose.vecDriverFromHeadTranslation);
    const Transform world = Compose(Compose(worldFromDriver, driverFromDevice), deviceFromHead);

    vr::TrackedDevicePose_t out;
    std::memset(static_cast<void *>(&out), 0, sizeof out);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            out.mDeviceToAbsoluteTracking.m[i][j] = static_cast<float>(world.r[i][j]);
        out.mDeviceToAbsoluteTracking.m[i][3] = static_cast<float>(world.t[i]);
    }
    Rotate(worldFromDriver, pose.vecVelocity, out.vVelocity.v);
    Rotate(worldFromDriver, pose.vecAngularVelocity, out.vAngularVelocity.v);
    out.eTrackingResult = pose.result;
    out.bPoseIsValid = pose.poseIsValid;
    out.bDeviceIsConnected = pose.deviceIsConnected;
    return out;
}

} // namespace sim
