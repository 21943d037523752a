#pragma once
// The runtime side of the driver interfaces, as the simulated server hands them to a driver:
// a driver context that serves the host interfaces by version, and the interfaces themselves,
// which record what the driver does with them.
#include "HostRecorder.h"
#include "SettingsStore.h"
#include "TrackedDeviceTable.h"
#include "TrackingSpaces.h"

#include <openvr_driver.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

namespace sim {

class HostContext final : public vr::IVRDriverContext,
                          public vr::IVRServerDriverHost,
                          public vr::IVRSettings,
                          public vr::IVRProperties,
                          public vr::IVRDriverLog,
                          public vr::IVRDriverManager,
                          public vr::IVRResources,
                          public vr::IVRDriverInput {
public:
    explicit HostContext(HostRecorder &recorder);

    // Test controls.
    void Withhold(const std::string &interfaceVersion);  // GetGenericInterface answers null
    void SetAcceptDevices(bool accept);                   // TrackedDeviceAdded's answer
    std::vector<std::string> FetchedInterfaces() const;   // every GetGenericInterface, in order
    // The host's view of each device: active from the moment its Activate is called until its
    // Deactivate has returned. Input and pose calls for a device that is not active are
    // violations (OpenVR driver documentation: nothing may be called after Deactivate).
    void SetDeviceActive(uint32_t deviceIndex, bool active);
    // Settings: the host's own store, or the tracked-device table's (shared with client programs),
    // into which the values set on the host so far are merged. Null goes back to the host's own.
    void UseSettingsOf(TrackedDeviceTable *table);

    vr::IVRDriverContext *AsDriverContext() { return this; }

    // IVRDriverContext
    void *GetGenericInterface(const char *pchInterfaceVersion, vr::EVRInitError *peError) override;
    vr::DriverHandle_t GetDriverHandle() override;

    // IVRServerDriverHost
    bool TrackedDeviceAdded(const char *pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                            vr::ITrackedDeviceServerDriver *pDriver) override;
    void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t &newPose,
                                  uint32_t unPoseStructSize) override;
    void VsyncEvent(double vsyncTimeOffsetSeconds) override;
    void VendorSpecificEvent(uint32_t unWhichDevice, vr::EVREventType eventType,
                             const vr::VREvent_Data_t &eventData, double eventTimeOffset) override;
    bool IsExiting() override;
    bool PollNextEvent(vr::VREvent_t *pEvent, uint32_t uncbVREvent) override;
    void GetRawTrackedDevicePoses(float fPredictedSecondsFromNow,
                                  vr::TrackedDevicePose_t *pTrackedDevicePoseArray,
                                  uint32_t unTrackedDevicePoseArrayCount) override;
    void RequestRestart(const char *pchLocalizedReason, const char *pchExecutableToStart,
                        const char *pchArguments, const char *pchWorkingDirectory) override;
    uint32_t GetFrameTimings(vr::Compositor_FrameTiming *pTiming, uint32_t nFrames) override;
    void SetDisplayEyeToHead(uint32_t unWhichDevice, const vr::HmdMatrix34_t &eyeToHeadLeft,
                             const vr::HmdMatrix34_t &eyeToHeadRight) override;
    void SetDisplayProjectionRaw(uint32_t unWhichDevice, const vr::HmdRect2_t &eyeLeft,
                                 const vr::HmdRect2_t &eyeRight) override;
    void SetRecommendedRenderTargetSize(uint32_t unWhichDevice, uint32_t nWidth,
                                        uint32_t nHeight) override;

