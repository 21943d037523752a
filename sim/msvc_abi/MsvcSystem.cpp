// The runtime's IVRSystem_022 as the official client library hands it to an application:
// compiled for the MSVC ABI, every slot in the interface's order. The slots the relay calls go to
// the g++ side (gxx_system_*); every other slot answers zeros, so that a call the relay starts to
// make later lands in its own slot, is counted, and is easy to fill in here.
#include "MsvcSeam.h"

#include <openvr.h>

#include "ClientLayouts.h"

namespace {

uint32_t slotCalls[MSVC_SYSTEM_SLOTS];

void Count(int slot) { __atomic_fetch_add(&slotCalls[slot], 1u, __ATOMIC_RELAXED); }

template <class T>
T Zeroed()
{
    T value;
    __builtin_memset(&value, 0, sizeof value);
    return value;
}

class System final : public vr::IVRSystem {
public:
    void GetRecommendedRenderTargetSize(uint32_t *pnWidth, uint32_t *pnHeight) override
    {
        Count(0);
        if (pnWidth != nullptr)
            *pnWidth = 0;
        if (pnHeight != nullptr)
            *pnHeight = 0;
    }
    vr::HmdMatrix44_t GetProjectionMatrix(vr::EVREye, float, float) override
    {
        Count(1);
        return Zeroed<vr::HmdMatrix44_t>();
    }
    void GetProjectionRaw(vr::EVREye, float *, float *, float *, float *) override { Count(2); }
    bool ComputeDistortion(vr::EVREye, float, float, vr::DistortionCoordinates_t *) override
    {
        Count(3);
        return false;
    }
    vr::HmdMatrix34_t GetEyeToHeadTransform(vr::EVREye) override
    {
        Count(4);
        return Zeroed<vr::HmdMatrix34_t>();
    }
    bool GetTimeSinceLastVsync(float *, uint64_t *) override
    {
        Count(5);
        return false;
    }
    int32_t GetD3D9AdapterIndex() override
    {
        Count(6);
        return 0;
    }
    void GetDXGIOutputInfo(int32_t *) override { Count(7); }
    void GetOutputDevice(uint64_t *, vr::ETextureType, VkInstance_T *) override { Count(8); }
    bool IsDisplayOnDesktop() override
    {
        Count(9);
        return false;
    }
    bool SetDisplayVisibility(bool) override
    {
        Count(10);
        return false;
    }

