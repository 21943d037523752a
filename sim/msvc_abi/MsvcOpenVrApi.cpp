// The exports of the client library as the official openvr_api.dll has them (C names, the MSVC
// build of the library), for the relay's MSVC-ABI test package. Each one forwards to the g++
// stand-in (gxx_api_*); the IVRSystem and IVRSettings it hands out are this side's, compiled for
// the MSVC ABI.
// The exports are listed in openvr_api_msvc.def.
#define OPENVR_BUILD_STATIC
#include "MsvcSeam.h"

#include <openvr.h>

namespace {

bool SameText(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

} // namespace

namespace vr {

uint32_t VR_CALLTYPE VR_InitInternal2(EVRInitError *peError, EVRApplicationType eApplicationType, const char *pStartupInfo)
{
    int32_t error = VRInitError_None;
    const uint32_t token = gxx_api_init(&error, eApplicationType, pStartupInfo);
    if (peError != nullptr)
        *peError = static_cast<EVRInitError>(error);
    return token;
}

void VR_CALLTYPE VR_ShutdownInternal() { gxx_api_shutdown(); }

bool VR_CALLTYPE VR_IsHmdPresent() { return gxx_api_is_hmd_present() != 0; }

bool VR_CALLTYPE VR_IsRuntimeInstalled() { return gxx_api_is_runtime_installed() != 0; }

bool VR_GetRuntimePath(char *pchPathBuffer, uint32_t unBufferSize, uint32_t *punRequiredBufferSize)
{
    return gxx_api_runtime_path(pchPathBuffer, unBufferSize, punRequiredBufferSize) != 0;
}

const char *VR_CALLTYPE VR_GetVRInitErrorAsSymbol(EVRInitError error) { return gxx_api_error_symbol(error); }

const char *VR_CALLTYPE VR_GetVRInitErrorAsEnglishDescription(EVRInitError error)
{
    return gxx_api_error_description(error);
}

void *VR_CALLTYPE VR_GetGenericInterface(const char *pchInterfaceVersion, EVRInitError *peError)
{
    int32_t error = VRInitError_None;
    void *answer = gxx_api_generic_interface(pchInterfaceVersion, &error);
    if (peError != nullptr)
        *peError = static_cast<EVRInitError>(error);
    if (answer == nullptr || pchInterfaceVersion == nullptr)
        return nullptr;
    if (SameText(pchInterfaceVersion, IVRSystem_Version))
        return msvc_system_object();
    if (SameText(pchInterfaceVersion, IVRSettings_Version))
        return msvc_client_settings_object();
    return nullptr;
}

bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char *pchInterfaceVersion)
{
    return gxx_api_is_interface_version_valid(pchInterfaceVersion) != 0;
}

uint32_t VR_CALLTYPE VR_GetInitToken() { return gxx_api_init_token(); }

} // namespace vr

// The official library's older names, still exported.
extern "C" uint32_t VR_CALLTYPE VR_InitInternal(vr::EVRInitError *peError, vr::EVRApplicationType eApplicationType)
{
    return vr::VR_InitInternal2(peError, eApplicationType, nullptr);
}

extern "C" const char *VR_CALLTYPE VR_GetStringForHmdError(vr::EVRInitError error)
{
    return gxx_api_error_description(error);
}
