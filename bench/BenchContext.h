#pragma once
// The smallest runtime side the frame update and the notification handler need, for timing them:
// a driver context that serves the host, input and log interfaces, each of which only counts the
// calls and keeps the last value. No lock, no allocation, so that what is measured is the
// driver's own cost and not a recorder's.
#include <openvr_driver.h>

#include <cstdint>

namespace bench {

class BenchContext final : public vr::IVRDriverContext,
                           public vr::IVRServerDriverHost,
                           public vr::IVRDriverInput,
                           public vr::IVRDriverLog {
public:
    // Makes this the driver's context: the driver's interface accessors fetch from it on first use.
    void Install();

    uint64_t poseUpdates = 0;
    uint64_t booleanUpdates = 0;
    uint64_t scalarUpdates = 0;
    uint64_t logLines = 0;
    size_t lastLogLength = 0;
    double lastPoseW = 0.0;

    // IVRDriverContext
    void *GetGenericInterface(const char *pchInterfaceVersion, vr::EVRInitError *peError) override;
    vr::DriverHandle_t GetDriverHandle() override { return 1; }

    // IVRServerDriverHost
    bool TrackedDeviceAdded(const char *, vr::ETrackedDeviceClass, vr::ITrackedDeviceServerDriver *) override
    {
        return true;
    }
    void TrackedDevicePoseUpdated(uint32_t, const vr::DriverPose_t &newPose, uint32_t) override
    {
        ++poseUpdates;
        lastPoseW = newPose.qRotation.w;
    }
    void VsyncEvent(double) override {}
    void VendorSpecificEvent(uint32_t, vr::EVREventType, const vr::VREvent_Data_t &, double) override {}
    bool IsExiting() override { return false; }
    bool PollNextEvent(vr::VREvent_t *, uint32_t) override { return false; }
    void GetRawTrackedDevicePoses(float, vr::TrackedDevicePose_t *, uint32_t) override {}
    void RequestRestart(const char *, const char *, const char *, const char *) override {}
    uint32_t GetFrameTimings(vr::Compositor_FrameTiming *, uint32_t) override { return 0; }
    void SetDisplayEyeToHead(uint32_t, const vr::HmdMatrix34_t &, const vr::HmdMatrix34_t &) override {}
    void SetDisplayProjectionRaw(uint32_t, const vr::HmdRect2_t &, const vr::HmdRect2_t &) override {}
    void SetRecommendedRenderTargetSize(uint32_t, uint32_t, uint32_t) override {}

    // IVRDriverInput
    vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t, const char *,
                                             vr::VRInputComponentHandle_t *) override;
    vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t, bool, double) override
    {
        ++booleanUpdates;
        return vr::VRInputError_None;
    }
    vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t, const char *,
                                            vr::VRInputComponentHandle_t *, vr::EVRScalarType,
                                            vr::EVRScalarUnits) override;
    vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t, float, double) override
    {
        ++scalarUpdates;
        return vr::VRInputError_None;
    }
    vr::EVRInputError CreateHapticComponent(vr::PropertyContainerHandle_t, const char *,
                                            vr::VRInputComponentHandle_t *) override;
    vr::EVRInputError CreateSkeletonComponent(vr::PropertyContainerHandle_t, const char *, const char *,
                                              const char *, vr::EVRSkeletalTrackingLevel,
                                              const vr::VRBoneTransform_t *, uint32_t,
                                              vr::VRInputComponentHandle_t *) override;
    vr::EVRInputError UpdateSkeletonComponent(vr::VRInputComponentHandle_t, vr::EVRSkeletalMotionRange,
                                              const vr::VRBoneTransform_t *, uint32_t) override;

    // IVRDriverLog
    void Log(const char *pchLogMessage) override;
};

} // namespace bench
