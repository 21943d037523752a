// The g++ half of the MSVC-ABI openvr_api.dll in the relay's MSVC-ABI test package: it loads the
// client library stand-in (built with g++, copied next to it as openvr_api_gxx.dll) and answers
// what the MSVC-ABI exports and IVRSystem forward to it. The stand-in keeps its own behaviour
// (the simulated runtime's devices, initialisation failures, error texts); only the surface that
// the relay calls is compiled for the MSVC ABI.
#include "MsvcSeam.h"

#include <openvr.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace {

struct StandInLibrary {
    HMODULE module = nullptr;
    uint32_t(VR_CALLTYPE *init)(vr::EVRInitError *, vr::EVRApplicationType, const char *) = nullptr;
    void(VR_CALLTYPE *shutdown)() = nullptr;
    bool(VR_CALLTYPE *isHmdPresent)() = nullptr;
    bool(VR_CALLTYPE *isRuntimeInstalled)() = nullptr;
    bool (*runtimePath)(char *, uint32_t, uint32_t *) = nullptr;
    const char *(VR_CALLTYPE *errorSymbol)(vr::EVRInitError) = nullptr;
    const char *(VR_CALLTYPE *errorDescription)(vr::EVRInitError) = nullptr;
    void *(VR_CALLTYPE *genericInterface)(const char *, vr::EVRInitError *) = nullptr;
    bool(VR_CALLTYPE *isInterfaceVersionValid)(const char *) = nullptr;
    uint32_t(VR_CALLTYPE *initToken)() = nullptr;
};

template <class Fn>
void Resolve(HMODULE module, const char *name, Fn &fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// The stand-in next to this library, loaded on first use; every entry point of it is required.
const StandInLibrary &StandIn()
{
    static const StandInLibrary standIn = [] {
        StandInLibrary s;
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&StandIn), &self);
        char path[MAX_PATH];
        const DWORD n = GetModuleFileNameA(self, path, sizeof path);
        std::string file(path, n < sizeof path ? n : 0);
        file = file.substr(0, file.find_last_of("\\/") + 1) + "openvr_api_gxx.dll";
        s.module = LoadLibraryA(file.c_str());
        if (s.module == nullptr)
            return s;
        Resolve(s.module, "VR_InitInternal2", s.init);
        Resolve(s.module, "VR_ShutdownInternal", s.shutdown);
        Resolve(s.module, "VR_IsHmdPresent", s.isHmdPresent);
        Resolve(s.module, "VR_IsRuntimeInstalled", s.isRuntimeInstalled);
        Resolve(s.module, "VR_GetRuntimePath", s.runtimePath);
        Resolve(s.module, "VR_GetVRInitErrorAsSymbol", s.errorSymbol);
        Resolve(s.module, "VR_GetVRInitErrorAsEnglishDescription", s.errorDescription);
        Resolve(s.module, "VR_GetGenericInterface", s.genericInterface);
        Resolve(s.module, "VR_IsInterfaceVersionValid", s.isInterfaceVersionValid);
        Resolve(s.module, "VR_GetInitToken", s.initToken);
        return s;
    }();
    if (standIn.module == nullptr) {
        // A test package without its stand-in: nothing sensible to answer.
        static const char kMessage[] = "openvr_api (MSVC ABI): openvr_api_gxx.dll is missing\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof kMessage - 1, &written, nullptr);
        ExitProcess(3);
    }
    return standIn;
}

// The stand-in's IVRSystem (a g++ object), whose slots the MSVC-ABI IVRSystem forwards to.
vr::IVRSystem *standInSystem = nullptr;
vr::IVRSettings *standInSettings = nullptr;

} // namespace