    void GetDeviceToAbsoluteTrackingPose(vr::ETrackingUniverseOrigin eOrigin, float fPredictedSecondsToPhotonsFromNow,
                                         vr::TrackedDevicePose_t *pTrackedDevicePoseArray,
                                         uint32_t unTrackedDevicePoseArrayCount) override
    {
        Count(11);
        gxx_system_device_poses(eOrigin, fPredictedSecondsToPhotonsFromNow, pTrackedDevicePoseArray,
                                unTrackedDevicePoseArrayCount);
    }
    vr::HmdMatrix34_t GetSeatedZeroPoseToStandingAbsoluteTrackingPose() override
    {
        Count(12);
        return Zeroed<vr::HmdMatrix34_t>();
    }
    vr::HmdMatrix34_t GetRawZeroPoseToStandingAbsoluteTrackingPose() override
    {
        Count(13);
        return Zeroed<vr::HmdMatrix34_t>();
    }
    uint32_t GetSortedTrackedDeviceIndicesOfClass(vr::ETrackedDeviceClass eTrackedDeviceClass,
                                                  vr::TrackedDeviceIndex_t *punTrackedDeviceIndexArray,
                                                  uint32_t unTrackedDeviceIndexArrayCount,
                                                  vr::TrackedDeviceIndex_t unRelativeToTrackedDeviceIndex) override
    {
        Count(14);
        return gxx_system_sorted_devices(eTrackedDeviceClass, punTrackedDeviceIndexArray,
                                         unTrackedDeviceIndexArrayCount, unRelativeToTrackedDeviceIndex);
    }
    vr::EDeviceActivityLevel GetTrackedDeviceActivityLevel(vr::TrackedDeviceIndex_t) override
    {
        Count(15);
        return vr::k_EDeviceActivityLevel_Idle;
    }
    void ApplyTransform(vr::TrackedDevicePose_t *, const vr::TrackedDevicePose_t *, const vr::HmdMatrix34_t *) override
    {
        Count(16);
    }
    vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole) override
    {
        Count(17);
        return 0;
    }
    vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t unDeviceIndex) override
    {
        Count(18);
        return static_cast<vr::ETrackedControllerRole>(gxx_system_controller_role(unDeviceIndex));
    }

    vr::ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t unDeviceIndex) override
    {
        Count(19);
        return static_cast<vr::ETrackedDeviceClass>(gxx_system_device_class(unDeviceIndex));
    }
    bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t) override
    {
        Count(20);
        return false;
    }
    bool GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                      vr::ETrackedPropertyError *) override
    {
        Count(21);
        return false;
    }
    float GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                        vr::ETrackedPropertyError *) override
    {
        Count(22);
        return 0.0f;
    }
    int32_t GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                          vr::ETrackedPropertyError *) override
    {
        Count(23);
        return 0;
    }
    uint64_t GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                            vr::ETrackedPropertyError *) override
    {
        Count(24);
        return 0;
    }
    vr::HmdMatrix34_t GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                       vr::ETrackedPropertyError *) override
    {
        Count(25);
        return Zeroed<vr::HmdMatrix34_t>();
    }
    uint32_t GetArrayTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty, vr::PropertyTypeTag_t,
                                           void *, uint32_t, vr::ETrackedPropertyError *) override
    {
        Count(26);
        return 0;
    }
    uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, vr::ETrackedDeviceProperty prop,
                                            char *pchValue, uint32_t unBufferSize, vr::ETrackedPropertyError *pError) override
    {
        Count(27);
        int32_t error = vr::TrackedProp_Success;
        const uint32_t length = gxx_system_string_property(unDeviceIndex, prop, pchValue, unBufferSize, &error);
        if (pError != nullptr)
            *pError = static_cast<vr::ETrackedPropertyError>(error);
        return length;
    }
    const char *GetPropErrorNameFromEnum(vr::ETrackedPropertyError) override
    {
        Count(28);
        return "";
    }

    bool PollNextEvent(vr::VREvent_t *pEvent, uint32_t uncbVREvent) override
    {
        Count(29);
        return gxx_system_poll_event(pEvent, uncbVREvent) != 0;
    }
    bool PollNextEventWithPose(vr::ETrackingUniverseOrigin, vr::VREvent_t *, uint32_t, vr::TrackedDevicePose_t *) override
    {
        Count(30);
        return false;
    }
    const char *GetEventTypeNameFromEnum(vr::EVREventType) override
    {
        Count(31);
        return "";
    }
    vr::HiddenAreaMesh_t GetHiddenAreaMesh(vr::EVREye, vr::EHiddenAreaMeshType) override
    {
        Count(32);
        return Zeroed<vr::HiddenAreaMesh_t>();
    }

    bool GetControllerState(vr::TrackedDeviceIndex_t, vr::VRControllerState_t *, uint32_t) override
    {
        Count(33);
        return false;
    }
    bool GetControllerStateWithPose(vr::ETrackingUniverseOrigin, vr::TrackedDeviceIndex_t, vr::VRControllerState_t *,
                                    uint32_t, vr::TrackedDevicePose_t *) override
    {
        Count(34);
        return false;
    }
    void TriggerHapticPulse(vr::TrackedDeviceIndex_t, uint32_t, unsigned short) override { Count(35); }
    const char *GetButtonIdNameFromEnum(vr::EVRButtonId) override
    {
        Count(36);
        return "";
    }
    const char *GetControllerAxisTypeNameFromEnum(vr::EVRControllerAxisType) override
    {
        Count(37);
        return "";
    }
    bool IsInputAvailable() override
    {
        Count(38);
        return false;
    }
    bool IsSteamVRDrawingControllers() override
    {
        Count(39);
        return false;
    }
    bool ShouldApplicationPause() override
    {
        Count(40);
        return false;
    }
    bool ShouldApplicationReduceRenderingWork() override
    {
        Count(41);
        return false;
    }

    vr::EVRFirmwareError PerformFirmwareUpdate(vr::TrackedDeviceIndex_t) override
    {
        Count(42);
        return vr::VRFirmwareError_None;
    }

    void AcknowledgeQuit_Exiting() override
    {
        Count(43);
        gxx_system_acknowledge_quit();
    }
    uint32_t GetAppContainerFilePaths(char *, uint32_t) override
    {
        Count(44);
        return 0;
    }
    const char *GetRuntimeVersion() override
    {
        Count(45);
        return "";
    }
};

System systemObject;

} // namespace

extern "C" {

void *msvc_system_object(void) { return static_cast<vr::IVRSystem *>(&systemObject); }

uint32_t msvc_system_slot_calls(int32_t slot)
{
    return slot >= 0 && slot < MSVC_SYSTEM_SLOTS ? __atomic_load_n(&slotCalls[slot], __ATOMIC_RELAXED) : 0;
}

void msvc_system_reset_counts(void)
{
    for (uint32_t &calls : slotCalls)
        __atomic_store_n(&calls, 0u, __ATOMIC_RELAXED);
}

} // extern "C"
