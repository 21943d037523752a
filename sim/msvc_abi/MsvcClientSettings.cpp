// The runtime's IVRSettings_003 as the official client library hands it to an application:
// compiled for the MSVC ABI, every slot in the interface's order. The Get slots forward to the
// g++ stand-in's settings (gxx_settings_*); the others answer as for a key that is not set.
#include "MsvcSeam.h"

#include <openvr.h>

namespace {

void Report(vr::EVRSettingsError *peError, int32_t error)
{
    if (peError != nullptr)
        *peError = static_cast<vr::EVRSettingsError>(error);
}

void Unset(vr::EVRSettingsError *peError) { Report(peError, vr::VRSettingsError_UnsetSettingHasNoDefault); }

class ClientSettings final : public vr::IVRSettings {
public:
    const char *GetSettingsErrorNameFromEnum(vr::EVRSettingsError) override { return "VRSettingsError"; }
    void SetBool(const char *, const char *, bool, vr::EVRSettingsError *e) override { Unset(e); }
    void SetInt32(const char *, const char *, int32_t, vr::EVRSettingsError *e) override { Unset(e); }
    void SetFloat(const char *, const char *, float, vr::EVRSettingsError *e) override { Unset(e); }
    void SetString(const char *, const char *, const char *, vr::EVRSettingsError *e) override { Unset(e); }
    bool GetBool(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *e) override
    {
        int32_t error = 0;
        const bool value = gxx_settings_get_bool(pchSection, pchSettingsKey, &error) != 0;
        Report(e, error);
        return value;
    }
    int32_t GetInt32(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *e) override
    {
        int32_t error = 0;
        const int32_t value = gxx_settings_get_int32(pchSection, pchSettingsKey, &error);
        Report(e, error);
        return value;
    }
    float GetFloat(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *e) override
    {
        int32_t error = 0;
        const float value = gxx_settings_get_float(pchSection, pchSettingsKey, &error);
        Report(e, error);
        return value;
    }
    void GetString(const char *pchSection, const char *pchSettingsKey, char *pchValue, uint32_t unValueLen,
                   vr::EVRSettingsError *e) override
    {
        int32_t error = 0;
        gxx_settings_get_string(pchSection, pchSettingsKey, pchValue, unValueLen, &error);
        Report(e, error);
    }
    void RemoveSection(const char *, vr::EVRSettingsError *e) override { Unset(e); }
    void RemoveKeyInSection(const char *, const char *, vr::EVRSettingsError *e) override { Unset(e); }
};

ClientSettings settings;

} // namespace

extern "C" void *msvc_client_settings_object(void) { return static_cast<vr::IVRSettings *>(&settings); }
