#include "HostContext.h"

#include "PoseRules.h"

#include <cstring>

namespace sim {

HostContext::HostContext(HostRecorder &recorder) : recorder_(recorder) {}

void HostContext::Withhold(const std::string &interfaceVersion)
{
    std::lock_guard<std::mutex> lock(mutex_);
    withheld_.insert(interfaceVersion);
}

void HostContext::SetAcceptDevices(bool accept) { acceptDevices_ = accept; }

std::vector<std::string> HostContext::FetchedInterfaces() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fetched_;
}

void *HostContext::GetGenericInterface(const char *pchInterfaceVersion, vr::EVRInitError *peError)
{
    const std::string name = pchInterfaceVersion ? pchInterfaceVersion : "";
    void *answer = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fetched_.push_back(name);
        if (withheld_.count(name) == 0) {
            if (name == vr::IVRServerDriverHost_Version)
                answer = static_cast<vr::IVRServerDriverHost *>(this);
            else if (name == vr::IVRSettings_Version)
                answer = static_cast<vr::IVRSettings *>(this);
            else if (name == vr::IVRProperties_Version)
                answer = static_cast<vr::IVRProperties *>(this);
            else if (name == vr::IVRDriverLog_Version)
                answer = static_cast<vr::IVRDriverLog *>(this);
            else if (name == vr::IVRDriverManager_Version)
                answer = static_cast<vr::IVRDriverManager *>(this);
            else if (name == vr::IVRResources_Version)
                answer = static_cast<vr::IVRResources *>(this);
            else if (name == vr::IVRDriverInput_Version)
                answer = static_cast<vr::IVRDriverInput *>(this);
        }
    }
    if (peError != nullptr)
        *peError = answer ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
    return answer;
}

void HostContext::SetDeviceActive(uint32_t deviceIndex, bool active)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (active)
        activeDevices_.insert(deviceIndex);
    else
        activeDevices_.erase(deviceIndex);
}

bool HostContext::DeviceActive(uint32_t deviceIndex) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return activeDevices_.count(deviceIndex) != 0;
}

void HostContext::CheckComponentUpdate(vr::VRInputComponentHandle_t handle, const char *call)
{
    ComponentRecord component{};
    if (!recorder_.FindComponent(handle, component)) {
        recorder_.AddViolation(std::string(call) + " with a handle the runtime never handed out (" +
                               std::to_string(handle) + ")");
        return;
    }
    const bool onDevice = component.container >= kContainerBase;
    const uint32_t device = onDevice ? static_cast<uint32_t>(component.container - kContainerBase) : 0;
    if (!onDevice || !DeviceActive(device))
        recorder_.AddViolation(std::string(call) + " of " + component.name + " while its device is not active");
}

vr::DriverHandle_t HostContext::GetDriverHandle() { return 1; }

bool HostContext::TrackedDeviceAdded(const char *pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                                     vr::ITrackedDeviceServerDriver *pDriver)
{
    recorder_.AddDevice({pchDeviceSerialNumber ? pchDeviceSerialNumber : "", eDeviceClass, pDriver,
                         acceptDevices_});
    return acceptDevices_;
}

void HostContext::TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t &newPose,
                                           uint32_t unPoseStructSize)
{
    if (!DeviceActive(unWhichDevice))
        recorder_.AddViolation("TrackedDevicePoseUpdated for device " + std::to_string(unWhichDevice) +
                               ", which is not active");
    const std::string broken = PoseRuleBroken(newPose);
    if (!broken.empty())
        recorder_.AddViolation("TrackedDevicePoseUpdated for device " + std::to_string(unWhichDevice) + " with " +
                               broken);
    PoseRecord record{};
    record.deviceIndex = unWhichDevice;
    record.pose = newPose;
    record.size = unPoseStructSize;
    record.time = Clock::now();
    // A driver's pose is in raw tracking space; applications see it through the room setup.
    StandingPoseOf(newPose, standingFromRaw_, record.standing);
    recorder_.AddPose(record);
}

void HostContext::VsyncEvent(double) {}
void HostContext::VendorSpecificEvent(uint32_t, vr::EVREventType, const vr::VREvent_Data_t &, double) {}
bool HostContext::IsExiting() { return false; }
bool HostContext::PollNextEvent(vr::VREvent_t *, uint32_t) { return false; }
void HostContext::GetRawTrackedDevicePoses(float, vr::TrackedDevicePose_t *pArray, uint32_t count)
{
    if (pArray != nullptr)
        std::memset(pArray, 0, sizeof(vr::TrackedDevicePose_t) * count);
}
void HostContext::RequestRestart(const char *, const char *, const char *, const char *) {}
uint32_t HostContext::GetFrameTimings(vr::Compositor_FrameTiming *, uint32_t) { return 0; }
void HostContext::SetDisplayEyeToHead(uint32_t, const vr::HmdMatrix34_t &, const vr::HmdMatrix34_t &) {}
void HostContext::SetDisplayProjectionRaw(uint32_t, const vr::HmdRect2_t &, const vr::HmdRect2_t &) {}
void HostContext::SetRecommendedRenderTargetSize(uint32_t, uint32_t, uint32_t) {}

