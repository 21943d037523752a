// The demo's check that the rifle's published pose follows the controller (the smoke test's
// evidence that vistrel relays).
#include "ConvertPose.h"
#include "DemoPoses.h"
#include "TrackingSpaces.h"

#include <gtest/gtest.h>

namespace {

// The rifle as applications see it when the driver publishes the conversion of `record` (in raw
// tracking space) under the simulated room setup.
struct Standing {
    double m[3][4];
};
Standing SeenByApplications(const vr::TrackedDevicePose_t &record)
{
    Standing out;
    sim::StandingPoseOf(tarvolt::ConvertPose(record), sim::RoomSetupStandingFromRaw(), out.m);
    return out;
}

// The controller's pose as vistrel reads it: in raw tracking space.
vr::TrackedDevicePose_t InRawSpace(vr::TrackedDevicePose_t pose)
{
    sim::TransformPose(sim::Inverse(sim::RoomSetupStandingFromRaw()), pose);
    return pose;
}

// Catches: a demo that passes while no relay writes the block (the driver publishes the zero
// record's conversion), that takes the controller's own position for the rifle's, that passes a
// rifle read in standing space and so displaced by the room setup, or that disagrees with the
// driver's conversion and fails a working session.
TEST(DemoPoses, TheRifleFollowsTheControllerOnlyThroughTheDriversConversion)
{
    const uint64_t published = 500;
    const Standing rifle = SeenByApplications(InRawSpace(demo::ControllerPoseAt(published - 10)));
    EXPECT_TRUE(demo::RifleFollowsController(rifle.m, published));
    EXPECT_TRUE(demo::RifleFollowsController(rifle.m, published - 10));
    EXPECT_FALSE(demo::RifleFollowsController(rifle.m, published - 11));  // a pose not yet published

    vr::TrackedDevicePose_t none{};
    EXPECT_FALSE(demo::RifleFollowsController(SeenByApplications(none).m, published));
    EXPECT_FALSE(demo::RifleFollowsController(SeenByApplications(demo::ControllerPoseAt(published - 10)).m, published))
        << "a standing pose published as a raw one";
    Standing unmoved = rifle;
    const vr::TrackedDevicePose_t controller = demo::ControllerPoseAt(published - 10);
    for (int i = 0; i < 3; ++i)
        unmoved.m[i][3] = controller.mDeviceToAbsoluteTracking.m[i][3];
    EXPECT_FALSE(demo::RifleFollowsController(unmoved.m, published));
}

} // namespace
