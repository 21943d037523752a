// The exports of the openvr_api stand-in. Instead of loading the runtime's client library it
// connects to the simulated runtime's tracked-device table: while a host publishes the table,
// initialisation succeeds (unless a test scripted failures) and IVRSystem_022 serves its
// devices; without a host it fails as the official library does when the server is not
// running and a background application asks for it.
#include "InitErrorText.h"
#include "SimSystem.h"
#include "TrackedDeviceTable.h"

#include <openvr.h>

#include <cstring>
#include <mutex>

namespace {

std::recursive_mutex apiMutex;
sim::SharedRegion region;
sim::TrackedDeviceTable *table = nullptr;  // non-null between a successful init and shutdown
sim::SimSystem systemInterface;
uint32_t initToken = 0;

void Disconnect()
{
    if (region.view != nullptr)
        sim::CloseSharedRegion(region, sizeof(sim::TrackedDeviceTable));
    table = nullptr;
    systemInterface.Attach(nullptr);
}

// Without a host, what the runtime answers a client for whom it would not start the server;
// other application types would have started it, which the simulation cannot do.
vr::EVRInitError NoServerError(vr::EVRApplicationType type)
{
    return type == vr::VRApplication_Background ? vr::VRInitError_Init_NoServerForBackgroundApp
                                                : vr::VRInitError_IPC_ServerInitFailed;
}

vr::EVRInitError Connect(vr::EVRApplicationType type)
{
    sim::SharedRegion opened;
    if (!sim::OpenSharedRegion(sim::kTrackedDeviceTableName, sizeof(sim::TrackedDeviceTable), opened))
        return NoServerError(type);
    auto *t = static_cast<sim::TrackedDeviceTable *>(opened.view);
    if (t->hostRunning.load(std::memory_order_acquire) == 0) {
        sim::CloseSharedRegion(opened, sizeof(sim::TrackedDeviceTable));
        return NoServerError(type);
    }
    t->initCalls.fetch_add(1);
    int32_t left = t->initFailuresLeft.load();
    while (left > 0 && !t->initFailuresLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left > 0) {
        const auto code = static_cast<vr::EVRInitError>(t->initFailureCode.load());
        sim::CloseSharedRegion(opened, sizeof(sim::TrackedDeviceTable));
        return code;
    }
    region = opened;
    table = t;
    systemInterface.Attach(table);
    return vr::VRInitError_None;
}

} // namespace

// Exports of the official library that its header no longer declares.
VR_INTERFACE uint32_t VR_CALLTYPE VR_InitInternal(vr::EVRInitError *peError, vr::EVRApplicationType eApplicationType);
VR_INTERFACE const char *VR_CALLTYPE VR_GetStringForHmdError(vr::EVRInitError error);

namespace vr {

uint32_t VR_CALLTYPE VR_InitInternal2(EVRInitError *peError, EVRApplicationType eApplicationType, const char *)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    Disconnect();
    const EVRInitError error = Connect(eApplicationType);
    if (peError != nullptr)
        *peError = error;
    return error == VRInitError_None ? ++initToken : 0;
}

void VR_CALLTYPE VR_ShutdownInternal()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    if (table != nullptr)
        table->shutdownCalls.fetch_add(1);
    Disconnect();
    ++initToken;
}

bool VR_CALLTYPE VR_IsHmdPresent()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    if (table == nullptr)
        return false;
    vr::TrackedDeviceIndex_t hmd;
    return systemInterface.GetSortedTrackedDeviceIndicesOfClass(TrackedDeviceClass_HMD, &hmd, 1, 0) > 0;
}

bool VR_CALLTYPE VR_IsRuntimeInstalled() { return true; }

bool VR_GetRuntimePath(char *pchPathBuffer, uint32_t unBufferSize, uint32_t *punRequiredBufferSize)
{
    if (punRequiredBufferSize != nullptr)
        *punRequiredBufferSize = 1;
    if (pchPathBuffer != nullptr && unBufferSize > 0)
        pchPathBuffer[0] = '\0';
    return false;
}

const char *VR_CALLTYPE VR_GetVRInitErrorAsSymbol(EVRInitError error) { return sim::InitErrorSymbol(error); }

const char *VR_CALLTYPE VR_GetVRInitErrorAsEnglishDescription(EVRInitError error)
{
    return sim::InitErrorEnglish(error);
}

void *VR_CALLTYPE VR_GetGenericInterface(const char *pchInterfaceVersion, EVRInitError *peError)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    EVRInitError error = VRInitError_None;
    void *result = nullptr;
    if (table == nullptr)
        error = VRInitError_Init_NotInitialized;
    else if (pchInterfaceVersion != nullptr && std::strcmp(pchInterfaceVersion, IVRSystem_Version) == 0)
        result = static_cast<IVRSystem *>(&systemInterface);
    else
        error = VRInitError_Init_InvalidInterface;
    if (peError != nullptr)
        *peError = error;
    return result;
}

bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char *pchInterfaceVersion)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    return table != nullptr && pchInterfaceVersion != nullptr &&
           std::strcmp(pchInterfaceVersion, IVRSystem_Version) == 0;
}

uint32_t VR_CALLTYPE VR_GetInitToken()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    return initToken;
}

} // namespace vr

uint32_t VR_CALLTYPE VR_InitInternal(vr::EVRInitError *peError, vr::EVRApplicationType eApplicationType)
{
    return vr::VR_InitInternal2(peError, eApplicationType, nullptr);
}

const char *VR_CALLTYPE VR_GetStringForHmdError(vr::EVRInitError error) { return sim::InitErrorEnglish(error); }
