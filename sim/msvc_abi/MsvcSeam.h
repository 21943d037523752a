#pragma once
// The seam between the two halves of the MSVC-ABI test programs. The runtime's side of every
// OpenVR interface is compiled for the MSVC ABI (clang, x86_64-pc-windows-msvc, freestanding);
// the tests and the recording host are compiled with MinGW's g++. C++ calls cross only where the
// product crosses them: between the MSVC-ABI objects and the driver or the relay. Everything
// else goes through the plain C functions below, which both compilers pass alike (the Windows
// x64 convention of C functions): integers, floats, doubles and pointers only, no bool, no
// structure by value.
//
// msvc_* functions are implemented in the MSVC-ABI objects; gxx_* functions on the g++ side.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- the driver's runtime --------------------------------------------------------------------

// Interfaces of the runtime, for the per-slot call counts.
enum MsvcInterface {
    MsvcInterface_Context,
    MsvcInterface_ServerDriverHost,
    MsvcInterface_Settings,
    MsvcInterface_Properties,
    MsvcInterface_DriverLog,
    MsvcInterface_DriverManager,
    MsvcInterface_Resources,
    MsvcInterface_DriverInput,
    MsvcInterface_Count
};
#define MSVC_MAX_SLOTS 16

// The runtime's IVRDriverContext, to hand to the provider's Init.
void *msvc_runtime_context(void);
// How often the driver called each slot of each runtime interface since the last reset.
uint32_t msvc_runtime_slot_calls(int32_t iface, int32_t slot);
void msvc_runtime_reset_counts(void);

// The driver's entry points, called the way the runtime calls them.
void *msvc_call_factory(void *factory, const char *interfaceName, int32_t *returnCode);
int32_t msvc_provider_init(void *provider, void *context);
void msvc_provider_cleanup(void *provider);
const char *const *msvc_provider_interface_versions(void *provider);
void msvc_provider_run_frame(void *provider);
int32_t msvc_provider_should_block_standby(void *provider);  // 0 or 1
void msvc_provider_enter_standby(void *provider);
void msvc_provider_leave_standby(void *provider);
int32_t msvc_device_activate(void *device, uint32_t objectId);
void msvc_device_deactivate(void *device);
void msvc_device_enter_standby(void *device);
void *msvc_device_get_component(void *device, const char *componentNameAndVersion);
void msvc_device_debug_request(void *device, const char *request, char *buffer, uint32_t bufferSize);
// GetPose's result is copied to pose (a vr::DriverPose_t).
void msvc_device_get_pose(void *device, void *pose);

// What the runtime's MSVC-ABI interfaces received, handed to the recording host (g++ side).
// Each returns what the runtime answers the driver.
void *gxx_host_get_generic_interface(const char *interfaceVersion, int32_t *error);
uint64_t gxx_host_driver_handle(void);
int32_t gxx_host_tracked_device_added(const char *serial, int32_t deviceClass, void *device);
void gxx_host_pose_updated(uint32_t deviceIndex, const void *pose, uint32_t poseSize);
int32_t gxx_host_write_properties(uint64_t container, void *batch, uint32_t count);   // vr::PropertyWrite_t
int32_t gxx_host_read_properties(uint64_t container, void *batch, uint32_t count);    // vr::PropertyRead_t
uint64_t gxx_host_property_container(uint32_t deviceIndex);
void gxx_host_log(const char *message);
int32_t gxx_host_create_boolean(uint64_t container, const char *name, uint64_t *handle);
int32_t gxx_host_update_boolean(uint64_t handle, int32_t value, double timeOffset);
int32_t gxx_host_create_scalar(uint64_t container, const char *name, uint64_t *handle, int32_t type, int32_t units);
int32_t gxx_host_update_scalar(uint64_t handle, float value, double timeOffset);

// The runtime's settings (IVRSettings_003, the same slots on the driver's side and a client's):
// the Get slots forward to the settings behind them; each returns the value and writes the
// vr::EVRSettingsError. In the driver tests the recording host answers, in the relay's client
// library the g++ stand-in.
int32_t gxx_settings_get_bool(const char *section, const char *key, int32_t *error);  // 0 or 1
int32_t gxx_settings_get_int32(const char *section, const char *key, int32_t *error);
float gxx_settings_get_float(const char *section, const char *key, int32_t *error);
void gxx_settings_get_string(const char *section, const char *key, char *value, uint32_t size, int32_t *error);

// ---- the relay's runtime ---------------------------------------------------------------------

#define MSVC_SYSTEM_SLOTS 46

// The runtime's IVRSystem_022, every slot in order. The slots the relay calls go to the gxx_system
// functions; every other slot answers zeros (nothing, false, 0, a zeroed structure).
void *msvc_system_object(void);
uint32_t msvc_system_slot_calls(int32_t slot);
void msvc_system_reset_counts(void);

void gxx_system_device_poses(int32_t origin, float predictedSeconds, void *poses, uint32_t count);  // slot 11
uint32_t gxx_system_sorted_devices(int32_t deviceClass, uint32_t *indices, uint32_t capacity,
                                   uint32_t relativeTo);                                           // slot 14
int32_t gxx_system_controller_role(uint32_t deviceIndex);                                          // slot 18
int32_t gxx_system_device_class(uint32_t deviceIndex);                                             // slot 19
uint32_t gxx_system_string_property(uint32_t deviceIndex, int32_t prop, char *value, uint32_t size,
                                    int32_t *error);                                               // slot 27
int32_t gxx_system_poll_event(void *event, uint32_t eventSize);  // slot 29, a vr::VREvent_t; 1 when one was taken
void gxx_system_acknowledge_quit(void);                           // slot 43

// The runtime's IVRSettings_003 as the client library hands it out (MsvcClientSettings.cpp).
void *msvc_client_settings_object(void);

// The client library's exports, forwarded by the MSVC-ABI openvr_api to the g++ stand-in. A non-null
// answer of gxx_api_generic_interface for IVRSystem_022 makes the export hand out msvc_system_object,
// for IVRSettings_003 msvc_client_settings_object.
uint32_t gxx_api_init(int32_t *error, int32_t applicationType, const char *startupInfo);
void gxx_api_shutdown(void);
int32_t gxx_api_is_hmd_present(void);
int32_t gxx_api_is_runtime_installed(void);
int32_t gxx_api_runtime_path(char *buffer, uint32_t bufferSize, uint32_t *requiredSize);
const char *gxx_api_error_symbol(int32_t error);
const char *gxx_api_error_description(int32_t error);
void *gxx_api_generic_interface(const char *interfaceVersion, int32_t *error);
int32_t gxx_api_is_interface_version_valid(const char *interfaceVersion);
uint32_t gxx_api_init_token(void);

// ---- the Windows Runtime's Bluetooth objects ------------------------------------------------

// One object of each interface (MsvcWinrt.cpp), as Windows' MSVC-built DLLs implement them.
enum MsvcWinrtObject {
    MsvcWinrt_Device3,         // IBluetoothLEDevice3
    MsvcWinrt_DeviceStatics2,  // IBluetoothLEDeviceStatics2
    MsvcWinrt_Session,         // IGattSession
};
void *msvc_winrt_object(int32_t object);

// What the last call into one of them received: its object and slot, its enum or boolean
// argument (widened), and a GUID argument's 16 bytes.
struct MsvcWinrtCall {
    int32_t object;
    int32_t slot;
    uint64_t argument;
    uint8_t guid[16];
};
void msvc_winrt_last_call(struct MsvcWinrtCall *call);

#ifdef __cplusplus
}
#endif
