// The driver's runtime as SteamVR's vrserver.exe presents it: the driver context and the runtime
// interfaces it hands out, compiled for the MSVC ABI, and the runtime's calls into the driver's
// provider and device, made the way MSVC makes them. Built freestanding with clang's
// x86_64-pc-windows-msvc target; the tests drive it through the C functions of MsvcSeam.h, and it
// hands what the driver sent to the recording host on the g++ side.
#include "MsvcSeam.h"

#include <openvr_driver.h>

#include "DriverLayouts.h"

namespace {

uint32_t slotCalls[MsvcInterface_Count][MSVC_MAX_SLOTS];

void Count(MsvcInterface iface, int slot)
{
    __atomic_fetch_add(&slotCalls[iface][slot], 1u, __ATOMIC_RELAXED);
}

bool SameText(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void Unset(vr::EVRSettingsError *peError)
{
    if (peError != nullptr)
        *peError = vr::VRSettingsError_UnsetSettingHasNoDefault;
}

void Report(vr::EVRSettingsError *peError, int32_t error)
{
    if (peError != nullptr)
        *peError = static_cast<vr::EVRSettingsError>(error);
}

void EmptyString(char *buffer, uint32_t size)
{
    if (buffer != nullptr && size > 0)
        buffer[0] = '\0';
}

class ServerDriverHost final : public vr::IVRServerDriverHost {
public:
    bool TrackedDeviceAdded(const char *pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                            vr::ITrackedDeviceServerDriver *pDriver) override
    {
        Count(MsvcInterface_ServerDriverHost, 0);
        return gxx_host_tracked_device_added(pchDeviceSerialNumber, eDeviceClass, pDriver) != 0;
    }
    void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t &newPose,
                                  uint32_t unPoseStructSize) override
    {
        Count(MsvcInterface_ServerDriverHost, 1);
        gxx_host_pose_updated(unWhichDevice, &newPose, unPoseStructSize);
    }
    void VsyncEvent(double) override { Count(MsvcInterface_ServerDriverHost, 2); }
    void VendorSpecificEvent(uint32_t, vr::EVREventType, const vr::VREvent_Data_t &, double) override
    {
        Count(MsvcInterface_ServerDriverHost, 3);
    }
    bool IsExiting() override
    {
        Count(MsvcInterface_ServerDriverHost, 4);
        return false;
    }
    bool PollNextEvent(vr::VREvent_t *, uint32_t) override
    {
        Count(MsvcInterface_ServerDriverHost, 5);
        return false;
    }
    void GetRawTrackedDevicePoses(float, vr::TrackedDevicePose_t *pArray, uint32_t count) override
    {
        Count(MsvcInterface_ServerDriverHost, 6);
        if (pArray != nullptr)
            __builtin_memset(pArray, 0, sizeof(vr::TrackedDevicePose_t) * count);
    }
    void RequestRestart(const char *, const char *, const char *, const char *) override
    {
        Count(MsvcInterface_ServerDriverHost, 7);
    }
    uint32_t GetFrameTimings(vr::Compositor_FrameTiming *, uint32_t) override
    {
        Count(MsvcInterface_ServerDriverHost, 8);
        return 0;
    }
    void SetDisplayEyeToHead(uint32_t, const vr::HmdMatrix34_t &, const vr::HmdMatrix34_t &) override
    {
        Count(MsvcInterface_ServerDriverHost, 9);
    }
    void SetDisplayProjectionRaw(uint32_t, const vr::HmdRect2_t &, const vr::HmdRect2_t &) override
    {
        Count(MsvcInterface_ServerDriverHost, 10);
    }
    void SetRecommendedRenderTargetSize(uint32_t, uint32_t, uint32_t) override
    {
        Count(MsvcInterface_ServerDriverHost, 11);
    }
};

// The Get slots answer from the recording host's settings; nothing is written through the Set slots.
class Settings final : public vr::IVRSettings {
public:
    const char *GetSettingsErrorNameFromEnum(vr::EVRSettingsError) override
    {
        Count(MsvcInterface_Settings, 0);
        return "VRSettingsError";
    }
    void SetBool(const char *, const char *, bool, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 1);
        Unset(e);
    }
    void SetInt32(const char *, const char *, int32_t, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 2);
        Unset(e);
    }
    void SetFloat(const char *, const char *, float, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 3);
        Unset(e);
    }
    void SetString(const char *, const char *, const char *, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 4);
        Unset(e);
    }
    bool GetBool(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 5);
        int32_t error = 0;
        const bool value = gxx_settings_get_bool(pchSection, pchSettingsKey, &error) != 0;
        Report(e, error);
        return value;
    }
    int32_t GetInt32(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 6);
        int32_t error = 0;
        const int32_t value = gxx_settings_get_int32(pchSection, pchSettingsKey, &error);
        Report(e, error);
        return value;
    }
    float GetFloat(const char *pchSection, const char *pchSettingsKey, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 7);
        int32_t error = 0;
        const float value = gxx_settings_get_float(pchSection, pchSettingsKey, &error);
        Report(e, error);
        return value;
    }
    void GetString(const char *pchSection, const char *pchSettingsKey, char *pchValue, uint32_t unValueLen,
                   vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 8);
        EmptyString(pchValue, unValueLen);
        int32_t error = 0;
        gxx_settings_get_string(pchSection, pchSettingsKey, pchValue, unValueLen, &error);
        Report(e, error);
    }
    void RemoveSection(const char *, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 9);
        Unset(e);
    }
    void RemoveKeyInSection(const char *, const char *, vr::EVRSettingsError *e) override
    {
        Count(MsvcInterface_Settings, 10);
        Unset(e);
    }
};

