#pragma once
// Which tracked device carries the rifle: the setting poseSource of the driver's section, read
// through SteamVR's settings interface when the relay starts and about once a second after that,
// so that a change applies while SteamVR runs. "right_hand" (the default), "left_hand", or the
// serial number of a tracked device (a tracker or a controller).
#include "SharedPose.h"  // the relay is built with TARVOLT_OPENVR_CLIENT: the client header

#include <cstdint>

namespace tarvolt {

inline constexpr const char *kSettingsSection = "driver_tarvolt_rq508";
inline constexpr const char *kPoseSourceKey = "poseSource";
// The rifle's own serial number: a rifle that followed itself would run away.
inline constexpr const char *kRifleSerialNumber = "aaa_tarvolt_rq508_controller";
// Room for a serial number and its NUL; a longer value is refused rather than cut short.
inline constexpr uint32_t kSerialCapacity = 128;
// How often the setting is read again, in the relay's passes' clock (nanoseconds).
inline constexpr int64_t kPoseSourceReadPeriodNs = 1000000000;

enum class PoseSourceKind { RightHand, LeftHand, Serial };

struct PoseSource {
    PoseSourceKind kind = PoseSourceKind::RightHand;
    char serial[kSerialCapacity] = {};  // for Serial
};

bool SamePoseSource(const PoseSource &a, const PoseSource &b);

// The setting as the relay follows it. Read prints one line when the source in effect changes
// ("Pose source: ..."), and one when a bad value is met (the wrong type, empty, too long, the
// rifle's own serial number), which then counts as the default; a bad value met again is not
// told again. Without a settings interface the source is the default.
class PoseSourceSetting {
public:
    const PoseSource &Read(vr::IVRSettings *settings);
    const PoseSource &Current() const { return current_; }

private:
    void Reject(const char *value, const char *why);

    PoseSource current_;
    char rejected_[kSerialCapacity + 64] = {};  // the last bad value told, to tell it once
};

// The index of the device with this serial number, or vr::k_unTrackedDeviceIndexInvalid.
vr::TrackedDeviceIndex_t FindDeviceBySerial(vr::IVRSystem &system, const char *serial);

} // namespace tarvolt
