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

// Every initialisation error of the SDK's enumeration with the official library's English text.
// Where the official library has no text of its own (1, 141-155, 406-493, 1001) the symbol
// stands in, as it does there.
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
    {200, "Driver_Failed", "Driver Failed"},
    {201, "Driver_Unknown", "Driver Not Known"},
    {202, "Driver_HmdUnknown", "HMD Not Known"},
    {203, "Driver_NotLoaded", "Driver Not Loaded"},
    {204, "Driver_RuntimeOutOfDate", "Driver runtime is out of date"},
    {205, "Driver_HmdInUse", "HMD already in use by another application"},
    {206, "Driver_NotCalibrated", "Device is not calibrated"},
    {207, "Driver_CalibrationInvalid", "Device Calibration is invalid"},
    {208, "Driver_HmdDisplayNotFound", "HMD detected over USB, but Monitor not found"},
    {209, "Driver_TrackedDeviceInterfaceUnknown", "Driver Tracked Device Interface unknown"},
    {211, "Driver_HmdDriverIdOutOfBounds", "Hmd DriverId is our of bounds"},
    {212, "Driver_HmdDisplayMirrored", "HMD detected over USB, but Monitor may be mirrored instead of extended"},
    {213, "Driver_HmdDisplayNotFoundLaptop", "On laptop, HMD detected over USB, but Monitor not found"},
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
    {400, "Compositor_Failed", "Compositor failed to initialize"},
    {401, "Compositor_D3D11HardwareRequired", "Compositor failed to find DX11 hardware"},
    {402, "Compositor_FirmwareRequiresUpdate", "Compositor requires mandatory firmware update"},
    {403, "Compositor_OverlayInitFailed", "Compositor initialization succeeded, but overlay init failed"},
    {404, "Compositor_ScreenshotsInitFailed", "Compositor initialization succeeded, but screenshot init failed"},
    {405, "Compositor_UnableToCreateDevice", "Compositor unable to create graphics device"},
    {406, "Compositor_SharedStateIsNull", nullptr}, {407, "Compositor_NotificationManagerIsNull", nullptr},
    {408, "Compositor_ResourceManagerClientIsNull", nullptr},
    {409, "Compositor_MessageOverlaySharedStateInitFailure", nullptr},
    {410, "Compositor_PropertiesInterfaceIsNull", nullptr}, {411, "Compositor_CreateFullscreenWindowFailed", nullptr},
    {412, "Compositor_SettingsInterfaceIsNull", nullptr}, {413, "Compositor_FailedToShowWindow", nullptr},
    {414, "Compositor_DistortInterfaceIsNull", nullptr}, {415, "Compositor_DisplayFrequencyFailure", nullptr},
    {416, "Compositor_RendererInitializationFailed", nullptr},
    {417, "Compositor_DXGIFactoryInterfaceIsNull", nullptr}, {418, "Compositor_DXGIFactoryCreateFailed", nullptr},
    {419, "Compositor_DXGIFactoryQueryFailed", nullptr}, {420, "Compositor_InvalidAdapterDesktop", nullptr},
    {421, "Compositor_InvalidHmdAttachment", nullptr}, {422, "Compositor_InvalidOutputDesktop", nullptr},
    {423, "Compositor_InvalidDeviceProvided", nullptr},
    {424, "Compositor_D3D11RendererInitializationFailed", nullptr},
    {425, "Compositor_FailedToFindDisplayMode", nullptr}, {426, "Compositor_FailedToCreateSwapChain", nullptr},
    {427, "Compositor_FailedToGetBackBuffer", nullptr}, {428, "Compositor_FailedToCreateRenderTarget", nullptr},
    {429, "Compositor_FailedToCreateDXGI2SwapChain", nullptr},
    {430, "Compositor_FailedtoGetDXGI2BackBuffer", nullptr},
    {431, "Compositor_FailedToCreateDXGI2RenderTarget", nullptr},
    {432, "Compositor_FailedToGetDXGIDeviceInterface", nullptr}, {433, "Compositor_SelectDisplayMode", nullptr},
    {434, "Compositor_FailedToCreateNvAPIRenderTargets", nullptr}, {435, "Compositor_NvAPISetDisplayMode", nullptr},
    {436, "Compositor_FailedToCreateDirectModeDisplay", nullptr},
    {437, "Compositor_InvalidHmdPropertyContainer", nullptr}, {438, "Compositor_UpdateDisplayFrequency", nullptr},
    {439, "Compositor_CreateRasterizerState", nullptr}, {440, "Compositor_CreateWireframeRasterizerState", nullptr},
    {441, "Compositor_CreateSamplerState", nullptr}, {442, "Compositor_CreateClampToBorderSamplerState", nullptr},
    {443, "Compositor_CreateAnisoSamplerState", nullptr}, {444, "Compositor_CreateOverlaySamplerState", nullptr},
    {445, "Compositor_CreatePanoramaSamplerState", nullptr}, {446, "Compositor_CreateFontSamplerState", nullptr},
    {447, "Compositor_CreateNoBlendState", nullptr}, {448, "Compositor_CreateBlendState", nullptr},
    {449, "Compositor_CreateAlphaBlendState", nullptr}, {450, "Compositor_CreateBlendStateMaskR", nullptr},
    {451, "Compositor_CreateBlendStateMaskG", nullptr}, {452, "Compositor_CreateBlendStateMaskB", nullptr},
    {453, "Compositor_CreateDepthStencilState", nullptr}, {454, "Compositor_CreateDepthStencilStateNoWrite", nullptr},
    {455, "Compositor_CreateDepthStencilStateNoDepth", nullptr}, {456, "Compositor_CreateFlushTexture", nullptr},
    {457, "Compositor_CreateDistortionSurfaces", nullptr}, {458, "Compositor_CreateConstantBuffer", nullptr},
    {459, "Compositor_CreateHmdPoseConstantBuffer", nullptr},
    {460, "Compositor_CreateHmdPoseStagingConstantBuffer", nullptr},
    {461, "Compositor_CreateSharedFrameInfoConstantBuffer", nullptr},
    {462, "Compositor_CreateOverlayConstantBuffer", nullptr},
    {463, "Compositor_CreateSceneTextureIndexConstantBuffer", nullptr},
    {464, "Compositor_CreateReadableSceneTextureIndexConstantBuffer", nullptr},
    {465, "Compositor_CreateLayerGraphicsTextureIndexConstantBuffer", nullptr},
    {466, "Compositor_CreateLayerComputeTextureIndexConstantBuffer", nullptr},
    {467, "Compositor_CreateLayerComputeSceneTextureIndexConstantBuffer", nullptr},
    {468, "Compositor_CreateComputeHmdPoseConstantBuffer", nullptr},
    {469, "Compositor_CreateGeomConstantBuffer", nullptr}, {470, "Compositor_CreatePanelMaskConstantBuffer", nullptr},
    {471, "Compositor_CreatePixelSimUBO", nullptr}, {472, "Compositor_CreateMSAARenderTextures", nullptr},
    {473, "Compositor_CreateResolveRenderTextures", nullptr},
    {474, "Compositor_CreateComputeResolveRenderTextures", nullptr},
    {475, "Compositor_CreateDriverDirectModeResolveTextures", nullptr},
    {476, "Compositor_OpenDriverDirectModeResolveTextures", nullptr},
    {477, "Compositor_CreateFallbackSyncTexture", nullptr}, {478, "Compositor_ShareFallbackSyncTexture", nullptr},
    {479, "Compositor_CreateOverlayIndexBuffer", nullptr}, {480, "Compositor_CreateOverlayVertexBuffer", nullptr},
    {481, "Compositor_CreateTextVertexBuffer", nullptr}, {482, "Compositor_CreateTextIndexBuffer", nullptr},
    {483, "Compositor_CreateMirrorTextures", nullptr}, {484, "Compositor_CreateLastFrameRenderTexture", nullptr},
    {485, "Compositor_CreateMirrorOverlay", nullptr},
    {486, "Compositor_FailedToCreateVirtualDisplayBackbuffer", nullptr},
    {487, "Compositor_DisplayModeNotSupported", nullptr}, {488, "Compositor_CreateOverlayInvalidCall", nullptr},
    {489, "Compositor_CreateOverlayAlreadyInitialized", nullptr}, {490, "Compositor_FailedToCreateMailbox", nullptr},
    {491, "Compositor_WindowInterfaceIsNull", nullptr}, {492, "Compositor_SystemLayerCreateInstance", nullptr},
    {493, "Compositor_SystemLayerCreateSession", nullptr},
    {1000, "VendorSpecific_UnableToConnectToOculusRuntime", "Unable to connect to Oculus Runtime"},
    {1001, "VendorSpecific_WindowsNotInDevMode", nullptr},
    {1101, "VendorSpecific_HmdFound_CantOpenDevice", "HMD found, but can not open device"},
    {1102, "VendorSpecific_HmdFound_UnableToRequestConfigStart", "HMD found, but unable to request config"},
    {1103, "VendorSpecific_HmdFound_NoStoredConfig", "HMD found, but no stored config"},
    {1104, "VendorSpecific_HmdFound_ConfigTooBig", "HMD found, but config too big"},
    {1105, "VendorSpecific_HmdFound_ConfigTooSmall", "HMD found, but config too small"},
    {1106, "VendorSpecific_HmdFound_UnableToInitZLib", "HMD found, but unable to init ZLib"},
    {1107, "VendorSpecific_HmdFound_CantReadFirmwareVersion", "HMD found, but problems with the data"},
    {1108, "VendorSpecific_HmdFound_UnableToSendUserDataStart", "HMD found, but problems with the data"},
    {1109, "VendorSpecific_HmdFound_UnableToGetUserDataStart", "HMD found, but problems with the data"},
    {1110, "VendorSpecific_HmdFound_UnableToGetUserDataNext", "HMD found, but problems with the data"},
    {1111, "VendorSpecific_HmdFound_UserDataAddressRange", "HMD found, but problems with the data"},
    {1112, "VendorSpecific_HmdFound_UserDataError", "HMD found, but problems with the data"},
    {1113, "VendorSpecific_HmdFound_ConfigFailedSanityCheck", "HMD found, but failed configuration check"},
    {1114, "VendorSpecific_OculusRuntimeBadInstall", "Unable to connect to Oculus Runtime, possible bad install"},
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