extern "C" {

uint32_t gxx_api_init(int32_t *error, int32_t applicationType, const char *startupInfo)
{
    return StandIn().init(reinterpret_cast<vr::EVRInitError *>(error),
                          static_cast<vr::EVRApplicationType>(applicationType), startupInfo);
}

void gxx_api_shutdown(void) { StandIn().shutdown(); }

int32_t gxx_api_is_hmd_present(void) { return StandIn().isHmdPresent() ? 1 : 0; }

int32_t gxx_api_is_runtime_installed(void) { return StandIn().isRuntimeInstalled() ? 1 : 0; }

int32_t gxx_api_runtime_path(char *buffer, uint32_t bufferSize, uint32_t *requiredSize)
{
    return StandIn().runtimePath(buffer, bufferSize, requiredSize) ? 1 : 0;
}

const char *gxx_api_error_symbol(int32_t error) { return StandIn().errorSymbol(static_cast<vr::EVRInitError>(error)); }

const char *gxx_api_error_description(int32_t error)
{
    return StandIn().errorDescription(static_cast<vr::EVRInitError>(error));
}

void *gxx_api_generic_interface(const char *interfaceVersion, int32_t *error)
{
    void *answer = StandIn().genericInterface(interfaceVersion, reinterpret_cast<vr::EVRInitError *>(error));
    if (answer != nullptr && interfaceVersion != nullptr && std::strcmp(interfaceVersion, vr::IVRSystem_Version) == 0)
        standInSystem = static_cast<vr::IVRSystem *>(answer);
    if (answer != nullptr && interfaceVersion != nullptr && std::strcmp(interfaceVersion, vr::IVRSettings_Version) == 0)
        standInSettings = static_cast<vr::IVRSettings *>(answer);
    return answer;
}

int32_t gxx_api_is_interface_version_valid(const char *interfaceVersion)
{
    return StandIn().isInterfaceVersionValid(interfaceVersion) ? 1 : 0;
}

uint32_t gxx_api_init_token(void) { return StandIn().initToken(); }

void gxx_system_device_poses(int32_t origin, float predictedSeconds, void *poses, uint32_t count)
{
    standInSystem->GetDeviceToAbsoluteTrackingPose(static_cast<vr::ETrackingUniverseOrigin>(origin), predictedSeconds,
                                                   static_cast<vr::TrackedDevicePose_t *>(poses), count);
}

uint32_t gxx_system_sorted_devices(int32_t deviceClass, uint32_t *indices, uint32_t capacity, uint32_t relativeTo)
{
    return standInSystem->GetSortedTrackedDeviceIndicesOfClass(static_cast<vr::ETrackedDeviceClass>(deviceClass),
                                                                indices, capacity, relativeTo);
}

int32_t gxx_system_controller_role(uint32_t deviceIndex)
{
    return standInSystem->GetControllerRoleForTrackedDeviceIndex(deviceIndex);
}

int32_t gxx_system_poll_event(void *event, uint32_t eventSize)
{
    return standInSystem->PollNextEvent(static_cast<vr::VREvent_t *>(event), eventSize) ? 1 : 0;
}

void gxx_system_acknowledge_quit(void) { standInSystem->AcknowledgeQuit_Exiting(); }

int32_t gxx_system_device_class(uint32_t deviceIndex) { return standInSystem->GetTrackedDeviceClass(deviceIndex); }

uint32_t gxx_system_string_property(uint32_t deviceIndex, int32_t prop, char *value, uint32_t size, int32_t *error)
{
    return standInSystem->GetStringTrackedDeviceProperty(deviceIndex, static_cast<vr::ETrackedDeviceProperty>(prop),
                                                         value, size, reinterpret_cast<vr::ETrackedPropertyError *>(error));
}

int32_t gxx_settings_get_bool(const char *section, const char *key, int32_t *error)
{
    return standInSettings->GetBool(section, key, reinterpret_cast<vr::EVRSettingsError *>(error)) ? 1 : 0;
}

int32_t gxx_settings_get_int32(const char *section, const char *key, int32_t *error)
{
    return standInSettings->GetInt32(section, key, reinterpret_cast<vr::EVRSettingsError *>(error));
}

float gxx_settings_get_float(const char *section, const char *key, int32_t *error)
{
    return standInSettings->GetFloat(section, key, reinterpret_cast<vr::EVRSettingsError *>(error));
}

void gxx_settings_get_string(const char *section, const char *key, char *value, uint32_t size, int32_t *error)
{
    standInSettings->GetString(section, key, value, size, reinterpret_cast<vr::EVRSettingsError *>(error));
}

} // extern "C"
