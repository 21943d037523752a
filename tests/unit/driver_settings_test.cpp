// The driver's settings: read through the runtime's settings interface at activation, each key
// changing what it should and nothing else, bad values falling back to their defaults with one
// log line, and the mount's general arithmetic agreeing with the built-in one.
#include "ControllerDriver.h"
#include "ConvertPose.h"
#include "DeviceProvider.h"
#include "DriverSettings.h"
#include "DriverState.h"
#include "SharedPose.h"
#include "SimHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using tarvolt::DriverSettings;
using tarvolt::kSettingsSection;

struct Logged {
    std::vector<std::string> lines;
    std::function<void(const char *)> Sink()
    {
        return [this](const char *line) { lines.push_back(line); };
    }
};

bool SameSettings(const DriverSettings &a, const DriverSettings &b)
{
    return std::memcmp(a.mountOffsetMeters, b.mountOffsetMeters, sizeof a.mountOffsetMeters) == 0 &&
           a.mountPitchDegrees == b.mountPitchDegrees && a.mountYawDegrees == b.mountYawDegrees &&
           a.mountRollDegrees == b.mountRollDegrees && a.pressFrames == b.pressFrames;
}

class DriverSettingsRead : public ::testing::Test {
protected:
    DriverSettings Read() { return tarvolt::ReadDriverSettings(&host.Context(), log.Sink()); }
    sim::SimHost host;  // its settings store, empty: every key unset
    Logged log;
};

// Catches: defaults that differ from the built-in behaviour, an unset key taken for a bad one
// (a log line on every start), or a missing interface that is called anyway.
TEST_F(DriverSettingsRead, UnsetKeysAndAMissingInterfaceGiveTheBuiltInValuesSilently)
{
    const DriverSettings read = Read();
    EXPECT_TRUE(SameSettings(read, DriverSettings{}));
    EXPECT_TRUE(read.MountingOf().builtIn);
    EXPECT_EQ(read.pressFrames, tarvolt::kPulseFrames);
    EXPECT_TRUE(SameSettings(tarvolt::ReadDriverSettings(nullptr, log.Sink()), DriverSettings{}));
    EXPECT_TRUE(log.lines.empty());
}

// Catches: a key read into the wrong field (x and z swapped, yaw into roll), a value that also
// changes another one, or an integer in the settings that is not taken as a number of metres.
TEST_F(DriverSettingsRead, EachKeyChangesItsOwnValueAndNothingElse)
{
    struct Case {
        const char *key;
        float value;
        std::function<void(DriverSettings &, float)> apply;
    };
    const std::vector<Case> cases = {
        {"mountOffsetXMeters", 0.1f, [](DriverSettings &s, float v) { s.mountOffsetMeters[0] = v; }},
        {"mountOffsetYMeters", -0.2f, [](DriverSettings &s, float v) { s.mountOffsetMeters[1] = v; }},
        {"mountOffsetZMeters", 1.0f, [](DriverSettings &s, float v) { s.mountOffsetMeters[2] = v; }},
        {"mountPitchDegrees", -180.0f, [](DriverSettings &s, float v) { s.mountPitchDegrees = v; }},
        {"mountYawDegrees", 45.5f, [](DriverSettings &s, float v) { s.mountYawDegrees = v; }},
        {"mountRollDegrees", 180.0f, [](DriverSettings &s, float v) { s.mountRollDegrees = v; }},
    };
    for (const Case &c : cases) {
        host.Context().RemoveSection(kSettingsSection, nullptr);
        host.Context().SetFloat(kSettingsSection, c.key, c.value, nullptr);
        DriverSettings expected;
        c.apply(expected, c.value);
        const DriverSettings read = Read();
        EXPECT_TRUE(SameSettings(read, expected)) << c.key;
        EXPECT_FALSE(read.MountingOf().builtIn) << c.key;
    }
    host.Context().RemoveSection(kSettingsSection, nullptr);
    host.Context().SetInt32(kSettingsSection, "mountOffsetXMeters", 1, nullptr);
    host.Context().SetInt32(kSettingsSection, "pressFrames", 250, nullptr);
    DriverSettings expected;
    expected.mountOffsetMeters[0] = 1.0f;
    expected.pressFrames = 250;
    EXPECT_TRUE(SameSettings(Read(), expected));
    EXPECT_TRUE(log.lines.empty());
}

