// The exports of the openvr_api stand-in. Instead of loading the runtime's client library it
// connects to the simulated runtime's tracked-device table: while a host publishes the table,
// initialisation succeeds (unless a test scripted failures) and IVRSystem_022 serves its
// devices; without a host it fails as the official library does when the server is not
// running and a background application asks for it. A successful initialisation registers the
// process as a client of the server, which queues its events and may ask it to quit.
//
// Where the official library is unforgiving, so is the stand-in: a second VR_Init without
// VR_Shutdown leaves the first connection open for the rest of the process (the official
// library loads the runtime's client again and never cleans up the first; SteamVR wants a
// VR_Shutdown between two VR_Init calls, ValveSoftware/openvr issue 1324); and after VR_Shutdown
// the runtime's client is unloaded, so that any further call, the IVRSystem pointer's included,
// would reach unloaded code: the stand-in answers and counts each such call instead.
#include "InitErrorText.h"
#include "ProcessIdentity.h"
#include "SimSettings.h"
#include "SimSystem.h"
#include "TrackedDeviceTable.h"

#include <openvr.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::recursive_mutex apiMutex;
sim::SharedRegion region;
sim::TrackedDeviceTable *table = nullptr;  // non-null while connected
sim::ClientSlot *client = nullptr;         // this process's connection in the table
bool shutDown = false;  // VR_Shutdown ended a connection; region stays mapped to count later calls
sim::SimSystem systemInterface;
sim::SimSettings settingsInterface;
uint32_t initToken = 0;

void ReleaseRegion()
{
    if (region.view != nullptr)
        sim::CloseSharedRegion(region, sizeof(sim::TrackedDeviceTable));
    table = nullptr;
    client = nullptr;
    shutDown = false;
    systemInterface.Attach(nullptr);
    settingsInterface.Attach(nullptr);
}

// Every export notes its call: one after VR_Shutdown ended a connection is counted.
void NoteCall()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    if (shutDown && region.view != nullptr)
        static_cast<sim::TrackedDeviceTable *>(region.view)->callsAfterShutdown.fetch_add(1);
}

// Without a host, what the runtime answers a client for whom it would not start the server;
// other application types would have started it, which the simulation cannot do.
vr::EVRInitError NoServerError(vr::EVRApplicationType type)
{
    return type == vr::VRApplication_Background ? vr::VRInitError_Init_NoServerForBackgroundApp
                                                : vr::VRInitError_IPC_ServerInitFailed;
}

// The scripted time that initialisation takes, looked at again every millisecond.
void WaitScriptedDelay(const sim::TrackedDeviceTable &t)
{
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(t.initDelayMs.load()))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A free client slot (or one whose process has gone) taken for this process; null when all are
// in use.
sim::ClientSlot *Register(sim::TrackedDeviceTable &t)
{
    const uint32_t id = sim::CurrentProcessId();
    const uint64_t start = sim::ProcessStartTime(id);
    sim::ClientSlot *taken = nullptr;
    sim::LockTable(t);
    for (sim::ClientSlot &c : t.clients) {
        if (!sim::ClientStillConnected(c)) {
            c = sim::ClientSlot{};
            c.state = sim::kClientConnected;
            c.processId = id;
            c.processStart = start;
            taken = &c;
            break;
        }
    }
    sim::UnlockTable(t);
    return taken;
}