    // IVRSettings: the simulated runtime's settings (SettingsStore.h says how values read).
    const char *GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) override;
    void SetBool(const char *pchSection, const char *pchSettingsKey, bool bValue,
                 vr::EVRSettingsError *peError) override;
    void SetInt32(const char *pchSection, const char *pchSettingsKey, int32_t nValue,
                  vr::EVRSettingsError *peError) override;
    void SetFloat(const char *pchSection, const char *pchSettingsKey, float flValue,
                  vr::EVRSettingsError *peError) override;
    void SetString(const char *pchSection, const char *pchSettingsKey, const char *pchValue,
                   vr::EVRSettingsError *peError) override;
    bool GetBool(const char *pchSection, const char *pchSettingsKey,
                 vr::EVRSettingsError *peError) override;
    int32_t GetInt32(const char *pchSection, const char *pchSettingsKey,
                     vr::EVRSettingsError *peError) override;
    float GetFloat(const char *pchSection, const char *pchSettingsKey,
                   vr::EVRSettingsError *peError) override;
    void GetString(const char *pchSection, const char *pchSettingsKey, char *pchValue,
                   uint32_t unValueLen, vr::EVRSettingsError *peError) override;
    void RemoveSection(const char *pchSection, vr::EVRSettingsError *peError) override;
    void RemoveKeyInSection(const char *pchSection, const char *pchSettingsKey,
                            vr::EVRSettingsError *peError) override;

    // IVRProperties
    vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                vr::PropertyRead_t *pBatch,
                                                uint32_t unBatchEntryCount) override;
    vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                 vr::PropertyWrite_t *pBatch,
                                                 uint32_t unBatchEntryCount) override;
    const char *GetPropErrorNameFromEnum(vr::ETrackedPropertyError error) override;
    vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t nDevice) override;

    // IVRDriverLog
    void Log(const char *pchLogMessage) override;

    // IVRDriverManager
    uint32_t GetDriverCount() const override;
    uint32_t GetDriverName(vr::DriverId_t nDriver, char *pchValue, uint32_t unBufferSize) override;
    vr::DriverHandle_t GetDriverHandle(const char *pchDriverName) override;
    bool IsEnabled(vr::DriverId_t nDriver) const override;

    // IVRResources
    uint32_t LoadSharedResource(const char *pchResourceName, char *pchBuffer, uint32_t unBufferLen) override;
    uint32_t GetResourceFullPath(const char *pchResourceName, const char *pchResourceTypeDirectory,
                                 char *pchPathBuffer, uint32_t unBufferLen) override;

    // IVRDriverInput
    vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                             vr::VRInputComponentHandle_t *pHandle) override;
    vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent, bool bNewValue,
                                             double fTimeOffset) override;
    vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                            vr::VRInputComponentHandle_t *pHandle, vr::EVRScalarType eType,
                                            vr::EVRScalarUnits eUnits) override;
    vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent, float fNewValue,
                                            double fTimeOffset) override;
    vr::EVRInputError CreateHapticComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                            vr::VRInputComponentHandle_t *pHandle) override;
    vr::EVRInputError CreateSkeletonComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                              const char *pchSkeletonPath, const char *pchBasePosePath,
                                              vr::EVRSkeletalTrackingLevel eSkeletalTrackingLevel,
                                              const vr::VRBoneTransform_t *pGripLimitTransforms,
                                              uint32_t unGripLimitTransformCount,
                                              vr::VRInputComponentHandle_t *pHandle) override;
    vr::EVRInputError UpdateSkeletonComponent(vr::VRInputComponentHandle_t ulComponent,
                                              vr::EVRSkeletalMotionRange eMotionRange,
                                              const vr::VRBoneTransform_t *pTransforms,
                                              uint32_t unTransformCount) override;

    // Property containers are the device index plus this base, so a wrong index shows.
    static constexpr vr::PropertyContainerHandle_t kContainerBase = 0x100000000ull;

private:
    bool DeviceActive(uint32_t deviceIndex) const;
    // Reports an update of a component whose device is not active (or that was never created).
    void CheckComponentUpdate(vr::VRInputComponentHandle_t handle, const char *call);
    vr::VRInputComponentHandle_t AddComponent(vr::PropertyContainerHandle_t container, const char *name,
                                              ComponentKind kind, vr::EVRScalarType type,
                                              vr::EVRScalarUnits units);

    HostRecorder &recorder_;
    std::set<std::string> withheld_;
    bool acceptDevices_ = true;
    // The room setup under which published (raw) poses are seen in standing space.
    RigidTransform standingFromRaw_ = RoomSetupStandingFromRaw();
    mutable std::mutex mutex_;
    SettingsStore ownSettings_{};
    TrackedDeviceTable *settingsTable_ = nullptr;
    // Runs fn on the store in use, under its lock.
    template <class Fn>
    auto WithSettings(Fn fn);
    std::vector<std::string> fetched_;
    std::set<uint32_t> activeDevices_;
    std::atomic<vr::VRInputComponentHandle_t> nextHandle_{0x200000001ull};
};

} // namespace sim
