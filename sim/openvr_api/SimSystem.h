#pragma once
// IVRSystem_022 of the openvr_api stand-in: tracking and device queries answered from the
// simulated runtime's tracked-device table, events from this client's queue in it; everything
// display-related answers with zeros. Poses are answered in the space the caller names: the table
// holds them in standing space, and the raw and seated spaces differ from it by the room setup and
// the seated zero pose. Every call made after VR_Shutdown retired the interface is counted in the
// table (the official interface would be unloaded code by then).
#include "TrackedDeviceTable.h"

#include <openvr.h>

namespace sim {

class SimSystem final : public vr::IVRSystem {
public:
    // Connected: answers from the table, events from the client's slot. Null detaches entirely.
    void Attach(TrackedDeviceTable *table, ClientSlot *client = nullptr);
    // VR_Shutdown: answers nothing from now on, and counts each call.
    void Retire();

    void GetRecommendedRenderTargetSize(uint32_t *pnWidth, uint32_t *pnHeight) override;
#if VR_EXPLICIT_STRUCT_RETURN
    vr::HmdMatrix44_t *GetProjectionMatrix(vr::HmdMatrix44_t *out, vr::EVREye, float, float) override
    {
        return Live(), Zero(out);
    }
#else
    vr::HmdMatrix44_t GetProjectionMatrix(vr::EVREye, float, float) override { return Live(), vr::HmdMatrix44_t{}; }
#endif
    void GetProjectionRaw(vr::EVREye, float *pfLeft, float *pfRight, float *pfTop, float *pfBottom) override;
    bool ComputeDistortion(vr::EVREye, float, float, vr::DistortionCoordinates_t *) override { return Live(), false; }
#if VR_EXPLICIT_STRUCT_RETURN
    vr::HmdMatrix34_t *GetEyeToHeadTransform(vr::HmdMatrix34_t *out, vr::EVREye) override { return Live(), Zero(out); }
#else
    vr::HmdMatrix34_t GetEyeToHeadTransform(vr::EVREye) override { return Live(), vr::HmdMatrix34_t{}; }
#endif
    bool GetTimeSinceLastVsync(float *, uint64_t *) override { return Live(), false; }
    int32_t GetD3D9AdapterIndex() override { return Live(), -1; }
    void GetDXGIOutputInfo(int32_t *pnAdapterIndex) override;
    void GetOutputDevice(uint64_t *pnDevice, vr::ETextureType, VkInstance_T *) override;
    bool IsDisplayOnDesktop() override { return Live(), false; }
    bool SetDisplayVisibility(bool) override { return Live(), false; }

    void GetDeviceToAbsoluteTrackingPose(vr::ETrackingUniverseOrigin eOrigin, float fPredictedSecondsToPhotonsFromNow,
                                         vr::TrackedDevicePose_t *pTrackedDevicePoseArray,
                                         uint32_t unTrackedDevicePoseArrayCount) override;
#if VR_EXPLICIT_STRUCT_RETURN
    vr::HmdMatrix34_t *GetSeatedZeroPoseToStandingAbsoluteTrackingPose(vr::HmdMatrix34_t *out) override
    {
        *out = (Live(), SeatedZeroPoseToStanding());
        return out;
    }
    vr::HmdMatrix34_t *GetRawZeroPoseToStandingAbsoluteTrackingPose(vr::HmdMatrix34_t *out) override
    {
        *out = (Live(), RawZeroPoseToStanding());
        return out;
    }
#else
    vr::HmdMatrix34_t GetSeatedZeroPoseToStandingAbsoluteTrackingPose() override { return Live(), SeatedZeroPoseToStanding(); }
    vr::HmdMatrix34_t GetRawZeroPoseToStandingAbsoluteTrackingPose() override { return Live(), RawZeroPoseToStanding(); }
#endif
    uint32_t GetSortedTrackedDeviceIndicesOfClass(vr::ETrackedDeviceClass eTrackedDeviceClass,
                                                  vr::TrackedDeviceIndex_t *punTrackedDeviceIndexArray,
                                                  uint32_t unTrackedDeviceIndexArrayCount,
                                                  vr::TrackedDeviceIndex_t unRelativeToTrackedDeviceIndex) override;
    vr::EDeviceActivityLevel GetTrackedDeviceActivityLevel(vr::TrackedDeviceIndex_t) override;
    void ApplyTransform(vr::TrackedDevicePose_t *, const vr::TrackedDevicePose_t *, const vr::HmdMatrix34_t *) override
    {
        Live();
    }
    vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole unDeviceType) override;
    vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t unDeviceIndex) override;

    vr::ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t unDeviceIndex) override;
    bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t unDeviceIndex) override;
    bool GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                      vr::ETrackedPropertyError *pError) override;
    float GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                        vr::ETrackedPropertyError *pError) override;
    int32_t GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                          vr::ETrackedPropertyError *pError) override;
    uint64_t GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                            vr::ETrackedPropertyError *pError) override;
