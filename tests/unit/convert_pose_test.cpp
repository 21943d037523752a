// The pose conversion from the borrowed controller's record to the rifle's pose: exact bits
// where the values are known, the geometry of the mounting offset elsewhere.
#include "ConvertPose.h"
#include "PoseRules.h"
#include "WellFormedPose.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>

namespace {

constexpr double C = 0.9659258262890683;
constexpr double S = 0.25881904510252074;

uint64_t Bits(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Bit-for-bit equality, so that -0 and +0 or a last-place difference do not pass as equal.
#define EXPECT_BITS(actual, expected) EXPECT_EQ(Bits(actual), Bits(expected)) << (actual) << " vs " << (expected)

vr::TrackedDevicePose_t Record(const float rows[3][4])
{
    vr::TrackedDevicePose_t r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(r.mDeviceToAbsoluteTracking.m, rows, sizeof r.mDeviceToAbsoluteTracking.m);
    return r;
}

void ExpectQuaternion(const vr::HmdQuaternion_t &q, double w, double x, double y, double z)
{
    EXPECT_BITS(q.w, w);
    EXPECT_BITS(q.x, x);
    EXPECT_BITS(q.y, y);
    EXPECT_BITS(q.z, z);
}

// Catches: a normalisation, a changed sum order or precision, a missing clamp, frame fields
// left zero (a zero world rotation makes the runtime drop the pose) or status fields crossed.
TEST(ConvertPose, ZeroRecordOfAFreshBlockGivesTheKnownQuaternionAndFrameFields)
{
    vr::TrackedDevicePose_t in;
    std::memset(&in, 0, sizeof in);
    const vr::DriverPose_t out = tarvolt::ConvertPose(in);
    ExpectQuaternion(out.qRotation, 0.6123724356957945, 0.3535533905932738, 0.3535533905932738,
                     0.6123724356957945);
    for (int i = 0; i < 3; ++i) {
        EXPECT_BITS(out.vecPosition[i], 0.0);
        EXPECT_BITS(out.vecAcceleration[i], 0.0);
        EXPECT_BITS(out.vecAngularAcceleration[i], 0.0);
        EXPECT_BITS(out.vecWorldFromDriverTranslation[i], 0.0);
        EXPECT_BITS(out.vecDriverFromHeadTranslation[i], 0.0);
    }
    ExpectQuaternion(out.qWorldFromDriverRotation, 1.0, 0.0, 0.0, 0.0);
    ExpectQuaternion(out.qDriverFromHeadRotation, 1.0, 0.0, 0.0, 0.0);
    EXPECT_BITS(out.poseTimeOffset, 0.0);
    EXPECT_FALSE(out.poseIsValid);
    EXPECT_FALSE(out.deviceIsConnected);
    EXPECT_FALSE(out.willDriftInYaw);
    EXPECT_FALSE(out.shouldApplyHeadModel);
    EXPECT_EQ(static_cast<int>(out.result), 0);
}

// Catches: the mounting turn applied with the wrong sign or on the wrong side; the offset taken
// from the wrong column, added in double instead of float, or rotated by the mounting turn; a NaN
// or negative trace sum reaching the square root (a NaN orientation); and signs taken with a
// comparison (which treats -0 as +0) instead of copysign, or differences formed the other way round.
TEST(ConvertPose, KnownMatricesGiveExactQuaternionsAndOffsets)
{
    const double h = 0.5 * std::sqrt(2.0), zw = 0.6123724356957945, zx = 0.3535533905932738;
    struct Case {
        const char *what;
        float m[3][4];
        double q[4];
        double position[3];
    };
    const Case cases[] = {
        {"identity, moved", {{1, 0, 0, 1.5f}, {0, 1, 0, -2.25f}, {0, 0, 1, 0.1f}}, {C, -S, 0, 0},
         {1.5, -2.25, static_cast<double>(0.1f) + 0.25}},
        {"180 about y", {{-1, 0, 0, 0.5f}, {0, 1, 0, 0}, {0, 0, -1, 2.0f}}, {0, 0, C, S}, {0.5, 0, 1.75}},
        {"only sw negative", {{-1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 0}}, {S * h, C * h, C * h - S * h, C * h + S * h},
         {0, 0, -0.25}},
        {"m21 - m12 = -0", {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, -0.0f, 0, 0}},
         {C * 0.5 + S * -0.5, C * -0.5 - S * 0.5, C * 0.5 - S * 0.5, C * 0.5 + S * 0.5}, {0, 0, 0}},
        {"m21 - m12 = +0", {{0, 0, 0, 0}, {0, 0, -0.0f, 0}, {0, 0, 0, 0}}, {zw, zx, zx, zw}, {0, 0, 0}},
        {"-0 - -0 = +0", {{0, 0, 0, 0}, {0, 0, -0.0f, 0}, {0, -0.0f, 0, 0}}, {zw, zx, zx, zw}, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const vr::DriverPose_t out = tarvolt::ConvertPose(Record(c.m));
        ExpectQuaternion(out.qRotation, c.q[0], c.q[1], c.q[2], c.q[3]);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(out.vecPosition[i], c.position[i]) << i;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float withNan[3][4] = {{nan, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    const vr::HmdQuaternion_t q = tarvolt::ConvertPose(Record(withNan)).qRotation;
    EXPECT_TRUE(q.w == 0.0 && q.x == 0.0 && q.y == 0.0 && q.z == 0.0) << q.w << " " << q.x << " " << q.y << " " << q.z;
}

// Rotation matrix of a unit quaternion, to compare orientations independently of the formula.
void QuaternionToMatrix(const vr::HmdQuaternion_t &q, double r[3][3])
{
    r[0][0] = 1 - 2 * (q.y * q.y + q.z * q.z);
    r[0][1] = 2 * (q.x * q.y - q.z * q.w);
    r[0][2] = 2 * (q.x * q.z + q.y * q.w);
    r[1][0] = 2 * (q.x * q.y + q.z * q.w);
    r[1][1] = 1 - 2 * (q.x * q.x + q.z * q.z);
    r[1][2] = 2 * (q.y * q.z - q.x * q.w);
    r[2][0] = 2 * (q.x * q.z - q.y * q.w);
    r[2][1] = 2 * (q.y * q.z + q.x * q.w);
    r[2][2] = 1 - 2 * (q.x * q.x + q.y * q.y);
}

// Catches: an off-diagonal difference taken the wrong way round for one axis, which the
// symmetric cases above cannot see: the rifle must be the controller turned -30 degrees about
// the controller's own x axis, 0.25 m along the controller's own z axis.
TEST(ConvertPose, RifleFrameIsTheControllerFrameTurnedAboutItsOwnX)
{
    const double rad = std::acos(-1.0) / 180.0;
    const double mount[3][3] = {{1, 0, 0}, {0, std::cos(-30 * rad), -std::sin(-30 * rad)},
                                {0, std::sin(-30 * rad), std::cos(-30 * rad)}};
    const float cases[][3][4] = {
        {{1, 0, 0, 0}, {0, 0, -1, 0}, {0, 1, 0, 0}},        // +90 about x
        {{0, 0, 1, 0}, {0, 1, 0, 0}, {-1, 0, 0, 0}},        // +90 about y
        {{0, -1, 0, 1}, {1, 0, 0, 2}, {0, 0, 1, 3}},        // +90 about z, moved
        {{0, 0, 1, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}},         // 120 about (1,1,1)
        {{0.36f, 0.48f, -0.8f, 0}, {-0.8f, 0.6f, 0, 0}, {0.48f, 0.64f, 0.6f, 0}},
    };
    for (const auto &m : cases) {
        const vr::DriverPose_t out = tarvolt::ConvertPose(Record(m));
        double got[3][3];
        QuaternionToMatrix(out.qRotation, got);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                double want = 0;
                for (int k = 0; k < 3; ++k)
                    want += m[r][k] * mount[k][c];
                EXPECT_NEAR(got[r][c], want, 1e-6) << r << "," << c;
            }
            EXPECT_NEAR(out.vecPosition[r], m[r][3] + 0.25 * m[r][2], 1e-7);
        }
    }
}

// Catches: velocities rotated with the pose or dropped when the pose is invalid, and a tracking
// result clamped to the defined values.
TEST(ConvertPose, VelocitiesAndStatusPassThroughUnchanged)
{
    vr::TrackedDevicePose_t in;
    std::memset(&in, 0, sizeof in);
    in.mDeviceToAbsoluteTracking.m[0][1] = -1;  // a turned controller: velocities stay as given
    in.mDeviceToAbsoluteTracking.m[1][0] = 1;
    in.mDeviceToAbsoluteTracking.m[2][2] = 1;
    const float v[3] = {0.1f, -2.5f, 3e-8f};
    const float w[3] = {-7.0f, 0.3f, 1e20f};
    std::memcpy(in.vVelocity.v, v, sizeof v);
    std::memcpy(in.vAngularVelocity.v, w, sizeof w);
    const int32_t undefinedResult = 12345;
    std::memcpy(&in.eTrackingResult, &undefinedResult, sizeof undefinedResult);
    in.bPoseIsValid = false;
    in.bDeviceIsConnected = true;
    const vr::DriverPose_t out = tarvolt::ConvertPose(in);
    for (int i = 0; i < 3; ++i) {
        EXPECT_BITS(out.vecVelocity[i], static_cast<double>(v[i]));
        EXPECT_BITS(out.vecAngularVelocity[i], static_cast<double>(w[i]));
    }
    int32_t result = 0;
    std::memcpy(&result, &out.result, sizeof result);
    EXPECT_EQ(result, 12345);
    EXPECT_FALSE(out.poseIsValid);
    EXPECT_TRUE(out.deviceIsConnected);
}

// Catches: a record that is not one published as it is or as valid (a result outside the
// enumeration, a number that is not finite, a rotation that is none, a flag byte that is no bool),
// a fault taken for another or missed, a good record's conversion changed by a single bit, and a
// block never written that looks other than the relay's record for no controller (both show only
// the mounting turn).
TEST(WellFormedPose, EveryRecordGivesAPoseTheRuntimeTakesAndOnlyGoodOnesAreTheirConversion)
{
    using tarvolt::RecordFault;
    vr::TrackedDevicePose_t good;
    std::memset(&good, 0, sizeof good);
    const float turned[3][4] = {{0.36f, 0.48f, -0.8f, 1}, {-0.8f, 0.6f, 0, 2}, {0.48f, 0.64f, 0.6f, 3}};
    std::memcpy(good.mDeviceToAbsoluteTracking.m, turned, sizeof turned);
    good.vVelocity.v[1] = 0.5f;
    good.eTrackingResult = vr::TrackingResult_Running_OK;
    good.bPoseIsValid = good.bDeviceIsConnected = true;
    vr::TrackedDevicePose_t noController;  // what the relay writes when it finds no controller
    std::memset(&noController, 0, sizeof noController);
    noController.eTrackingResult = vr::TrackingResult_Uninitialized;
    noController.bDeviceIsConnected = true;

    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char *what;
        std::function<void(vr::TrackedDevicePose_t &)> change;
        RecordFault fault;
        bool valid;
        bool converted = false;  // published as ConvertPose gives it, bit for bit
    };
    const Case cases[] = {
        {"good", [](auto &) {}, RecordFault::None, true, true},
        {"not valid, moving", [](auto &r) { r.bPoseIsValid = false; }, RecordFault::None, false, true},
        {"never written", [](auto &r) { std::memset(&r, 0, sizeof r); }, RecordFault::None, false},
        {"no controller", [&](auto &r) { r = noController; }, RecordFault::None, false},
        {"NaN in the matrix", [](auto &r) { r.mDeviceToAbsoluteTracking.m[1][2] = std::nanf(""); }, RecordFault::NotFinite, false},
        {"infinite velocity", [&](auto &r) { r.vAngularVelocity.v[0] = -inf; }, RecordFault::NotFinite, false},
        {"result 0", [](auto &r) { std::memset(&r.eTrackingResult, 0, 4); }, RecordFault::NotAStatus, false},
        {"flag byte 2", [](auto &r) { reinterpret_cast<unsigned char *>(&r)[offsetof(vr::TrackedDevicePose_t, bDeviceIsConnected)] = 2; },
         RecordFault::NotAStatus, false},
        {"zero rotation, valid", [](auto &r) { for (auto &row : r.mDeviceToAbsoluteTracking.m) row[0] = row[1] = row[2] = 0; },
         RecordFault::NotARotation, false},
        {"mirrored", [](auto &r) { for (auto &row : r.mDeviceToAbsoluteTracking.m) row[2] = -row[2]; }, RecordFault::NotARotation, false},
        {"scaled", [](auto &r) { for (auto &row : r.mDeviceToAbsoluteTracking.m) row[0] *= 2; }, RecordFault::NotARotation, false},
    };
    vr::TrackedDevicePose_t empty;
    std::memset(&empty, 0, sizeof empty);
    tarvolt::RecordFault fault = RecordFault::None;
    const vr::DriverPose_t neverWritten = tarvolt::WellFormedPose(empty, tarvolt::Mounting{}, fault);
    for (const Case &c : cases) {
        vr::TrackedDevicePose_t record = good;
        c.change(record);
        const vr::DriverPose_t out = tarvolt::WellFormedPose(record, tarvolt::Mounting{}, fault);
        EXPECT_EQ(fault, c.fault) << c.what;
        EXPECT_EQ(out.poseIsValid, c.valid) << c.what;
        EXPECT_EQ(sim::PoseRuleBroken(out), "") << c.what;
        if (c.fault != RecordFault::None) {
            EXPECT_EQ(out.result, vr::TrackingResult_Uninitialized) << c.what;
        }
        if (c.converted) {
            const vr::DriverPose_t converted = tarvolt::ConvertPose(record);
            EXPECT_EQ(std::memcmp(&out, &converted, sizeof out), 0) << c.what << ": not the conversion, bit for bit";
        }
    }
    ExpectQuaternion(neverWritten.qRotation, C, -S, 0.0, 0.0);
    EXPECT_EQ(neverWritten.result, vr::TrackingResult_Uninitialized);
    EXPECT_TRUE(neverWritten.deviceIsConnected);
    const vr::DriverPose_t none = tarvolt::WellFormedPose(noController, tarvolt::Mounting{}, fault);
    EXPECT_EQ(std::memcmp(&none, &neverWritten, sizeof none), 0) << "never written and no controller differ";
}

} // namespace
