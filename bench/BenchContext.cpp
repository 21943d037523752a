#include "BenchContext.h"

#include <cstring>

namespace bench {

void BenchContext::Install()
{
    vr::CleanupDriverContext();
    vr::VRDriverContext() = this;
}

void *BenchContext::GetGenericInterface(const char *pchInterfaceVersion, vr::EVRInitError *peError)
{
    void *answer = nullptr;
    if (std::strcmp(pchInterfaceVersion, vr::IVRServerDriverHost_Version) == 0)
        answer = static_cast<vr::IVRServerDriverHost *>(this);
    else if (std::strcmp(pchInterfaceVersion, vr::IVRDriverInput_Version) == 0)
        answer = static_cast<vr::IVRDriverInput *>(this);
    else if (std::strcmp(pchInterfaceVersion, vr::IVRDriverLog_Version) == 0)
        answer = static_cast<vr::IVRDriverLog *>(this);
    if (peError != nullptr)
        *peError = answer ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
    return answer;
}

vr::EVRInputError BenchContext::CreateBooleanComponent(vr::PropertyContainerHandle_t, const char *,
                                                       vr::VRInputComponentHandle_t *pHandle)
{
    *pHandle = 1;
    return vr::VRInputError_None;
}

vr::EVRInputError BenchContext::CreateScalarComponent(vr::PropertyContainerHandle_t, const char *,
                                                      vr::VRInputComponentHandle_t *pHandle, vr::EVRScalarType,
                                                      vr::EVRScalarUnits)
{
    *pHandle = 2;
    return vr::VRInputError_None;
}

vr::EVRInputError BenchContext::CreateHapticComponent(vr::PropertyContainerHandle_t, const char *,
                                                      vr::VRInputComponentHandle_t *)
{
    return vr::VRInputError_InvalidHandle;
}

vr::EVRInputError BenchContext::CreateSkeletonComponent(vr::PropertyContainerHandle_t, const char *, const char *,
                                                        const char *, vr::EVRSkeletalTrackingLevel,
                                                        const vr::VRBoneTransform_t *, uint32_t,
                                                        vr::VRInputComponentHandle_t *)
{
    return vr::VRInputError_InvalidHandle;
}

vr::EVRInputError BenchContext::UpdateSkeletonComponent(vr::VRInputComponentHandle_t, vr::EVRSkeletalMotionRange,
                                                        const vr::VRBoneTransform_t *, uint32_t)
{
    return vr::VRInputError_InvalidHandle;
}

void BenchContext::Log(const char *pchLogMessage)
{
    ++logLines;
    lastLogLength = std::strlen(pchLogMessage);
}

} // namespace bench
