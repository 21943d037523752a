#include "SimSystem.h"

#include "ClientEnding.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace sim {

namespace {

void Unknown(vr::ETrackedPropertyError *pError)
{
    if (pError != nullptr)
        *pError = vr::TrackedProp_UnknownProperty;
}

} // namespace

void SimSystem::Attach(TrackedDeviceTable *table, ClientSlot *client)
{
    table_ = table;
    client_ = client;
    retired_ = nullptr;
}

void SimSystem::Retire()
{
    if (table_ != nullptr)
        retired_ = table_;
    table_ = nullptr;
    client_ = nullptr;
}

bool SimSystem::Live()
{
    if (table_ != nullptr)
        return true;
    if (retired_ != nullptr)
        retired_->callsAfterShutdown.fetch_add(1);
    return false;
}

TrackedDeviceSlot SimSystem::Slot(vr::TrackedDeviceIndex_t index) const
{
    TrackedDeviceSlot slot{};
    if (table_ == nullptr || index >= kTrackedDeviceSlots)
        return slot;
    LockTable(*table_);
    slot = table_->slots[index];
    UnlockTable(*table_);
    return slot;
}

void SimSystem::GetRecommendedRenderTargetSize(uint32_t *pnWidth, uint32_t *pnHeight)
{
    Live();
    if (pnWidth != nullptr)
        *pnWidth = 0;
    if (pnHeight != nullptr)
        *pnHeight = 0;
}

void SimSystem::GetProjectionRaw(vr::EVREye, float *pfLeft, float *pfRight, float *pfTop, float *pfBottom)
{
    Live();
    for (float *f : {pfLeft, pfRight, pfTop, pfBottom})
        if (f != nullptr)
            *f = 0.0f;
}

void SimSystem::GetDXGIOutputInfo(int32_t *pnAdapterIndex)
{
    Live();
    if (pnAdapterIndex != nullptr)
        *pnAdapterIndex = -1;
}

void SimSystem::GetOutputDevice(uint64_t *pnDevice, vr::ETextureType, VkInstance_T *)
{
    Live();
    if (pnDevice != nullptr)
        *pnDevice = 0;
}

// Slots without a device read as all zero: not valid, not connected. The table holds standing
// poses; the runtime answers each origin in its own space (OpenVR: ETrackingUniverseOrigin), and
// an origin it does not know with nothing.
void SimSystem::GetDeviceToAbsoluteTrackingPose(vr::ETrackingUniverseOrigin eOrigin, float,
                                                vr::TrackedDevicePose_t *pTrackedDevicePoseArray,
                                                uint32_t unTrackedDevicePoseArrayCount)
{
    if (!Live() || pTrackedDevicePoseArray == nullptr)
        return;
    std::memset(static_cast<void *>(pTrackedDevicePoseArray), 0,
                sizeof(vr::TrackedDevicePose_t) * unTrackedDevicePoseArrayCount);
    const uint32_t n = std::min(unTrackedDevicePoseArrayCount, kTrackedDeviceSlots);
    bool known = true;
    bool standing = false;
    RigidTransform fromStanding{};
    if (eOrigin == vr::TrackingUniverseStanding)
        standing = true;
    else if (eOrigin == vr::TrackingUniverseRawAndUncalibrated)
        fromStanding = Inverse(table_->standingFromRaw);
    else if (eOrigin == vr::TrackingUniverseSeated)
        fromStanding = Inverse(SeatedZeroInStanding());
    else
        known = false;
    LockTable(*table_);
    for (uint32_t i = 0; known && i < n; ++i) {
        if (table_->slots[i].deviceClass == vr::TrackedDeviceClass_Invalid)
            continue;
        std::memcpy(static_cast<void *>(&pTrackedDevicePoseArray[i]), table_->slots[i].pose, kPoseRecordSize);
        if (!standing)
            TransformPose(fromStanding, pTrackedDevicePoseArray[i]);
    }
    UnlockTable(*table_);
    // The stamp goes in after the move into the caller's space, which would turn it.
    if (table_->stampPoseQueries.load(std::memory_order_relaxed) != 0) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const uint64_t ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
        for (uint32_t i = 0; i < n; ++i)
            StampPoseQuery(pTrackedDevicePoseArray[i].vVelocity.v, ns);
    }
    table_->poseQueries.fetch_add(1);
}

namespace {
vr::HmdMatrix34_t AsMatrix(const RigidTransform &t)
{
    vr::HmdMatrix34_t m{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m.m[i][j] = static_cast<float>(t.r[i][j]);
        m.m[i][3] = static_cast<float>(t.t[i]);
    }
    return m;
}
} // namespace

