#include "SimSystem.h"

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
    if (pnWidth != nullptr)
        *pnWidth = 0;
    if (pnHeight != nullptr)
        *pnHeight = 0;
}

void SimSystem::GetProjectionRaw(vr::EVREye, float *pfLeft, float *pfRight, float *pfTop, float *pfBottom)
{
    for (float *f : {pfLeft, pfRight, pfTop, pfBottom})
        if (f != nullptr)
            *f = 0.0f;
}

void SimSystem::GetDXGIOutputInfo(int32_t *pnAdapterIndex)
{
    if (pnAdapterIndex != nullptr)
        *pnAdapterIndex = -1;
}

void SimSystem::GetOutputDevice(uint64_t *pnDevice, vr::ETextureType, VkInstance_T *)
{
    if (pnDevice != nullptr)
        *pnDevice = 0;
}

// Slots without a device read as all zero: not valid, not connected.
void SimSystem::GetDeviceToAbsoluteTrackingPose(vr::ETrackingUniverseOrigin, float,
                                                vr::TrackedDevicePose_t *pTrackedDevicePoseArray,
                                                uint32_t unTrackedDevicePoseArrayCount)
{
    if (pTrackedDevicePoseArray == nullptr || table_ == nullptr)
        return;
    std::memset(static_cast<void *>(pTrackedDevicePoseArray), 0,
                sizeof(vr::TrackedDevicePose_t) * unTrackedDevicePoseArrayCount);
    const uint32_t n = std::min(unTrackedDevicePoseArrayCount, kTrackedDeviceSlots);
    LockTable(*table_);
    for (uint32_t i = 0; i < n; ++i)
        if (table_->slots[i].deviceClass != vr::TrackedDeviceClass_Invalid)
            std::memcpy(static_cast<void *>(&pTrackedDevicePoseArray[i]), table_->slots[i].pose, kPoseRecordSize);
    UnlockTable(*table_);
    if (table_->stampPoseQueries.load(std::memory_order_relaxed) != 0) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const uint64_t ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
        for (uint32_t i = 0; i < n; ++i)
            StampPoseQuery(pTrackedDevicePoseArray[i].vVelocity.v, ns);
    }
    table_->poseQueries.fetch_add(1);
}

// The devices of the class in ascending sort key, then index. Like the runtime, the answer is
// the number of such devices, of which at most the array's capacity are written.
uint32_t SimSystem::GetSortedTrackedDeviceIndicesOfClass(vr::ETrackedDeviceClass eTrackedDeviceClass,
                                                         vr::TrackedDeviceIndex_t *punTrackedDeviceIndexArray,
                                                         uint32_t unTrackedDeviceIndexArrayCount,
                                                         vr::TrackedDeviceIndex_t)
{
    if (table_ == nullptr)
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
    return vr::k_EDeviceActivityLevel_UserInteraction;
}

vr::TrackedDeviceIndex_t SimSystem::GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole unDeviceType)
{
    for (uint32_t i = 0; i < kTrackedDeviceSlots; ++i)
        if (GetControllerRoleForTrackedDeviceIndex(i) == unDeviceType && unDeviceType != vr::TrackedControllerRole_Invalid)
            return i;
    return vr::k_unTrackedDeviceIndexInvalid;
}

vr::ETrackedControllerRole SimSystem::GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t unDeviceIndex)
{
    const TrackedDeviceSlot slot = Slot(unDeviceIndex);
    return slot.deviceClass == vr::TrackedDeviceClass_Invalid ? vr::TrackedControllerRole_Invalid
                                                               : static_cast<vr::ETrackedControllerRole>(slot.role);
}

vr::ETrackedDeviceClass SimSystem::GetTrackedDeviceClass(vr::TrackedDeviceIndex_t unDeviceIndex)
{
    return static_cast<vr::ETrackedDeviceClass>(Slot(unDeviceIndex).deviceClass);
}

bool SimSystem::IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t unDeviceIndex)
{
    const TrackedDeviceSlot slot = Slot(unDeviceIndex);
    vr::TrackedDevicePose_t pose;
    std::memcpy(static_cast<void *>(&pose), slot.pose, kPoseRecordSize);
    return slot.deviceClass != vr::TrackedDeviceClass_Invalid && pose.bDeviceIsConnected;
}

bool SimSystem::GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                             vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    return false;
}

float SimSystem::GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                               vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    return 0.0f;
}

int32_t SimSystem::GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                 vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    return 0;
}

uint64_t SimSystem::GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                   vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    return 0;
}

#if VR_EXPLICIT_STRUCT_RETURN
vr::HmdMatrix34_t *SimSystem::GetMatrix34TrackedDeviceProperty(vr::HmdMatrix34_t *out, vr::TrackedDeviceIndex_t,
                                                               vr::ETrackedDeviceProperty, vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    return Zero(out);
}
#else
vr::HmdMatrix34_t SimSystem::GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                              vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    return {};
}
#endif

uint32_t SimSystem::GetArrayTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                  vr::PropertyTypeTag_t, void *, uint32_t,
                                                  vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    return 0;
}

uint32_t SimSystem::GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                   char *pchValue, uint32_t unBufferSize,
                                                   vr::ETrackedPropertyError *pError)
{
    Unknown(pError);
    if (pchValue != nullptr && unBufferSize > 0)
        pchValue[0] = '\0';
    return 0;
}

vr::EVRFirmwareError SimSystem::PerformFirmwareUpdate(vr::TrackedDeviceIndex_t) { return vr::VRFirmwareError_None; }

uint32_t SimSystem::GetAppContainerFilePaths(char *pchBuffer, uint32_t unBufferSize)
{
    if (pchBuffer != nullptr && unBufferSize > 0)
        pchBuffer[0] = '\0';
    return 1;
}

} // namespace sim
