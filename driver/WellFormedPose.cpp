#include "WellFormedPose.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace tarvolt {

namespace {

// How far the rotation part's columns may be from unit length and from right angles: far beyond
// the rounding of a tracked controller's float matrix, far below any matrix that is not a
// rotation (a zero matrix, one scaled or sheared).
constexpr double kRotationTolerance = 1e-2;
// A quaternion whose squared length is further from 1 than this is normalised. The conversion's
// four trace sums add up to 4 for any matrix, so a rotation's quaternion is a unit one to float
// rounding; only a sum clamped at zero (a rotation a hair off) takes it further.
constexpr double kUnitTolerance = 1e-6;

uint8_t ByteAt(const vr::TrackedDevicePose_t &record, size_t offset)
{
    uint8_t byte = 0;
    std::memcpy(&byte, reinterpret_cast<const unsigned char *>(&record) + offset, 1);
    return byte;
}

bool AllZero(const vr::TrackedDevicePose_t &record)
{
    static const vr::TrackedDevicePose_t zero{};
    return std::memcmp(&record, &zero, sizeof record) == 0;
}

// The matrix and both velocities, 18 floats one after the other at the record's start. A finite
// number times zero is zero; an infinity or a NaN times zero is a NaN, and so is every sum with one.
bool Finite(const vr::TrackedDevicePose_t &record)
{
    constexpr int kFloats = 18;
    static_assert(offsetof(vr::TrackedDevicePose_t, vAngularVelocity) + sizeof record.vAngularVelocity ==
                      kFloats * sizeof(float),
                  "the record's floats come first and without a gap");
    float values[kFloats];
    std::memcpy(values, &record, sizeof values);
    float zero = 0.0f;
    for (const float value : values)
        zero += value * 0.0f;
    return zero == 0.0f;
}

bool KnownResult(int32_t result)
{
    for (const int32_t known : {vr::TrackingResult_Uninitialized, vr::TrackingResult_Calibrating_InProgress,
                                vr::TrackingResult_Calibrating_OutOfRange, vr::TrackingResult_Running_OK,
                                vr::TrackingResult_Running_OutOfRange, vr::TrackingResult_Fallback_RotationOnly})
        if (result == known)
            return true;
    return false;
}

// Orthonormal columns (within kRotationTolerance) that make a right-handed frame.
bool IsRotation(const float (*m)[4])
{
    const auto dot = [m](int a, int b) { return m[0][a] * m[0][b] + m[1][a] * m[1][b] + m[2][a] * m[2][b]; };
    const float tolerance = static_cast<float>(kRotationTolerance);
    for (int a = 0; a < 3; ++a)
        for (int b = a; b < 3; ++b)
            if (!(std::fabs(dot(a, b) - (a == b ? 1.0f : 0.0f)) <= tolerance))
                return false;
    // The third column against the cross product of the first two: +1 for a rotation, -1 for a
    // mirroring.
    const float det = m[0][2] * (m[1][0] * m[2][1] - m[2][0] * m[1][1]) +
                      m[1][2] * (m[2][0] * m[0][1] - m[0][0] * m[2][1]) +
                      m[2][2] * (m[0][0] * m[1][1] - m[1][0] * m[0][1]);
    return det > 0.0f;
}

void SetIdentityRotation(vr::TrackedDevicePose_t &record)
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            record.mDeviceToAbsoluteTracking.m[r][c] = r == c ? 1.0f : 0.0f;
}

// Not valid, Uninitialized, at the origin, unturned, not moving.
vr::TrackedDevicePose_t NoPoseRecord(bool connected)
{
    vr::TrackedDevicePose_t record{};
    SetIdentityRotation(record);
    record.eTrackingResult = vr::TrackingResult_Uninitialized;
    record.bPoseIsValid = false;
    record.bDeviceIsConnected = connected;
    return record;
}

void MakeUnit(vr::HmdQuaternion_t &q)
{
    const double squared = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
    if (std::fabs(squared - 1.0) <= kUnitTolerance)
        return;
    const double length = std::sqrt(squared);
    q.w /= length;
    q.x /= length;
    q.y /= length;
    q.z /= length;
}

// The record as it may be converted; `fault` says when it could not be taken as it was.
vr::TrackedDevicePose_t Usable(const vr::TrackedDevicePose_t &record, RecordFault &fault)
{
    fault = RecordFault::None;
    // A block nobody has written yet: as the relay's record for no controller.
    if (AllZero(record))
        return NoPoseRecord(true);
    // The flags are read as bytes (a bool holding anything but 0 or 1 is not one), and so is the
    // result (a value outside the enumeration is not one either).
    const uint8_t valid = ByteAt(record, offsetof(vr::TrackedDevicePose_t, bPoseIsValid));
    const uint8_t connected = ByteAt(record, offsetof(vr::TrackedDevicePose_t, bDeviceIsConnected));
    int32_t result = 0;
    std::memcpy(&result, &record.eTrackingResult, sizeof result);
    const bool finite = Finite(record);
    const bool rotation = finite && IsRotation(record.mDeviceToAbsoluteTracking.m);
    if (!finite)
        fault = RecordFault::NotFinite;
    else if (!KnownResult(result) || valid > 1 || connected > 1)
        fault = RecordFault::NotAStatus;
    else if (!rotation && valid == 1)
        fault = RecordFault::NotARotation;
    if (fault != RecordFault::None)
        return NoPoseRecord(connected != 0);

    vr::TrackedDevicePose_t usable = record;
    usable.bPoseIsValid = valid == 1;
    usable.bDeviceIsConnected = connected == 1;
    // A record that says it is not valid may carry no rotation at all (the relay's record for no
    // controller has a zero matrix): the controller is then taken as unturned.
    if (!rotation)
        SetIdentityRotation(usable);
    return usable;
}

} // namespace

const char *RecordFaultLine(RecordFault fault)
{
    switch (fault) {
    case RecordFault::NotFinite:
        return "Pose record with numbers that are not finite; the pose is published as not valid.";
    case RecordFault::NotARotation:
        return "Pose record whose rotation is not one; the pose is published as not valid.";
    case RecordFault::NotAStatus:
        return "Pose record with an unknown tracking result or flag; the pose is published as not valid.";
    case RecordFault::None:
        break;
    }
    return "";
}

const vr::TrackedDevicePose_t &NeverWrittenRecord()
{
    static const vr::TrackedDevicePose_t zero{};
    return zero;
}

vr::DriverPose_t WellFormedPose(const vr::TrackedDevicePose_t &record, const Mounting &mounting, RecordFault &fault)
{
    vr::DriverPose_t pose = ConvertPose(Usable(record, fault), mounting);
    MakeUnit(pose.qRotation);
    return pose;
}

} // namespace tarvolt
