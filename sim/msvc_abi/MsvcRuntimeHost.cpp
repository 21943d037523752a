#include "MsvcRuntimeHost.h"

#include "RadioControl.h"
#include "SimHost.h"

#include <atomic>
#include <cstring>

namespace {

// The recording host that the MSVC-ABI runtime reports to. Only log lines can come from the
// driver's own threads; one that comes after the host is gone (from an abandoned driver) is dropped.
sim::HostContext *attached = nullptr;
std::atomic<sim::HostContext *> logTarget{nullptr};

} // namespace

// What the MSVC-ABI runtime received from the driver, already decoded there, handed to the
// simulated runtime's HostContext, which records it and gives the answers.
extern "C" {

void *gxx_host_get_generic_interface(const char *interfaceVersion, int32_t *error)
{
    return attached->GetGenericInterface(interfaceVersion, reinterpret_cast<vr::EVRInitError *>(error));
}

uint64_t gxx_host_driver_handle(void) { return static_cast<vr::IVRDriverContext *>(attached)->GetDriverHandle(); }

int32_t gxx_host_tracked_device_added(const char *serial, int32_t deviceClass, void *device)
{
    return attached->TrackedDeviceAdded(serial, static_cast<vr::ETrackedDeviceClass>(deviceClass),
                                        static_cast<vr::ITrackedDeviceServerDriver *>(device))
               ? 1
               : 0;
}

void gxx_host_pose_updated(uint32_t deviceIndex, const void *pose, uint32_t poseSize)
{
    attached->TrackedDevicePoseUpdated(deviceIndex, *static_cast<const vr::DriverPose_t *>(pose), poseSize);
}

int32_t gxx_host_write_properties(uint64_t container, void *batch, uint32_t count)
{
    return attached->WritePropertyBatch(container, static_cast<vr::PropertyWrite_t *>(batch), count);
}

int32_t gxx_host_read_properties(uint64_t container, void *batch, uint32_t count)
{
    return attached->ReadPropertyBatch(container, static_cast<vr::PropertyRead_t *>(batch), count);
}

uint64_t gxx_host_property_container(uint32_t deviceIndex) { return attached->TrackedDeviceToPropertyContainer(deviceIndex); }

int32_t gxx_settings_get_bool(const char *section, const char *key, int32_t *error)
{
    return attached->GetBool(section, key, reinterpret_cast<vr::EVRSettingsError *>(error)) ? 1 : 0;
}

int32_t gxx_settings_get_int32(const char *section, const char *key, int32_t *error)
{
    return attached->GetInt32(section, key, reinterpret_cast<vr::EVRSettingsError *>(error));
}

float gxx_settings_get_float(const char *section, const char *key, int32_t *error)
{
    return attached->GetFloat(section, key, reinterpret_cast<vr::EVRSettingsError *>(error));
}

void gxx_settings_get_string(const char *section, const char *key, char *value, uint32_t size, int32_t *error)
{
    attached->GetString(section, key, value, size, reinterpret_cast<vr::EVRSettingsError *>(error));
}

void gxx_host_log(const char *message)
{
    if (sim::HostContext *target = logTarget.load())
        target->Log(message);
}

int32_t gxx_host_create_boolean(uint64_t container, const char *name, uint64_t *handle)
{
    return attached->CreateBooleanComponent(container, name, handle);
}

int32_t gxx_host_update_boolean(uint64_t handle, int32_t value, double timeOffset)
{
    return attached->UpdateBooleanComponent(handle, value != 0, timeOffset);
}

int32_t gxx_host_create_scalar(uint64_t container, const char *name, uint64_t *handle, int32_t type, int32_t units)
{
    return attached->CreateScalarComponent(container, name, handle, static_cast<vr::EVRScalarType>(type),
                                           static_cast<vr::EVRScalarUnits>(units));
}

int32_t gxx_host_update_scalar(uint64_t handle, float value, double timeOffset)
{
    return attached->UpdateScalarComponent(handle, value, timeOffset);
}

} // extern "C"

