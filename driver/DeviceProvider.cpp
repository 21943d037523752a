#include "DeviceProvider.h"

#include "ControllerDriver.h"
#include "DriverLog.h"
#include "LibraryPin.h"
#include "bluetooth/Radio.h"

#include <cstring>
#include <new>

namespace tarvolt {

DeviceProvider deviceProvider;

void *ProviderFactory(const char *pInterfaceName, int *pReturnCode)
{
    if (pInterfaceName != nullptr &&
        std::strcmp(pInterfaceName, vr::IServerTrackedDeviceProvider_Version) == 0)
        return static_cast<vr::IServerTrackedDeviceProvider *>(&deviceProvider);
    if (pReturnCode != nullptr)
        *pReturnCode = vr::VRInitError_Init_InterfaceNotFound;
    return nullptr;
}

namespace {

vr::EVRInitError InitHostInterfaces(vr::IVRDriverContext *pDriverContext)
{
    // Fetches and caches, in order, the server driver host, settings, properties, driver log,
    // driver manager and resources; returns 105 at the first missing one but properties.
    VR_INIT_SERVER_DRIVER_CONTEXT(pDriverContext);
    return vr::VRInitError_None;
}

} // namespace

vr::EVRInitError DeviceProvider::Init(vr::IVRDriverContext *pDriverContext)
{
    if (pDriverContext == nullptr)
        return vr::VRInitError_Init_InterfaceNotFound;
    try {
        const vr::EVRInitError error = InitHostInterfaces(pDriverContext);
        if (error != vr::VRInitError_None)
            return error;

        Log("Initializing controller");
        if (controller == nullptr)
            controller = new ControllerDriver();
        // A refusal is not examined: the driver stays loaded either way.
        vr::VRServerDriverHost()->TrackedDeviceAdded(kSerialNumber, vr::TrackedDeviceClass_Controller,
                                                     controller);
        return vr::VRInitError_None;
    } catch (...) {
        return vr::VRInitError_Driver_Failed;
    }
}

void DeviceProvider::Cleanup()
{
    try {
        if (controller != nullptr) {
            // Normally Deactivate has taken the device down already. If the runtime skipped it,
            // that happens here: the relay must not run on until the server ends, and destroying
            // a std::thread that still runs would end the process.
            controller->TearDown();
            delete controller;
            controller = nullptr;
        }
        // The runtime unloads the library next. A callback the platform still holds (a cancelled
        // operation that has not finished, an event it has not let go of) would then be called or
        // released in unmapped code, so the library stays loaded instead.
        if (radio::PlatformRadio().CallbacksHeld() > 0) {
            if (PinDriverLibrary())
                Log("Bluetooth callbacks are still held by the platform; the driver stays loaded.");
            else
                Log("Bluetooth callbacks are still held by the platform, and the driver could not be kept loaded.");
        }
    } catch (...) {
        // Nothing may leave into the runtime.
    }
}

const char *const *DeviceProvider::GetInterfaceVersions() { return vr::k_InterfaceVersions; }

void DeviceProvider::RunFrame()
{
    if (controller != nullptr)
        controller->UpdateFrame();
}

bool DeviceProvider::ShouldBlockStandbyMode() { return false; }

void DeviceProvider::EnterStandby() {}

void DeviceProvider::LeaveStandby() {}

} // namespace tarvolt
