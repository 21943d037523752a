#pragma once
// IVRSettings_003 of the openvr_api stand-in: the simulated runtime's settings, read from and
// written to the tracked-device table's store (the same values the host hands its driver).
// Like SimSystem, it answers nothing after VR_Shutdown and counts each such call.
#include "TrackedDeviceTable.h"

#include <openvr.h>

namespace sim {

class SimSettings final : public vr::IVRSettings {
public:
    void Attach(TrackedDeviceTable *table) { table_ = table, retired_ = nullptr; }
    void Retire()
    {
        if (table_ != nullptr)
            retired_ = table_;
        table_ = nullptr;
    }

    const char *GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) override;
    void SetBool(const char *pchSection, const char *pchSettingsKey, bool bValue, vr::EVRSettingsError *peError) override;
    void SetInt32(const char *pchSection, const char *pchSettingsKey, int32_t nValue,
                  vr::EVRSettingsError *peError) override;
    void SetFloat(const char *pchSection, const char *pchSettingsKey, float flValue,
                  vr::EVRSettingsError *peError) override;
    void SetString(const char *pchSection, const char *pchSettingsKey, const char *pchValue,
                   vr::EVRSettingsError *peError) override;
    bool GetBool(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *peError) override;
    int32_t GetInt32(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *peError) override;
    float GetFloat(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *peError) override;
    void GetString(const char *pchSection, const char *pchSettingsKey, char *pchValue, uint32_t unValueLen,
                   vr::EVRSettingsError *peError) override;
    void RemoveSection(const char *pchSection, vr::EVRSettingsError *peError) override;
    void RemoveKeyInSection(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *peError) override;

private:
    // Runs fn on the table's store under its lock; without a connection reports IPCFailed.
    template <class Fn>
    int32_t With(Fn fn);

    TrackedDeviceTable *table_ = nullptr;
    TrackedDeviceTable *retired_ = nullptr;
};

} // namespace sim