namespace msvc_abi {

MsvcRuntimeHost::MsvcRuntimeHost() : context_(recorder_)
{
    attached = &context_;
    logTarget.store(&context_);
    msvc_runtime_reset_counts();
}

MsvcRuntimeHost::~MsvcRuntimeHost()
{
    Shutdown();
    if (abandoned_)
        (void)library_.release();
    logTarget.store(nullptr);
    attached = nullptr;
}

bool MsvcRuntimeHost::Load(bool simulatedRadio)
{
    const std::string path = sim::DriverBinaryDirectory(sim::SimHost::DefaultPackageRoot(simulatedRadio)) + "\\" +
                             sim::DriverFileName();
    if (!library_->Open(path)) {
        error_ = library_->Error();
        return false;
    }
    return true;
}

void *MsvcRuntimeHost::CallFactory(const char *interfaceName, int32_t *returnCode)
{
    void *factory = library_->Symbol("HmdDriverFactory");
    if (factory == nullptr) {
        error_ = "HmdDriverFactory not exported";
        return nullptr;
    }
    return msvc_call_factory(factory, interfaceName, returnCode);
}

vr::EVRInitError MsvcRuntimeHost::Init()
{
    int32_t code = 0;
    provider_ = CallFactory(vr::IServerTrackedDeviceProvider_Version, &code);
    if (provider_ == nullptr)
        return static_cast<vr::EVRInitError>(code != 0 ? code : vr::VRInitError_Init_FactoryNotFound);
    initialised_ = true;  // the runtime calls Cleanup after any Init
    return static_cast<vr::EVRInitError>(msvc_provider_init(provider_, msvc_runtime_context()));
}

void *MsvcRuntimeHost::Device() const
{
    for (const sim::DeviceRecord &device : recorder_.Devices())
        if (device.accepted)
            return device.driver;
    return nullptr;
}

vr::EVRInitError MsvcRuntimeHost::Activate(uint32_t objectId)
{
    void *device = Device();
    if (device == nullptr)
        return vr::VRInitError_Driver_Failed;
    // Active from the call on, as for SteamVR: the driver may publish from within Activate.
    context_.SetDeviceActive(objectId, true);
    const auto result = static_cast<vr::EVRInitError>(msvc_device_activate(device, objectId));
    active_ = result == vr::VRInitError_None;
    if (active_)
        deviceIndex_ = objectId;
    else
        context_.SetDeviceActive(objectId, false);
    return result;
}

void MsvcRuntimeHost::RunFrame()
{
    recorder_.SetFrame(++frames_);
    msvc_provider_run_frame(provider_);
}

void MsvcRuntimeHost::RunFrames(uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i)
        RunFrame();
}

bool MsvcRuntimeHost::GetPose(vr::DriverPose_t &pose)
{
    void *device = Device();
    void *vtableBefore = nullptr;
    void *vtableAfter = nullptr;
    std::memcpy(&vtableBefore, device, sizeof vtableBefore);
    msvc_device_get_pose(device, &pose);
    std::memcpy(&vtableAfter, device, sizeof vtableAfter);
    if (vtableAfter != vtableBefore)
        abandoned_ = true;
    return !abandoned_;
}

void MsvcRuntimeHost::Deactivate()
{
    if (!active_ || abandoned_)
        return;
    msvc_device_deactivate(Device());
    context_.SetDeviceActive(deviceIndex_, false);
    active_ = false;
}

void MsvcRuntimeHost::Cleanup()
{
    if (!initialised_ || abandoned_)
        return;
    msvc_provider_cleanup(provider_);
    initialised_ = false;
    // Cleaned up without a Deactivate: the runtime calls the destroyed device no more.
    if (active_)
        context_.SetDeviceActive(deviceIndex_, false);
    active_ = false;
}

void MsvcRuntimeHost::Shutdown()
{
    Deactivate();
    Cleanup();
    provider_ = nullptr;
    if (abandoned_)
        return;
    if (!library_->IsOpen())
        return;
    // The simulated radio's event thread runs inside the library; it ends before the library goes.
    if (auto entry = reinterpret_cast<sim::SimRadioEntry>(library_->Symbol(sim::kSimRadioExport)))
        entry()->Shutdown();
    library_->Close();
}

} // namespace msvc_abi