// Catches: a bad value used (a NaN pose, a press that never ends or never begins), a bad value
// that is not told, told more than once, or told without its key and value.
TEST_F(DriverSettingsRead, EveryBadValueFallsBackToItsDefaultWithOneLine)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Bad {
        const char *key;
        std::function<void(vr::IVRSettings &)> set;
        const char *expectedLine;
    };
    const std::vector<Bad> bad = {
        {"mountOffsetXMeters", [](vr::IVRSettings &s) { s.SetFloat(kSettingsSection, "mountOffsetXMeters", 1.5f); },
         "Setting mountOffsetXMeters = 1.5 is out of range (allowed -1 to 1); using the default 0."},
        {"mountOffsetYMeters", [&](vr::IVRSettings &s) { s.SetFloat(kSettingsSection, "mountOffsetYMeters", nan); },
         nullptr},
        {"mountOffsetZMeters", [&](vr::IVRSettings &s) { s.SetFloat(kSettingsSection, "mountOffsetZMeters", -inf); },
         "Setting mountOffsetZMeters = -inf is out of range (allowed -1 to 1); using the default 0.25."},
        {"mountPitchDegrees", [](vr::IVRSettings &s) { s.SetString(kSettingsSection, "mountPitchDegrees", "steep"); },
         "Setting mountPitchDegrees = \"steep\" is not a number; using the default -30."},
        {"mountYawDegrees", [](vr::IVRSettings &s) { s.SetFloat(kSettingsSection, "mountYawDegrees", 180.5f); },
         "Setting mountYawDegrees = 180.5 is out of range (allowed -180 to 180); using the default 0."},
        {"mountRollDegrees", [](vr::IVRSettings &s) { s.SetBool(kSettingsSection, "mountRollDegrees", true); },
         "Setting mountRollDegrees = true is not a number; using the default 0."},
        {"pressFrames", [](vr::IVRSettings &s) { s.SetInt32(kSettingsSection, "pressFrames", 0); },
         "Setting pressFrames = 0 is out of range (allowed 1 to 250); using the default 20."},
        {"pressFrames", [](vr::IVRSettings &s) { s.SetInt32(kSettingsSection, "pressFrames", 251); },
         "Setting pressFrames = 251 is out of range (allowed 1 to 250); using the default 20."},
        {"pressFrames", [](vr::IVRSettings &s) { s.SetFloat(kSettingsSection, "pressFrames", 20.5f); },
         "Setting pressFrames = 20.5 is not a whole number; using the default 20."},
    };
    for (const Bad &b : bad) {
        host.Context().RemoveSection(kSettingsSection, nullptr);
        b.set(host.Context());
        log.lines.clear();
        EXPECT_TRUE(SameSettings(Read(), DriverSettings{})) << b.key;
        ASSERT_EQ(log.lines.size(), 1u) << b.key;
        if (b.expectedLine != nullptr)
            EXPECT_EQ(log.lines[0], b.expectedLine);
        else
            EXPECT_NE(log.lines[0].find(std::string("Setting ") + b.key + " = nan"), std::string::npos) << log.lines[0];
    }
}

// ---- the mount's arithmetic ----------------------------------------------------------------------

vr::TrackedDevicePose_t Controller(const float rows[3][4])
{
    vr::TrackedDevicePose_t r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(r.mDeviceToAbsoluteTracking.m, rows, sizeof r.mDeviceToAbsoluteTracking.m);
    r.eTrackingResult = vr::TrackingResult_Running_OK;
    r.bPoseIsValid = true;
    r.bDeviceIsConnected = true;
    return r;
}

void ExpectNear(const vr::DriverPose_t &a, const vr::DriverPose_t &b, double tolerance)
{
    EXPECT_NEAR(a.qRotation.w, b.qRotation.w, tolerance);
    EXPECT_NEAR(a.qRotation.x, b.qRotation.x, tolerance);
    EXPECT_NEAR(a.qRotation.y, b.qRotation.y, tolerance);
    EXPECT_NEAR(a.qRotation.z, b.qRotation.z, tolerance);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(a.vecPosition[i], b.vecPosition[i], tolerance);
}

// Catches: a general path that composes differently from the built-in mount (turn on the wrong
// side, shift after the turn, a sign of the angle flipped), which would move the rifle the
// moment a user sets any value, even the default one.
TEST(Mounting, TheGeneralPathWithTheBuiltInValuesAgreesWithTheBuiltInPath)
{
    const float offset[3] = {0.0f, 0.0f, 0.25f};
    tarvolt::Mounting general = tarvolt::MakeMounting(offset, -30.0, 0.0, 0.0);
    EXPECT_TRUE(general.builtIn);
    general.builtIn = false;
    const float rows[3][4] = {{0.36f, 0.48f, -0.8f, 1.0f}, {-0.8f, 0.6f, 0.0f, 2.0f}, {0.48f, 0.64f, 0.6f, -3.0f}};
    const vr::TrackedDevicePose_t in = Controller(rows);
    ExpectNear(tarvolt::ConvertPose(in, general), tarvolt::ConvertPose(in), 1e-7);
}