template <class Fn>
auto HostContext::WithSettings(Fn fn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (settingsTable_ == nullptr)
        return fn(ownSettings_);
    LockTable(*settingsTable_);
    struct Unlock {
        TrackedDeviceTable *table;
        ~Unlock() { UnlockTable(*table); }
    } unlock{settingsTable_};
    return fn(settingsTable_->settings);
}

void HostContext::UseSettingsOf(TrackedDeviceTable *table)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (table != nullptr) {
        LockTable(*table);
        MergeInto(ownSettings_, table->settings);
        UnlockTable(*table);
    }
    settingsTable_ = table;
}

namespace {
void Report(vr::EVRSettingsError *peError, int32_t error)
{
    if (peError != nullptr)
        *peError = static_cast<vr::EVRSettingsError>(error);
}
int32_t Written(bool done) { return done ? vr::VRSettingsError_None : vr::VRSettingsError_WriteFailed; }
} // namespace

const char *HostContext::GetSettingsErrorNameFromEnum(vr::EVRSettingsError) { return "VRSettingsError"; }
void HostContext::SetBool(const char *section, const char *key, bool value, vr::EVRSettingsError *e)
{
    Report(e, Written(WithSettings([&](SettingsStore &s) { return PutBool(s, section, key, value); })));
}
void HostContext::SetInt32(const char *section, const char *key, int32_t value, vr::EVRSettingsError *e)
{
    Report(e, Written(WithSettings([&](SettingsStore &s) { return PutInt32(s, section, key, value); })));
}
void HostContext::SetFloat(const char *section, const char *key, float value, vr::EVRSettingsError *e)
{
    Report(e, Written(WithSettings([&](SettingsStore &s) { return PutFloat(s, section, key, value); })));
}
void HostContext::SetString(const char *section, const char *key, const char *value, vr::EVRSettingsError *e)
{
    Report(e, Written(WithSettings([&](SettingsStore &s) { return PutString(s, section, key, value); })));
}
bool HostContext::GetBool(const char *section, const char *key, vr::EVRSettingsError *e)
{
    bool value = false;
    Report(e, WithSettings([&](SettingsStore &s) { return sim::GetBool(s, section, key, value); }));
    return value;
}
int32_t HostContext::GetInt32(const char *section, const char *key, vr::EVRSettingsError *e)
{
    int32_t value = 0;
    Report(e, WithSettings([&](SettingsStore &s) { return sim::GetInt32(s, section, key, value); }));
    return value;
}
float HostContext::GetFloat(const char *section, const char *key, vr::EVRSettingsError *e)
{
    float value = 0.0f;
    Report(e, WithSettings([&](SettingsStore &s) { return sim::GetFloat(s, section, key, value); }));
    return value;
}
void HostContext::GetString(const char *section, const char *key, char *pchValue, uint32_t unValueLen,
                            vr::EVRSettingsError *e)
{
    Report(e, WithSettings([&](SettingsStore &s) { return sim::GetString(s, section, key, pchValue, unValueLen); }));
}
void HostContext::RemoveSection(const char *section, vr::EVRSettingsError *e)
{
    WithSettings([&](SettingsStore &s) { sim::RemoveSection(s, section); return 0; });
    Report(e, vr::VRSettingsError_None);
}
void HostContext::RemoveKeyInSection(const char *section, const char *key, vr::EVRSettingsError *e)
{
    WithSettings([&](SettingsStore &s) { RemoveKey(s, section, key); return 0; });
    Report(e, vr::VRSettingsError_None);
}

vr::ETrackedPropertyError HostContext::ReadPropertyBatch(vr::PropertyContainerHandle_t, vr::PropertyRead_t *pBatch,
                                                         uint32_t unBatchEntryCount)
{
    for (uint32_t i = 0; pBatch != nullptr && i < unBatchEntryCount; ++i)
        pBatch[i].eError = vr::TrackedProp_UnknownProperty;
    return vr::TrackedProp_Success;
}