vr::HmdMatrix34_t SimSystem::SeatedZeroPoseToStanding() const
{
    return AsMatrix(SeatedZeroInStanding());
}

vr::HmdMatrix34_t SimSystem::RawZeroPoseToStanding() const
{
    return table_ != nullptr ? AsMatrix(table_->standingFromRaw) : vr::HmdMatrix34_t{};
}

// The devices of the class in ascending sort key, then index. Like the runtime, the answer is
// the number of such devices, of which at most the array's capacity are written.
uint32_t SimSystem::GetSortedTrackedDeviceIndicesOfClass(vr::ETrackedDeviceClass eTrackedDeviceClass,
                                                         vr::TrackedDeviceIndex_t *punTrackedDeviceIndexArray,
                                                         uint32_t unTrackedDeviceIndexArrayCount,
                                                         vr::TrackedDeviceIndex_t)
{
    if (!Live())
        return 0;
    vr::TrackedDeviceIndex_t found[kTrackedDeviceSlots];
    int32_t keys[kTrackedDeviceSlots];
    uint32_t n = 0;
    LockTable(*table_);
    for (uint32_t i = 0; i < kTrackedDeviceSlots; ++i) {
        if (table_->slots[i].deviceClass == eTrackedDeviceClass && eTrackedDeviceClass != vr::TrackedDeviceClass_Invalid) {
            keys[i] = table_->slots[i].sortKey;
            found[n++] = i;
        }
    }
    UnlockTable(*table_);
    std::stable_sort(found, found + n, [&](vr::TrackedDeviceIndex_t a, vr::TrackedDeviceIndex_t b) {
        return keys[a] < keys[b];
    });
    if (punTrackedDeviceIndexArray != nullptr)
        std::copy(found, found + std::min(n, unTrackedDeviceIndexArrayCount), punTrackedDeviceIndexArray);
    return n;
}

vr::EDeviceActivityLevel SimSystem::GetTrackedDeviceActivityLevel(vr::TrackedDeviceIndex_t)
{
    Live();
    return vr::k_EDeviceActivityLevel_UserInteraction;
}

namespace {

// A device's role is its driver's role hint (Prop_ControllerRoleHint_Int32), also for the
// roles that no hand takes (OptOut, Treadmill, Stylus).
vr::ETrackedControllerRole RoleOf(const TrackedDeviceSlot &slot)
{
    return slot.deviceClass == vr::TrackedDeviceClass_Invalid ? vr::TrackedControllerRole_Invalid
                                                               : static_cast<vr::ETrackedControllerRole>(slot.role);
}

} // namespace

vr::TrackedDeviceIndex_t SimSystem::GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole unDeviceType)
{
    if (!Live() || unDeviceType == vr::TrackedControllerRole_Invalid)
        return vr::k_unTrackedDeviceIndexInvalid;
    for (uint32_t i = 0; i < kTrackedDeviceSlots; ++i)
        if (RoleOf(Slot(i)) == unDeviceType)
            return i;
    return vr::k_unTrackedDeviceIndexInvalid;
}

vr::ETrackedControllerRole SimSystem::GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t unDeviceIndex)
{
    Live();
    return RoleOf(Slot(unDeviceIndex));
}

vr::ETrackedDeviceClass SimSystem::GetTrackedDeviceClass(vr::TrackedDeviceIndex_t unDeviceIndex)
{
    Live();
    return static_cast<vr::ETrackedDeviceClass>(Slot(unDeviceIndex).deviceClass);
}

bool SimSystem::IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t unDeviceIndex)
{
    Live();
    const TrackedDeviceSlot slot = Slot(unDeviceIndex);
    vr::TrackedDevicePose_t pose;
    std::memcpy(static_cast<void *>(&pose), slot.pose, kPoseRecordSize);
    return slot.deviceClass != vr::TrackedDeviceClass_Invalid && pose.bDeviceIsConnected;
}

bool SimSystem::GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                             vr::ETrackedPropertyError *pError)
{
    Live();
    Unknown(pError);
    return false;
}

float SimSystem::GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                               vr::ETrackedPropertyError *pError)
{
    Live();
    Unknown(pError);
    return 0.0f;
}

int32_t SimSystem::GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                 vr::ETrackedPropertyError *pError)
{
    Live();
    Unknown(pError);
    return 0;
}

uint64_t SimSystem::GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                   vr::ETrackedPropertyError *pError)
{
    Live();
    Unknown(pError);
    return 0;
}

