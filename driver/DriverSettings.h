#pragma once
// What a user may set for the driver, read through SteamVR's settings interface when the device
// is activated. The defaults reproduce the built-in behaviour exactly; a value of the wrong type,
// not a number, infinite or out of range falls back to its default with one log line naming the
// key and the value. Without a settings interface everything is default.
#include "ConvertPose.h"

#include <openvr_driver.h>

#include <cstdint>
#include <functional>

namespace tarvolt {

// The driver's section in steamvr.vrsettings and in the package's default.vrsettings.
inline constexpr const char *kSettingsSection = "driver_tarvolt_rq508";

// Limits of the accepted values.
inline constexpr float kMaxMountOffsetMeters = 1.0f;
inline constexpr float kMaxMountDegrees = 180.0f;
inline constexpr int32_t kMinPressFrames = 1;
inline constexpr int32_t kMaxPressFrames = 250;

struct DriverSettings {
    float mountOffsetMeters[3] = {0.0f, 0.0f, kMountOffset};  // x, y, z
    float mountPitchDegrees = -30.0f;
    float mountYawDegrees = 0.0f;
    float mountRollDegrees = 0.0f;
    // Frame updates a press stays reported after the one that began it.
    int32_t pressFrames = 20;

    Mounting MountingOf() const
    {
        return MakeMounting(mountOffsetMeters, mountPitchDegrees, mountYawDegrees, mountRollDegrees);
    }
};

// Reads every key of the driver's section; settings may be null. Each rejected value is told to
// log, one line each.
DriverSettings ReadDriverSettings(vr::IVRSettings *settings, const std::function<void(const char *)> &log);

} // namespace tarvolt
