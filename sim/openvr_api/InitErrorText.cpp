#include "InitErrorText.h"

#include <cstdio>
#include <map>
#include <string>

namespace sim {

namespace {

struct Entry {
    int code;
    const char *name;     // symbol without the VRInitError_ prefix
    const char *english;  // without the trailing " (<code>)"; null: the symbol is the text
};

// The official library's texts for the initialisation errors a client can meet (installation,
// start-up, driver and connection errors). Where no text is reproduced the symbol stands in, as
// the official library does for codes without a text; compositor and vendor codes are left out.
const Entry kEntries[] = {
    {0, "None", "No Error"}, {1, "Unknown", nullptr},
    {100, "Init_InstallationNotFound", "Installation Not Found"},
    {101, "Init_InstallationCorrupt", "Installation Corrupt"},
    {102, "Init_VRClientDLLNotFound", "vrclient Shared Lib Not Found"},
    {103, "Init_FileNotFound", "File Not Found"},
    {104, "Init_FactoryNotFound", "Factory Function Not Found"},
    {105, "Init_InterfaceNotFound", "Interface Not Found"},
    {106, "Init_InvalidInterface", "Invalid Interface"},
    {107, "Init_UserConfigDirectoryInvalid", "User Config Directory Invalid"},
    {108, "Init_HmdNotFound", "Hmd Not Found"},
    {109, "Init_NotInitialized", "Not Initialized"},
    {110, "Init_PathRegistryNotFound", "Installation path could not be located"},
    {111, "Init_NoConfigPath", "Config path could not be located"},
    {112, "Init_NoLogPath", "Log path could not be located"},
    {113, "Init_PathRegistryNotWritable", "Unable to write path registry"},
    {114, "Init_AppInfoInitFailed", "App info manager init failed"},
    {115, "Init_Retry", "Internal Retry"},
    {116, "Init_InitCanceledByUser", "User Canceled Init"},
    {117, "Init_AnotherAppLaunching", "Another app was already launching"},
    {118, "Init_SettingsInitFailed", "Settings manager init failed"},
    {119, "Init_ShuttingDown", "VR system shutting down"},
    {120, "Init_TooManyObjects", "Too many tracked objects"},
    {121, "Init_NoServerForBackgroundApp", "Not starting vrserver for background app"},
    {122, "Init_NotSupportedWithCompositor",
     "The requested interface is incompatible with the compositor and the compositor is running"},
    {123, "Init_NotAvailableToUtilityApps", "This interface is not available to utility applications"},
    {124, "Init_Internal", "vrserver internal error"},
    {125, "Init_HmdDriverIdIsNone", "Hmd DriverId is invalid"},
    {126, "Init_HmdNotFoundPresenceFailed", "Hmd Not Found Presence Failed"},
    {127, "Init_VRMonitorNotFound", "VR Monitor Not Found"},
    {128, "Init_VRMonitorStartupFailed", "VR Monitor startup failed"},
    {129, "Init_LowPowerWatchdogNotSupported", "Low Power Watchdog Not Supported"},
    {130, "Init_InvalidApplicationType", "Invalid Application Type"},
    {131, "Init_NotAvailableToWatchdogApps", "Not available to watchdog apps"},
    {132, "Init_WatchdogDisabledInSettings", "Watchdog disabled in settings"},
    {133, "Init_VRDashboardNotFound", "VR Dashboard Not Found"},
    {134, "Init_VRDashboardStartupFailed", "VR Dashboard startup failed"},
    {135, "Init_VRHomeNotFound", "VR Home Not Found"},
    {136, "Init_VRHomeStartupFailed", "VR home startup failed"},
    {137, "Init_RebootingBusy", "Rebooting In Progress"},
    {138, "Init_FirmwareUpdateBusy", "Firmware Update In Progress"},
    {139, "Init_FirmwareRecoveryBusy", "Firmware Recovery In Progress"},
    {140, "Init_USBServiceBusy", "USB Service Busy"},
    {141, "Init_VRWebHelperStartupFailed", nullptr}, {142, "Init_TrackerManagerInitFailed", nullptr},
    {143, "Init_AlreadyRunning", nullptr}, {144, "Init_FailedForVrMonitor", nullptr},
    {145, "Init_PropertyManagerInitFailed", nullptr}, {146, "Init_WebServerFailed", nullptr},
    {147, "Init_IllegalTypeTransition", nullptr}, {148, "Init_MismatchedRuntimes", nullptr},
    {149, "Init_InvalidProcessId", nullptr}, {150, "Init_VRServiceStartupFailed", nullptr},
    {151, "Init_PrismNeedsNewDrivers", nullptr}, {152, "Init_PrismStartupTimedOut", nullptr},
    {153, "Init_CouldNotStartPrism", nullptr}, {154, "Init_CreateDriverDirectDeviceFailed", nullptr},
    {155, "Init_PrismExitedUnexpectedly", nullptr},
    {200, "Driver_Failed", "Driver Failed"}, {201, "Driver_Unknown", nullptr},
    {202, "Driver_HmdUnknown", nullptr}, {203, "Driver_NotLoaded", nullptr},
    {204, "Driver_RuntimeOutOfDate", nullptr}, {205, "Driver_HmdInUse", nullptr},
    {206, "Driver_NotCalibrated", nullptr}, {207, "Driver_CalibrationInvalid", nullptr},
    {208, "Driver_HmdDisplayNotFound", nullptr}, {209, "Driver_TrackedDeviceInterfaceUnknown", nullptr},
    {211, "Driver_HmdDriverIdOutOfBounds", nullptr}, {212, "Driver_HmdDisplayMirrored", nullptr},
    {213, "Driver_HmdDisplayNotFoundLaptop", nullptr},
    {300, "IPC_ServerInitFailed", "VR Server Init Failed"},
    {301, "IPC_ConnectFailed", "Connect to VR Server Failed"},
    {302, "IPC_SharedStateInitFailed", "Shared IPC State Init Failed"},
    {303, "IPC_CompositorInitFailed", "Shared IPC Compositor Init Failed"},
    {304, "IPC_MutexInitFailed", "Shared IPC Mutex Init Failed"},
    {305, "IPC_Failed", "Shared IPC Failed"},
    {306, "IPC_CompositorConnectFailed", "Shared IPC Compositor Connect Failed"},
    {307, "IPC_CompositorInvalidConnectResponse", "Shared IPC Compositor Invalid Connect Response"},
    {308, "IPC_ConnectFailedAfterMultipleAttempts", "Shared IPC Connect Failed After Multiple Attempts"},
    {309, "IPC_ConnectFailedAfterTargetExited", "Shared IPC Connect Failed After Target Exited"},
    {310, "IPC_NamespaceUnavailable", "Shared IPC Namespace Unavailable"},
    {400, "Compositor_Failed", nullptr}, {406, "Compositor_SharedStateIsNull", nullptr},
    {2000, "Steam_SteamInstallationNotFound", "Unable to find Steam installation"},
};

struct Texts {
    std::string symbol;
    std::string english;
};

const std::map<int, Texts> &Table()
{
    static const std::map<int, Texts> table = [] {
        std::map<int, Texts> t;
        for (const Entry &e : kEntries) {
            const std::string symbol = std::string("VRInitError_") + e.name;
            t[e.code] = {symbol, e.english ? std::string(e.english) + " (" + std::to_string(e.code) + ")" : symbol};
        }
        return t;
    }();
    return table;
}

const char *Unknown(int code)
{
    thread_local char buffer[128];
    std::snprintf(buffer, sizeof buffer, "Unknown error (%d)", code);
    return buffer;
}

} // namespace

const char *InitErrorSymbol(int code)
{
    const auto it = Table().find(code);
    return it != Table().end() ? it->second.symbol.c_str() : Unknown(code);
}

const char *InitErrorEnglish(int code)
{
    const auto it = Table().find(code);
    return it != Table().end() ? it->second.english.c_str() : Unknown(code);
}

} // namespace sim