class Properties final : public vr::IVRProperties {
public:
    vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle, vr::PropertyRead_t *pBatch,
                                                uint32_t unBatchEntryCount) override
    {
        Count(MsvcInterface_Properties, 0);
        return static_cast<vr::ETrackedPropertyError>(
            gxx_host_read_properties(ulContainerHandle, pBatch, unBatchEntryCount));
    }
    vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                 vr::PropertyWrite_t *pBatch, uint32_t unBatchEntryCount) override
    {
        Count(MsvcInterface_Properties, 1);
        return static_cast<vr::ETrackedPropertyError>(
            gxx_host_write_properties(ulContainerHandle, pBatch, unBatchEntryCount));
    }
    const char *GetPropErrorNameFromEnum(vr::ETrackedPropertyError) override
    {
        Count(MsvcInterface_Properties, 2);
        return "TrackedProp";
    }
    vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t nDevice) override
    {
        Count(MsvcInterface_Properties, 3);
        return gxx_host_property_container(nDevice);
    }
};

class DriverLog final : public vr::IVRDriverLog {
public:
    void Log(const char *pchLogMessage) override
    {
        Count(MsvcInterface_DriverLog, 0);
        gxx_host_log(pchLogMessage);
    }
};

class DriverManager final : public vr::IVRDriverManager {
public:
    uint32_t GetDriverCount() const override
    {
        Count(MsvcInterface_DriverManager, 0);
        return 1;
    }
    uint32_t GetDriverName(vr::DriverId_t, char *pchValue, uint32_t unBufferSize) override
    {
        Count(MsvcInterface_DriverManager, 1);
        static const char kName[] = "tarvolt_rq508";
        if (pchValue != nullptr && unBufferSize >= sizeof kName)
            __builtin_memcpy(pchValue, kName, sizeof kName);
        return sizeof kName;
    }
    vr::DriverHandle_t GetDriverHandle(const char *) override
    {
        Count(MsvcInterface_DriverManager, 2);
        return gxx_host_driver_handle();
    }
    bool IsEnabled(vr::DriverId_t) const override
    {
        Count(MsvcInterface_DriverManager, 3);
        return true;
    }
};

