// The demo's poses: what the status view shows of them, and the check that the rifle's published
// pose follows the controller (the smoke test's evidence that vistrel relays).
#include "ConvertPose.h"
#include "DemoPoses.h"

#include <gtest/gtest.h>

namespace {

constexpr double kAngle = 1e-3;  // degrees
constexpr uint64_t kQuarterCircle = 270;  // frames: 3 of the circle's 12 seconds at 90 Hz

// Catches: angles mixed up or signed wrongly on the way from the matrix to yaw/pitch/roll, so the
// view would show the controller turning the wrong way or tilted where it is not.
TEST(DemoPoses, ShowTheControllerAsItTurnsOnItsCircle)
{
    const demo::PoseSummary start = demo::Summarise(demo::ControllerPoseAt(0));
    EXPECT_NEAR(start.yawPitchRoll[0], 0.0, kAngle);
    EXPECT_NEAR(start.yawPitchRoll[1], -15.0, kAngle);
    EXPECT_NEAR(start.yawPitchRoll[2], 0.0, kAngle);
    EXPECT_NEAR(start.position[0], 0.45, 1e-6);
    EXPECT_NEAR(start.position[2], -0.4, 1e-6);

    const demo::PoseSummary quarter = demo::Summarise(demo::ControllerPoseAt(kQuarterCircle));
    EXPECT_NEAR(quarter.yawPitchRoll[0], -90.0, kAngle);
    EXPECT_NEAR(quarter.yawPitchRoll[1], -15.0, kAngle);
    EXPECT_NEAR(quarter.position[0], 0.2, 1e-6);
    EXPECT_NEAR(quarter.position[2], -0.15, 1e-6);
}

// Catches: the view showing the rifle's published rotation other than it is (the mounting turn
// of 30 degrees about the controller's own x axis adds to the controller's tilt).
TEST(DemoPoses, ShowTheRiflePitchedByTheMount)
{
    const demo::PoseSummary rifle = demo::Summarise(tarvolt::ConvertPose(demo::ControllerPoseAt(0)));
    EXPECT_NEAR(rifle.yawPitchRoll[0], 0.0, kAngle);
    EXPECT_NEAR(rifle.yawPitchRoll[1], -45.0, kAngle);
    EXPECT_NEAR(rifle.yawPitchRoll[2], 0.0, kAngle);
}

// Catches: a demo that passes while no relay writes the block (the driver publishes the zero
// record's conversion), that takes the controller's own position for the rifle's, or that
// disagrees with the driver's conversion and fails a working session.
TEST(DemoPoses, TheRifleFollowsTheControllerOnlyThroughTheDriversConversion)
{
    const uint64_t published = 500;
    const vr::DriverPose_t rifle = tarvolt::ConvertPose(demo::ControllerPoseAt(published - 10));
    EXPECT_TRUE(demo::RifleFollowsController(rifle, published));
    EXPECT_TRUE(demo::RifleFollowsController(rifle, published - 10));
    EXPECT_FALSE(demo::RifleFollowsController(rifle, published - 11));  // a pose not yet published

    vr::TrackedDevicePose_t none{};
    EXPECT_FALSE(demo::RifleFollowsController(tarvolt::ConvertPose(none), published));
    vr::DriverPose_t unmoved = rifle;
    const vr::TrackedDevicePose_t controller = demo::ControllerPoseAt(published - 10);
    for (int i = 0; i < 3; ++i)
        unmoved.vecPosition[i] = controller.mDeviceToAbsoluteTracking.m[i][3];
    EXPECT_FALSE(demo::RifleFollowsController(unmoved, published));
}

} // namespace