vr::EVRInitError Connect(vr::EVRApplicationType type)
{
    sim::SharedRegion opened;
    if (!sim::OpenSharedRegion(sim::kTrackedDeviceTableName, sizeof(sim::TrackedDeviceTable), opened))
        return NoServerError(type);
    auto *t = static_cast<sim::TrackedDeviceTable *>(opened.view);
    t->initCalls.fetch_add(1);
    WaitScriptedDelay(*t);
    vr::EVRInitError error = vr::VRInitError_None;
    if (t->hostRunning.load(std::memory_order_acquire) == 0) {
        error = NoServerError(type);
    } else if (t->quitRequested.load() != 0) {
        error = vr::VRInitError_Init_ShuttingDown;
    } else {
        int32_t left = t->initFailuresLeft.load();
        while (left > 0 && !t->initFailuresLeft.compare_exchange_weak(left, left - 1)) {
        }
        if (left > 0)
            error = static_cast<vr::EVRInitError>(t->initFailureCode.load());
    }
    sim::ClientSlot *slot = error == vr::VRInitError_None ? Register(*t) : nullptr;
    if (error == vr::VRInitError_None && slot == nullptr)
        error = vr::VRInitError_Init_Internal;
    if (error != vr::VRInitError_None) {
        sim::CloseSharedRegion(opened, sizeof(sim::TrackedDeviceTable));
        return error;
    }
    region = opened;
    table = t;
    client = slot;
    systemInterface.Attach(table, client);
    settingsInterface.Attach(table);
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
    NoteCall();
    // Already connected: that connection stays open in the table, no longer this library's to close.
    if (table != nullptr)
        table->doubleInits.fetch_add(1);
    ReleaseRegion();
    const EVRInitError error = Connect(eApplicationType);
    if (peError != nullptr)
        *peError = error;
    return error == VRInitError_None ? ++initToken : 0;
}

void VR_CALLTYPE VR_ShutdownInternal()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    NoteCall();
    if (table != nullptr) {
        table->shutdownCalls.fetch_add(1);
        sim::LockTable(*table);
        client->state = sim::kClientShutDown;
        sim::UnlockTable(*table);
        table = nullptr;
        client = nullptr;
        shutDown = true;
        systemInterface.Retire();
        settingsInterface.Retire();
    }
    ++initToken;
}

bool VR_CALLTYPE VR_IsHmdPresent()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    NoteCall();
    if (table == nullptr)
        return false;
    vr::TrackedDeviceIndex_t hmd;
    return systemInterface.GetSortedTrackedDeviceIndicesOfClass(TrackedDeviceClass_HMD, &hmd, 1, 0) > 0;
}

bool VR_CALLTYPE VR_IsRuntimeInstalled()
{
    NoteCall();
    return true;
}

bool VR_GetRuntimePath(char *pchPathBuffer, uint32_t unBufferSize, uint32_t *punRequiredBufferSize)
{
    NoteCall();
    if (punRequiredBufferSize != nullptr)
        *punRequiredBufferSize = 1;
    if (pchPathBuffer != nullptr && unBufferSize > 0)
        pchPathBuffer[0] = '\0';
    return false;
}

const char *VR_CALLTYPE VR_GetVRInitErrorAsSymbol(EVRInitError error)
{
    NoteCall();
    return sim::InitErrorSymbol(error);
}

const char *VR_CALLTYPE VR_GetVRInitErrorAsEnglishDescription(EVRInitError error)
{
    NoteCall();
    return sim::InitErrorEnglish(error);
}

void *VR_CALLTYPE VR_GetGenericInterface(const char *pchInterfaceVersion, EVRInitError *peError)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    NoteCall();
    EVRInitError error = VRInitError_None;
    void *result = nullptr;
    if (table == nullptr)
        error = VRInitError_Init_NotInitialized;
    else if (pchInterfaceVersion != nullptr && std::strcmp(pchInterfaceVersion, IVRSystem_Version) == 0)
        result = static_cast<IVRSystem *>(&systemInterface);
    else if (pchInterfaceVersion != nullptr && std::strcmp(pchInterfaceVersion, IVRSettings_Version) == 0)
        result = static_cast<IVRSettings *>(&settingsInterface);
    else
        error = VRInitError_Init_InvalidInterface;
    if (peError != nullptr)
        *peError = error;
    return result;
}

bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char *pchInterfaceVersion)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    NoteCall();
    return table != nullptr && pchInterfaceVersion != nullptr &&
           (std::strcmp(pchInterfaceVersion, IVRSystem_Version) == 0 ||
            std::strcmp(pchInterfaceVersion, IVRSettings_Version) == 0);
}

uint32_t VR_CALLTYPE VR_GetInitToken()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex);
    NoteCall();
    return initToken;
}

} // namespace vr

uint32_t VR_CALLTYPE VR_InitInternal(vr::EVRInitError *peError, vr::EVRApplicationType eApplicationType)
{
    return vr::VR_InitInternal2(peError, eApplicationType, nullptr);
}

const char *VR_CALLTYPE VR_GetStringForHmdError(vr::EVRInitError error)
{
    NoteCall();
    return sim::InitErrorEnglish(error);
}
