#include "SimSettings.h"

namespace sim {

namespace {

void Report(vr::EVRSettingsError *peError, int32_t error)
{
    if (peError != nullptr)
        *peError = static_cast<vr::EVRSettingsError>(error);
}

int32_t Written(bool done) { return done ? vr::VRSettingsError_None : vr::VRSettingsError_WriteFailed; }

} // namespace

template <class Fn>
int32_t SimSettings::With(Fn fn)
{
    if (table_ == nullptr) {
        if (retired_ != nullptr)
            retired_->callsAfterShutdown.fetch_add(1);
        return vr::VRSettingsError_IPCFailed;
    }
    LockTable(*table_);
    const int32_t error = fn(table_->settings);
    UnlockTable(*table_);
    return error;
}

const char *SimSettings::GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError)
{
    With([](SettingsStore &) { return 0; });
    switch (eError) {
    case vr::VRSettingsError_None: return "VRSettingsError_None";
    case vr::VRSettingsError_IPCFailed: return "VRSettingsError_IPCFailed";
    case vr::VRSettingsError_WriteFailed: return "VRSettingsError_WriteFailed";
    case vr::VRSettingsError_ReadFailed: return "VRSettingsError_ReadFailed";
    case vr::VRSettingsError_JsonParseFailed: return "VRSettingsError_JsonParseFailed";
    case vr::VRSettingsError_UnsetSettingHasNoDefault: return "VRSettingsError_UnsetSettingHasNoDefault";
    }
    return "Unknown";
}

void SimSettings::SetBool(const char *section, const char *key, bool value, vr::EVRSettingsError *e)
{
    Report(e, With([&](SettingsStore &s) { return Written(PutBool(s, section, key, value)); }));
}
void SimSettings::SetInt32(const char *section, const char *key, int32_t value, vr::EVRSettingsError *e)
{
    Report(e, With([&](SettingsStore &s) { return Written(PutInt32(s, section, key, value)); }));
}
void SimSettings::SetFloat(const char *section, const char *key, float value, vr::EVRSettingsError *e)
{
    Report(e, With([&](SettingsStore &s) { return Written(PutFloat(s, section, key, value)); }));
}
void SimSettings::SetString(const char *section, const char *key, const char *value, vr::EVRSettingsError *e)
{
    Report(e, With([&](SettingsStore &s) { return Written(PutString(s, section, key, value)); }));
}
bool SimSettings::GetBool(const char *section, const char *key, vr::EVRSettingsError *e)
{
    bool value = false;
    Report(e, With([&](SettingsStore &s) { return sim::GetBool(s, section, key, value); }));
    return value;
}
int32_t SimSettings::GetInt32(const char *section, const char *key, vr::EVRSettingsError *e)
{
    int32_t value = 0;
    Report(e, With([&](SettingsStore &s) { return sim::GetInt32(s, section, key, value); }));
    return value;
}
float SimSettings::GetFloat(const char *section, const char *key, vr::EVRSettingsError *e)
{
    float value = 0.0f;
    Report(e, With([&](SettingsStore &s) { return sim::GetFloat(s, section, key, value); }));
    return value;
}
void SimSettings::GetString(const char *section, const char *key, char *pchValue, uint32_t unValueLen,
                            vr::EVRSettingsError *e)
{
    if (pchValue != nullptr && unValueLen > 0)
        pchValue[0] = '\0';
    Report(e, With([&](SettingsStore &s) { return sim::GetString(s, section, key, pchValue, unValueLen); }));
}
void SimSettings::RemoveSection(const char *section, vr::EVRSettingsError *e)
{
    Report(e, With([&](SettingsStore &s) { return sim::RemoveSection(s, section), vr::VRSettingsError_None; }));
}
void SimSettings::RemoveKeyInSection(const char *section, const char *key, vr::EVRSettingsError *e)
{
    Report(e, With([&](SettingsStore &s) { return RemoveKey(s, section, key), vr::VRSettingsError_None; }));
}

} // namespace sim