vr::ETrackedPropertyError HostContext::WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                          vr::PropertyWrite_t *pBatch, uint32_t unBatchEntryCount)
{
    for (uint32_t i = 0; pBatch != nullptr && i < unBatchEntryCount; ++i) {
        vr::PropertyWrite_t &w = pBatch[i];
        PropertyWriteRecord record{ulContainerHandle, w.prop, w.writeType, w.unTag, {}};
        if (w.writeType == vr::PropertyWrite_Set && w.pvBuffer != nullptr) {
            const auto *bytes = static_cast<const uint8_t *>(w.pvBuffer);
            record.bytes.assign(bytes, bytes + w.unBufferSize);
        }
        recorder_.AddPropertyWrite(std::move(record));
        w.eError = vr::TrackedProp_Success;
    }
    return vr::TrackedProp_Success;
}

const char *HostContext::GetPropErrorNameFromEnum(vr::ETrackedPropertyError) { return "TrackedProp"; }

vr::PropertyContainerHandle_t HostContext::TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t nDevice)
{
    return kContainerBase + nDevice;
}

void HostContext::Log(const char *pchLogMessage) { recorder_.AddLog(pchLogMessage ? pchLogMessage : ""); }

uint32_t HostContext::GetDriverCount() const { return 1; }
uint32_t HostContext::GetDriverName(vr::DriverId_t, char *pchValue, uint32_t unBufferSize)
{
    static const char kName[] = "tarvolt_rq508";
    if (pchValue != nullptr && unBufferSize >= sizeof kName)
        std::memcpy(pchValue, kName, sizeof kName);
    return sizeof kName;
}
vr::DriverHandle_t HostContext::GetDriverHandle(const char *) { return 1; }
bool HostContext::IsEnabled(vr::DriverId_t) const { return true; }

uint32_t HostContext::LoadSharedResource(const char *, char *, uint32_t) { return 0; }
uint32_t HostContext::GetResourceFullPath(const char *, const char *, char *pchPathBuffer, uint32_t unBufferLen)
{
    if (pchPathBuffer != nullptr && unBufferLen > 0)
        pchPathBuffer[0] = '\0';
    return 0;
}

vr::VRInputComponentHandle_t HostContext::AddComponent(vr::PropertyContainerHandle_t container, const char *name,
                                                       ComponentKind kind, vr::EVRScalarType type,
                                                       vr::EVRScalarUnits units)
{
    const vr::VRInputComponentHandle_t handle = nextHandle_.fetch_add(1);
    recorder_.AddComponent({name ? name : "", kind, container, handle, type, units});
    return handle;
}

vr::EVRInputError HostContext::CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                                      vr::VRInputComponentHandle_t *pHandle)
{
    const auto handle = AddComponent(ulContainer, pchName, ComponentKind::Boolean, vr::VRScalarType_Absolute,
                                     vr::VRScalarUnits_NormalizedOneSided);
    if (pHandle != nullptr)
        *pHandle = handle;
    return vr::VRInputError_None;
}

vr::EVRInputError HostContext::UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent, bool bNewValue,
                                                      double fTimeOffset)
{
    CheckComponentUpdate(ulComponent, "UpdateBooleanComponent");
    recorder_.AddUpdate({"", ulComponent, ComponentKind::Boolean, bNewValue, 0.0f, fTimeOffset, 0});
    return vr::VRInputError_None;
}

vr::EVRInputError HostContext::CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                                     vr::VRInputComponentHandle_t *pHandle, vr::EVRScalarType eType,
                                                     vr::EVRScalarUnits eUnits)
{
    const auto handle = AddComponent(ulContainer, pchName, ComponentKind::Scalar, eType, eUnits);
    if (pHandle != nullptr)
        *pHandle = handle;
    return vr::VRInputError_None;
}

vr::EVRInputError HostContext::UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent, float fNewValue,
                                                     double fTimeOffset)
{
    CheckComponentUpdate(ulComponent, "UpdateScalarComponent");
    recorder_.AddUpdate({"", ulComponent, ComponentKind::Scalar, false, fNewValue, fTimeOffset, 0});
    return vr::VRInputError_None;
}

vr::EVRInputError HostContext::CreateHapticComponent(vr::PropertyContainerHandle_t, const char *,
                                                     vr::VRInputComponentHandle_t *)
{
    return vr::VRInputError_InvalidParam;
}

vr::EVRInputError HostContext::CreateSkeletonComponent(vr::PropertyContainerHandle_t, const char *, const char *,
                                                       const char *, vr::EVRSkeletalTrackingLevel,
                                                       const vr::VRBoneTransform_t *, uint32_t,
                                                       vr::VRInputComponentHandle_t *)
{
    return vr::VRInputError_InvalidParam;
}

vr::EVRInputError HostContext::UpdateSkeletonComponent(vr::VRInputComponentHandle_t, vr::EVRSkeletalMotionRange,
                                                       const vr::VRBoneTransform_t *, uint32_t)
{
    return vr::VRInputError_InvalidHandle;
}

} // namespace sim