// Catches: the angles composed in another order (pitch, then yaw about the turned y, then roll
// about the twice-turned z), degrees taken as radians, or the shift taken along world axes.
TEST(Mounting, AnglesComposeInTheControllersFrameAndTheShiftFollowsItsAxes)
{
    // The controller turned 90 degrees about world z: its x axis points along world y.
    const float rows[3][4] = {{0.0f, -1.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f, 2.0f}, {0.0f, 0.0f, 1.0f, 3.0f}};
    const float offset[3] = {0.5f, 0.0f, 0.0f};
    const vr::DriverPose_t out = tarvolt::ConvertPose(Controller(rows), tarvolt::MakeMounting(offset, 90.0, 90.0, 0.0));
    // Shift 0.5 along the controller's x: world +y.
    EXPECT_NEAR(out.vecPosition[0], 1.0, 1e-7);
    EXPECT_NEAR(out.vecPosition[1], 2.5, 1e-7);
    EXPECT_NEAR(out.vecPosition[2], 3.0, 1e-7);
    // qz(90) * qx(90) * qy(90) = (0.5, 0.5, 0.5, 0.5)... written out: h = sqrt(0.5).
    const double h = std::sqrt(0.5);
    const double qz[4] = {h, 0, 0, h}, px[4] = {h, h, 0, 0}, py[4] = {h, 0, h, 0};
    const auto mul = [](const double a[4], const double b[4], double r[4]) {
        r[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
        r[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
        r[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
        r[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
    };
    double t[4], e[4];
    mul(qz, px, t);
    mul(t, py, e);
    EXPECT_NEAR(out.qRotation.w, e[0], 1e-7);
    EXPECT_NEAR(out.qRotation.x, e[1], 1e-7);
    EXPECT_NEAR(out.qRotation.y, e[2], 1e-7);
    EXPECT_NEAR(out.qRotation.z, e[3], 1e-7);
    // Roll alone turns about the controller's own z.
    const float none[3] = {0.0f, 0.0f, 0.0f};
    const vr::DriverPose_t rolled = tarvolt::ConvertPose(Controller(rows), tarvolt::MakeMounting(none, 0.0, 0.0, 90.0));
    const double r90[4] = {h, 0, 0, h};
    double rr[4];
    mul(qz, r90, rr);
    EXPECT_NEAR(rolled.qRotation.w, rr[0], 1e-7);
    EXPECT_NEAR(rolled.qRotation.z, rr[3], 1e-7);
    EXPECT_NEAR(rolled.vecPosition[2], 3.0, 1e-7);
}

// ---- the device with settings ---------------------------------------------------------------------

class DeviceWithSettings : public ::testing::Test {
protected:
    void Activate()
    {
        host.UseFactory(&tarvolt::ProviderFactory);
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(), vr::VRInitError_None);
        controller = tarvolt::deviceProvider.controller;
        ASSERT_NE(controller, nullptr);
    }
    // Updates of fire's click after activation, by the frame they came in.
    std::vector<std::pair<bool, uint64_t>> FireClicks(uint64_t activated)
    {
        std::vector<std::pair<bool, uint64_t>> seen;
        for (const sim::ComponentUpdate &u : host.Recorder().Updates())
            if (u.name == "/input/fire/click")
                seen.push_back({u.boolValue, u.frame - activated});
        return seen;
    }

    sim::SimHost host;
    tarvolt::ControllerDriver *controller = nullptr;
};

// Catches: pressFrames or the mount read but not used by the frame update, and pressFrames used
// one off or read from the settings at every frame instead of at activation.
TEST_F(DeviceWithSettings, PressFramesAndTheMountSetThePressAndThePublishedPose)
{
    host.Context().SetInt32(kSettingsSection, "pressFrames", 3, nullptr);
    host.Context().SetFloat(kSettingsSection, "mountOffsetZMeters", 0.0f, nullptr);
    host.Context().SetFloat(kSettingsSection, "mountPitchDegrees", 0.0f, nullptr);
    Activate();
    const uint64_t activated = host.FramesRun();
    const float rows[3][4] = {{1.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f, 2.0f}, {0.0f, 0.0f, 1.0f, 3.0f}};
    const vr::TrackedDevicePose_t record = Controller(rows);
    std::memcpy(static_cast<void *>(&tarvolt::poseBlockView->pose), &record, sizeof record);
    tarvolt::fire = true;
    host.RunFrames(6);
    EXPECT_EQ(FireClicks(activated), (std::vector<std::pair<bool, uint64_t>>{{true, 1}, {false, 5}}));
    sim::PoseRecord published{};
    ASSERT_TRUE(host.Recorder().LastPose(published));
    // No shift and no turn: the controller's own pose.
    EXPECT_EQ(published.pose.qRotation.w, 1.0);
    EXPECT_EQ(published.pose.qRotation.x, 0.0);
    EXPECT_EQ(published.pose.vecPosition[2], 3.0);
}

// Catches: a bad value at activation that is not told in the driver's log, or that keeps the
// device from coming up.
TEST_F(DeviceWithSettings, ABadValueIsToldInTheDriversLogAndTheDeviceComesUp)
{
    host.Context().SetFloat(kSettingsSection, "mountOffsetZMeters", 3.0f, nullptr);
    Activate();
    EXPECT_EQ(host.Recorder().CountLog(
                  "Setting mountOffsetZMeters = 3 is out of range (allowed -1 to 1); using the default 0.25."),
              1u);
    EXPECT_TRUE(controller->mounting.builtIn);
    EXPECT_EQ(controller->pressFrames, tarvolt::kPulseFrames);
}

} // namespace