#if VR_EXPLICIT_STRUCT_RETURN
vr::HmdMatrix34_t *SimSystem::GetMatrix34TrackedDeviceProperty(vr::HmdMatrix34_t *out, vr::TrackedDeviceIndex_t,
                                                               vr::ETrackedDeviceProperty, vr::ETrackedPropertyError *pError)
{
    Live();
    Unknown(pError);
    return Zero(out);
}
#else
vr::HmdMatrix34_t SimSystem::GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                              vr::ETrackedPropertyError *pError)
{
    Live();
    Unknown(pError);
    return {};
}
#endif

uint32_t SimSystem::GetArrayTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                  vr::PropertyTypeTag_t, void *, uint32_t,
                                                  vr::ETrackedPropertyError *pError)
{
    Live();
    Unknown(pError);
    return 0;
}

// The serial number is the one string property the table holds. As the runtime answers: the
// length with its NUL; a buffer too small gets nothing and TrackedProp_BufferTooSmall; an index
// without a device TrackedProp_InvalidDevice.
uint32_t SimSystem::GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex,
                                                   vr::ETrackedDeviceProperty prop, char *pchValue,
                                                   uint32_t unBufferSize, vr::ETrackedPropertyError *pError)
{
    if (pchValue != nullptr && unBufferSize > 0)
        pchValue[0] = '\0';
    if (!Live()) {
        Unknown(pError);
        return 0;
    }
    const TrackedDeviceSlot slot = Slot(unDeviceIndex);
    vr::ETrackedPropertyError error = vr::TrackedProp_Success;
    uint32_t length = 0;
    if (slot.deviceClass == vr::TrackedDeviceClass_Invalid) {
        error = vr::TrackedProp_InvalidDevice;
    } else if (prop != vr::Prop_SerialNumber_String || slot.serial[0] == '\0') {
        error = vr::TrackedProp_UnknownProperty;
    } else {
        length = static_cast<uint32_t>(strnlen(slot.serial, kSerialNumberSize)) + 1;
        if (pchValue == nullptr || unBufferSize < length) {
            error = vr::TrackedProp_BufferTooSmall;
        } else {
            std::memcpy(pchValue, slot.serial, length - 1);
            pchValue[length - 1] = '\0';
        }
    }
    if (pError != nullptr)
        *pError = error;
    return length;
}

vr::EVRFirmwareError SimSystem::PerformFirmwareUpdate(vr::TrackedDeviceIndex_t)
{
    Live();
    return vr::VRFirmwareError_None;
}

// The event as the runtime delivers it: its type, no device, no age, and for the process events
// (quit requests among them) this process's id. A size other than this build's VREvent_t is
// refused, as a mismatched layout would be misread.
bool SimSystem::PollNextEvent(vr::VREvent_t *pEvent, uint32_t uncbVREvent)
{
    if (!Live() || pEvent == nullptr || uncbVREvent != sizeof(vr::VREvent_t))
        return false;
    uint32_t type = 0;
    LockTable(*table_);
    const bool taken = TakeClientEvent(*client_, type);
    const uint32_t processId = client_->processId;
    UnlockTable(*table_);
    if (!taken)
        return false;
    ActOnEndingEvent(type);
    std::memset(static_cast<void *>(pEvent), 0, sizeof *pEvent);
    pEvent->eventType = type;
    pEvent->trackedDeviceIndex = vr::k_unTrackedDeviceIndexInvalid;
    if (type == vr::VREvent_Quit || type == vr::VREvent_ProcessQuit || type == vr::VREvent_QuitAcknowledged)
        pEvent->data.process.pid = processId;
    return true;
}

bool SimSystem::PollNextEventWithPose(vr::ETrackingUniverseOrigin, vr::VREvent_t *pEvent, uint32_t uncbVREvent,
                                      vr::TrackedDevicePose_t *pTrackedDevicePose)
{
    if (!PollNextEvent(pEvent, uncbVREvent))
        return false;
    if (pTrackedDevicePose != nullptr)
        std::memset(static_cast<void *>(pTrackedDevicePose), 0, sizeof *pTrackedDevicePose);
    return true;
}

void SimSystem::AcknowledgeQuit_Exiting()
{
    if (Live())
        table_->quitAcknowledgements.fetch_add(1);
}

uint32_t SimSystem::GetAppContainerFilePaths(char *pchBuffer, uint32_t unBufferSize)
{
    Live();
    if (pchBuffer != nullptr && unBufferSize > 0)
        pchBuffer[0] = '\0';
    return 1;
}

} // namespace sim
