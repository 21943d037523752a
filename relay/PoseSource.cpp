#include "PoseSource.h"

#include "Console.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace tarvolt {

bool SamePoseSource(const PoseSource &a, const PoseSource &b)
{
    return a.kind == b.kind && (a.kind != PoseSourceKind::Serial || std::strcmp(a.serial, b.serial) == 0);
}

void PoseSourceSetting::Reject(const char *value, const char *why)
{
    char told[sizeof rejected_];
    std::snprintf(told, sizeof told, "%s %s", value, why);
    if (std::strcmp(told, rejected_) != 0) {
        std::memcpy(rejected_, told, sizeof told);
        PrintLine(std::string("Setting poseSource = ") + value + " " + why + "; using the default right_hand.");
    }
}

const PoseSource &PoseSourceSetting::Read(vr::IVRSettings *settings)
{
    PoseSource read;
    if (settings != nullptr) {
        // One byte more than a serial may have, to tell a value that does not fit.
        char text[kSerialCapacity + 1] = {};
        vr::EVRSettingsError error = vr::VRSettingsError_None;
        settings->GetString(kSettingsSection, kPoseSourceKey, text, sizeof text, &error);
        const std::string quoted = std::string("\"") + text + "\"";
        if (error == vr::VRSettingsError_UnsetSettingHasNoDefault) {
            rejected_[0] = '\0';
        } else if (error != vr::VRSettingsError_None) {
            Reject("(not a string)", "is not a string");
        } else if (text[0] == '\0') {
            Reject("\"\"", "is empty");
        } else if (std::strlen(text) >= kSerialCapacity) {
            Reject((quoted.substr(0, 40) + "...\"").c_str(), "is too long for a serial number");
        } else if (std::strcmp(text, kRifleSerialNumber) == 0) {
            Reject(quoted.c_str(), "is the rifle itself");
        } else {
            rejected_[0] = '\0';
            if (std::strcmp(text, "right_hand") == 0) {
                read.kind = PoseSourceKind::RightHand;
            } else if (std::strcmp(text, "left_hand") == 0) {
                read.kind = PoseSourceKind::LeftHand;
            } else {
                read.kind = PoseSourceKind::Serial;
                std::memcpy(read.serial, text, kSerialCapacity);
            }
        }
    }
    if (!SamePoseSource(read, current_)) {
        current_ = read;
        const char *name = read.kind == PoseSourceKind::RightHand  ? "right_hand"
                           : read.kind == PoseSourceKind::LeftHand ? "left_hand"
                                                                    : nullptr;
        PrintLine(name != nullptr ? std::string("Pose source: ") + name
                                  : std::string("Pose source: serial number ") + read.serial);
    }
    return current_;
}

vr::TrackedDeviceIndex_t FindDeviceBySerial(vr::IVRSystem &system, const char *serial)
{
    for (vr::TrackedDeviceIndex_t i = 0; i < vr::k_unMaxTrackedDeviceCount; ++i) {
        if (system.GetTrackedDeviceClass(i) == vr::TrackedDeviceClass_Invalid)
            continue;
        char text[kSerialCapacity] = {};
        vr::ETrackedPropertyError error = vr::TrackedProp_Success;
        system.GetStringTrackedDeviceProperty(i, vr::Prop_SerialNumber_String, text, sizeof text, &error);
        if (error == vr::TrackedProp_Success && std::strcmp(text, serial) == 0)
            return i;
    }
    return vr::k_unTrackedDeviceIndexInvalid;
}

} // namespace tarvolt