class Resources final : public vr::IVRResources {
public:
    uint32_t LoadSharedResource(const char *, char *, uint32_t) override
    {
        Count(MsvcInterface_Resources, 0);
        return 0;
    }
    uint32_t GetResourceFullPath(const char *, const char *, char *pchPathBuffer, uint32_t unBufferLen) override
    {
        Count(MsvcInterface_Resources, 1);
        EmptyString(pchPathBuffer, unBufferLen);
        return 0;
    }
};

class DriverInput final : public vr::IVRDriverInput {
public:
    vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                             vr::VRInputComponentHandle_t *pHandle) override
    {
        Count(MsvcInterface_DriverInput, 0);
        return static_cast<vr::EVRInputError>(gxx_host_create_boolean(ulContainer, pchName, pHandle));
    }
    vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent, bool bNewValue,
                                             double fTimeOffset) override
    {
        Count(MsvcInterface_DriverInput, 1);
        return static_cast<vr::EVRInputError>(gxx_host_update_boolean(ulComponent, bNewValue ? 1 : 0, fTimeOffset));
    }
    vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                            vr::VRInputComponentHandle_t *pHandle, vr::EVRScalarType eType,
                                            vr::EVRScalarUnits eUnits) override
    {
        Count(MsvcInterface_DriverInput, 2);
        return static_cast<vr::EVRInputError>(gxx_host_create_scalar(ulContainer, pchName, pHandle, eType, eUnits));
    }
    vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent, float fNewValue,
                                            double fTimeOffset) override
    {
        Count(MsvcInterface_DriverInput, 3);
        return static_cast<vr::EVRInputError>(gxx_host_update_scalar(ulComponent, fNewValue, fTimeOffset));
    }
    vr::EVRInputError CreateHapticComponent(vr::PropertyContainerHandle_t, const char *,
                                            vr::VRInputComponentHandle_t *) override
    {
        Count(MsvcInterface_DriverInput, 4);
        return vr::VRInputError_InvalidParam;
    }
    vr::EVRInputError CreateSkeletonComponent(vr::PropertyContainerHandle_t, const char *, const char *, const char *,
                                              vr::EVRSkeletalTrackingLevel, const vr::VRBoneTransform_t *, uint32_t,
                                              vr::VRInputComponentHandle_t *) override
    {
        Count(MsvcInterface_DriverInput, 5);
        return vr::VRInputError_InvalidParam;
    }
    vr::EVRInputError UpdateSkeletonComponent(vr::VRInputComponentHandle_t, vr::EVRSkeletalMotionRange,
                                              const vr::VRBoneTransform_t *, uint32_t) override
    {
        Count(MsvcInterface_DriverInput, 6);
        return vr::VRInputError_InvalidHandle;
    }
};

// Constant-initialised (vtable pointer only): nothing has to run before the tests call in.
ServerDriverHost serverDriverHost;
Settings settings;
Properties properties;
DriverLog driverLog;
DriverManager driverManager;
Resources resources;
DriverInput driverInput;

void *ObjectFor(const char *version)
{
    if (SameText(version, vr::IVRServerDriverHost_Version))
        return static_cast<vr::IVRServerDriverHost *>(&serverDriverHost);
    if (SameText(version, vr::IVRSettings_Version))
        return static_cast<vr::IVRSettings *>(&settings);
    if (SameText(version, vr::IVRProperties_Version))
        return static_cast<vr::IVRProperties *>(&properties);
    if (SameText(version, vr::IVRDriverLog_Version))
        return static_cast<vr::IVRDriverLog *>(&driverLog);
    if (SameText(version, vr::IVRDriverManager_Version))
        return static_cast<vr::IVRDriverManager *>(&driverManager);
    if (SameText(version, vr::IVRResources_Version))
        return static_cast<vr::IVRResources *>(&resources);
    if (SameText(version, vr::IVRDriverInput_Version))
        return static_cast<vr::IVRDriverInput *>(&driverInput);
    return nullptr;
}

