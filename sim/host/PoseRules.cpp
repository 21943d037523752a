#include "PoseRules.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace sim {

namespace {

// openvr_driver.h: the values of vr::ETrackingResult. The field is read as the int32 it is: a
// driver may have stored anything there.
bool KnownTrackingResult(const vr::DriverPose_t &pose)
{
    int32_t result = 0;
    std::memcpy(&result, &pose.result, sizeof result);
    for (const int32_t known : {1, 100, 101, 200, 201, 300})
        if (result == known)
            return true;
    return false;
}

bool Finite(const double *values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

// A rotation is a unit quaternion; one of zeros is no rotation at all (openvr_driver.h's
// DriverPose_t: world and head rotations of (1, 0, 0, 0) for none).
bool Unit(const vr::HmdQuaternion_t &q)
{
    const double length = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    return std::fabs(length - 1.0) <= kUnitQuaternionTolerance;
}

} // namespace

std::string PoseRuleBroken(const vr::DriverPose_t &pose)
{
    if (!KnownTrackingResult(pose))
        return "a tracking result that vr::ETrackingResult does not define";
    const vr::HmdQuaternion_t *rotations[] = {&pose.qRotation, &pose.qWorldFromDriverRotation,
                                               &pose.qDriverFromHeadRotation};
    const double *vectors[] = {pose.vecPosition, pose.vecVelocity, pose.vecAcceleration, pose.vecAngularVelocity,
                               pose.vecAngularAcceleration, pose.vecWorldFromDriverTranslation,
                               pose.vecDriverFromHeadTranslation};
    bool finite = std::isfinite(pose.poseTimeOffset);
    for (const double *v : vectors)
        finite = finite && Finite(v, 3);
    for (const vr::HmdQuaternion_t *q : rotations)
        finite = finite && Finite(&q->w, 1) && Finite(&q->x, 1) && Finite(&q->y, 1) && Finite(&q->z, 1);
    if (!finite)
        return "a number that is not finite";
    for (const vr::HmdQuaternion_t *q : rotations)
        if (!Unit(*q))
            return "a rotation that is not a unit quaternion";
    return "";
}

} // namespace sim
