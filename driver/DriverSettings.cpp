#include "DriverSettings.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace tarvolt {

namespace {

// The value as the user wrote it, for the log line: whatever type it has.
std::string DescribeValue(vr::IVRSettings &settings, const char *key)
{
    vr::EVRSettingsError error = vr::VRSettingsError_None;
    char text[128] = {};
    settings.GetString(kSettingsSection, key, text, sizeof text, &error);
    if (error == vr::VRSettingsError_None)
        return std::string("\"") + text + "\"";
    error = vr::VRSettingsError_None;
    const bool flag = settings.GetBool(kSettingsSection, key, &error);
    if (error == vr::VRSettingsError_None)
        return flag ? "true" : "false";
    error = vr::VRSettingsError_None;
    const float number = settings.GetFloat(kSettingsSection, key, &error);
    if (error == vr::VRSettingsError_None) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(number));
        return buffer;
    }
    return "(unreadable)";
}

std::string Number(double value)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

void Reject(const std::function<void(const char *)> &log, const char *key, const std::string &value,
            const std::string &why, const std::string &fallback)
{
    const std::string line =
        std::string("Setting ") + key + " = " + value + " " + why + "; using the default " + fallback + ".";
    log(line.c_str());
}

void ReadFloat(vr::IVRSettings &settings, const char *key, float limit, float &value,
               const std::function<void(const char *)> &log)
{
    vr::EVRSettingsError error = vr::VRSettingsError_None;
    const float read = settings.GetFloat(kSettingsSection, key, &error);
    if (error == vr::VRSettingsError_UnsetSettingHasNoDefault)
        return;
    const std::string range = "(allowed " + Number(-limit) + " to " + Number(limit) + ")";
    if (error != vr::VRSettingsError_None)
        return Reject(log, key, DescribeValue(settings, key), "is not a number", Number(value));
    if (!std::isfinite(read) || read < -limit || read > limit)
        return Reject(log, key, Number(read), "is out of range " + range, Number(value));
    value = read;
}

void ReadPressFrames(vr::IVRSettings &settings, int32_t &value, const std::function<void(const char *)> &log)
{
    const char *key = "pressFrames";
    vr::EVRSettingsError error = vr::VRSettingsError_None;
    const int32_t read = settings.GetInt32(kSettingsSection, key, &error);
    if (error == vr::VRSettingsError_UnsetSettingHasNoDefault)
        return;
    if (error != vr::VRSettingsError_None)
        return Reject(log, key, DescribeValue(settings, key), "is not a whole number", Number(value));
    if (read < kMinPressFrames || read > kMaxPressFrames)
        return Reject(log, key, Number(read),
                      "is out of range (allowed " + Number(kMinPressFrames) + " to " + Number(kMaxPressFrames) + ")",
                      Number(value));
    value = read;
}

} // namespace

DriverSettings ReadDriverSettings(vr::IVRSettings *settings, const std::function<void(const char *)> &log)
{
    DriverSettings read;
    if (settings == nullptr)
        return read;
    ReadFloat(*settings, "mountOffsetXMeters", kMaxMountOffsetMeters, read.mountOffsetMeters[0], log);
    ReadFloat(*settings, "mountOffsetYMeters", kMaxMountOffsetMeters, read.mountOffsetMeters[1], log);
    ReadFloat(*settings, "mountOffsetZMeters", kMaxMountOffsetMeters, read.mountOffsetMeters[2], log);
    ReadFloat(*settings, "mountPitchDegrees", kMaxMountDegrees, read.mountPitchDegrees, log);
    ReadFloat(*settings, "mountYawDegrees", kMaxMountDegrees, read.mountYawDegrees, log);
    ReadFloat(*settings, "mountRollDegrees", kMaxMountDegrees, read.mountRollDegrees, log);
    ReadPressFrames(*settings, read.pressFrames, log);
    return read;
}

} // namespace tarvolt