#if VR_EXPLICIT_STRUCT_RETURN
    vr::HmdMatrix34_t *GetMatrix34TrackedDeviceProperty(vr::HmdMatrix34_t *out, vr::TrackedDeviceIndex_t,
                                                        vr::ETrackedDeviceProperty, vr::ETrackedPropertyError *pError) override;
#else
    vr::HmdMatrix34_t GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                       vr::ETrackedPropertyError *pError) override;
#endif
    uint32_t GetArrayTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty, vr::PropertyTypeTag_t,
                                           void *, uint32_t, vr::ETrackedPropertyError *pError) override;
    uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty, char *pchValue,
                                            uint32_t unBufferSize, vr::ETrackedPropertyError *pError) override;
    const char *GetPropErrorNameFromEnum(vr::ETrackedPropertyError) override
    {
        return Live(), "TrackedProp_UnknownProperty";
    }

    bool PollNextEvent(vr::VREvent_t *pEvent, uint32_t uncbVREvent) override;
    bool PollNextEventWithPose(vr::ETrackingUniverseOrigin, vr::VREvent_t *pEvent, uint32_t uncbVREvent,
                               vr::TrackedDevicePose_t *pTrackedDevicePose) override;
    const char *GetEventTypeNameFromEnum(vr::EVREventType) override { return Live(), "VREvent_None"; }
#if VR_EXPLICIT_STRUCT_RETURN
    vr::HiddenAreaMesh_t *GetHiddenAreaMesh(vr::HiddenAreaMesh_t *out, vr::EVREye, vr::EHiddenAreaMeshType) override
    {
        return Live(), Zero(out);
    }
#else
    vr::HiddenAreaMesh_t GetHiddenAreaMesh(vr::EVREye, vr::EHiddenAreaMeshType) override
    {
        return Live(), vr::HiddenAreaMesh_t{};
    }
#endif

    bool GetControllerState(vr::TrackedDeviceIndex_t, vr::VRControllerState_t *, uint32_t) override
    {
        return Live(), false;
    }
    bool GetControllerStateWithPose(vr::ETrackingUniverseOrigin, vr::TrackedDeviceIndex_t, vr::VRControllerState_t *,
                                    uint32_t, vr::TrackedDevicePose_t *) override
    {
        return Live(), false;
    }
    void TriggerHapticPulse(vr::TrackedDeviceIndex_t, uint32_t, unsigned short) override { Live(); }
    const char *GetButtonIdNameFromEnum(vr::EVRButtonId) override { return Live(), "k_EButton_Invalid"; }
    const char *GetControllerAxisTypeNameFromEnum(vr::EVRControllerAxisType) override
    {
        return Live(), "k_eControllerAxis_None";
    }
    bool IsInputAvailable() override { return Live(); }
    bool IsSteamVRDrawingControllers() override { return Live(), false; }
    bool ShouldApplicationPause() override { return Live(), false; }
    bool ShouldApplicationReduceRenderingWork() override { return Live(), false; }

    vr::EVRFirmwareError PerformFirmwareUpdate(vr::TrackedDeviceIndex_t) override;

    void AcknowledgeQuit_Exiting() override;
    uint32_t GetAppContainerFilePaths(char *pchBuffer, uint32_t unBufferSize) override;
    const char *GetRuntimeVersion() override { return Live(), "simulated"; }

private:
    // The room setup: where the seated zero pose and raw space's origin lie in standing space.
    vr::HmdMatrix34_t SeatedZeroPoseToStanding() const;
    vr::HmdMatrix34_t RawZeroPoseToStanding() const;

    // MinGW builds: the slots that return a structure take its buffer after `this` (openvr.h).
    template <class T>
    static T *Zero(T *out)
    {
        *out = T{};
        return out;
    }

    // Whether the interface is connected; a call after VR_Shutdown is counted.
    bool Live();
    // A copy of one slot, taken under the table's lock; an empty slot outside the table.
    TrackedDeviceSlot Slot(vr::TrackedDeviceIndex_t index) const;

    TrackedDeviceTable *table_ = nullptr;
    ClientSlot *client_ = nullptr;
    TrackedDeviceTable *retired_ = nullptr;  // the table of the connection VR_Shutdown ended
};

} // namespace sim