// Serves an interface when the recording host does (it records the request and may withhold it),
// as this module's own object.
class Context final : public vr::IVRDriverContext {
public:
    void *GetGenericInterface(const char *pchInterfaceVersion, vr::EVRInitError *peError) override
    {
        Count(MsvcInterface_Context, 0);
        int32_t error = vr::VRInitError_None;
        void *answer = nullptr;
        if (gxx_host_get_generic_interface(pchInterfaceVersion, &error) != nullptr && pchInterfaceVersion != nullptr)
            answer = ObjectFor(pchInterfaceVersion);
        if (answer == nullptr && error == vr::VRInitError_None)
            error = vr::VRInitError_Init_InterfaceNotFound;
        if (peError != nullptr)
            *peError = static_cast<vr::EVRInitError>(error);
        return answer;
    }
    vr::DriverHandle_t GetDriverHandle() override
    {
        Count(MsvcInterface_Context, 1);
        return gxx_host_driver_handle();
    }
};

Context context;

vr::IServerTrackedDeviceProvider *Provider(void *p) { return static_cast<vr::IServerTrackedDeviceProvider *>(p); }
vr::ITrackedDeviceServerDriver *Device(void *d) { return static_cast<vr::ITrackedDeviceServerDriver *>(d); }

} // namespace

extern "C" {

void *msvc_runtime_context(void) { return static_cast<vr::IVRDriverContext *>(&context); }

uint32_t msvc_runtime_slot_calls(int32_t iface, int32_t slot)
{
    if (iface < 0 || iface >= MsvcInterface_Count || slot < 0 || slot >= MSVC_MAX_SLOTS)
        return 0;
    return __atomic_load_n(&slotCalls[iface][slot], __ATOMIC_RELAXED);
}

void msvc_runtime_reset_counts(void)
{
    for (auto &row : slotCalls)
        for (uint32_t &calls : row)
            __atomic_store_n(&calls, 0u, __ATOMIC_RELAXED);
}

void *msvc_call_factory(void *factory, const char *interfaceName, int32_t *returnCode)
{
    using Factory = void *(*)(const char *, int *);
    return reinterpret_cast<Factory>(factory)(interfaceName, reinterpret_cast<int *>(returnCode));
}

int32_t msvc_provider_init(void *provider, void *driverContext)
{
    return Provider(provider)->Init(static_cast<vr::IVRDriverContext *>(driverContext));
}

void msvc_provider_cleanup(void *provider) { Provider(provider)->Cleanup(); }

const char *const *msvc_provider_interface_versions(void *provider) { return Provider(provider)->GetInterfaceVersions(); }

void msvc_provider_run_frame(void *provider) { Provider(provider)->RunFrame(); }

int32_t msvc_provider_should_block_standby(void *provider) { return Provider(provider)->ShouldBlockStandbyMode() ? 1 : 0; }

void msvc_provider_enter_standby(void *provider) { Provider(provider)->EnterStandby(); }

void msvc_provider_leave_standby(void *provider) { Provider(provider)->LeaveStandby(); }

int32_t msvc_device_activate(void *device, uint32_t objectId) { return Device(device)->Activate(objectId); }

void msvc_device_deactivate(void *device) { Device(device)->Deactivate(); }

void msvc_device_enter_standby(void *device) { Device(device)->EnterStandby(); }

void *msvc_device_get_component(void *device, const char *componentNameAndVersion)
{
    return Device(device)->GetComponent(componentNameAndVersion);
}

void msvc_device_debug_request(void *device, const char *request, char *buffer, uint32_t bufferSize)
{
    Device(device)->DebugRequest(request, buffer, bufferSize);
}

void msvc_device_get_pose(void *device, void *pose)
{
    const vr::DriverPose_t result = Device(device)->GetPose();
    __builtin_memcpy(pose, &result, sizeof result);
}

} // extern "C"
