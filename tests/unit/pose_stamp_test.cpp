// The time stamp the simulated runtime writes into a queried pose for the benchmarks: it has to
// come out of the driver's published pose exactly as it went in, through the relay's byte copy
// and the pose conversion's widening of the velocities.
#include "ConvertPose.h"
#include "TrackedDeviceTable.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Catches: a stamp part that does not fit a float exactly (a wrong split of the 60 bits), or a
// conversion that rotates, scales or drops the velocities, either of which would turn the
// measured pose ages into noise without failing anything else.
TEST(PoseQueryStamp, SurvivesThePoseConversion)
{
    for (uint64_t ns : {uint64_t{0}, uint64_t{1}, uint64_t{0xFFFFF}, uint64_t{0x100000},
                        uint64_t{123456789012345}, (uint64_t{1} << 60) - 1}) {
        vr::TrackedDevicePose_t pose{};
        pose.mDeviceToAbsoluteTracking.m[0][0] = 0.6f;
        pose.mDeviceToAbsoluteTracking.m[0][2] = 0.8f;
        pose.mDeviceToAbsoluteTracking.m[1][1] = 1.0f;
        pose.mDeviceToAbsoluteTracking.m[2][0] = -0.8f;
        pose.mDeviceToAbsoluteTracking.m[2][2] = 0.6f;
        sim::StampPoseQuery(pose.vVelocity.v, ns);
        const vr::DriverPose_t published = tarvolt::ConvertPose(pose);
        EXPECT_EQ(sim::PoseQueryStamp(published.vecVelocity), ns);
    }
}

} // namespace
