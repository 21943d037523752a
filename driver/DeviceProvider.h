#pragma once
// The driver's single device provider: initialises the host-interface cache, announces the one
// controller, and forwards every runtime frame to it.
#include <openvr_driver.h>

namespace tarvolt {

class ControllerDriver;

class DeviceProvider final : public vr::IServerTrackedDeviceProvider {
public:
    vr::EVRInitError Init(vr::IVRDriverContext *pDriverContext) override;
    void Cleanup() override;
    const char *const *GetInterfaceVersions() override;
    void RunFrame() override;
    bool ShouldBlockStandbyMode() override;
    void EnterStandby() override;
    void LeaveStandby() override;

    // Owned; null until Init creates the device and again after Cleanup.
    ControllerDriver *controller = nullptr;
};

// The one provider of the library, constant-initialised so that it is valid before any code of
// the library has run.
extern DeviceProvider deviceProvider;

// What the exported factory answers: the provider for "IServerTrackedDeviceProvider_004", null and
// 105 through pReturnCode (when given) for anything else.
void *ProviderFactory(const char *pInterfaceName, int *pReturnCode);

} // namespace tarvolt
