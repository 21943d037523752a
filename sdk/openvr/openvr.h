#pragma once
// Declarations of the OpenVR client API (SDK 1.16.8) that our tools use: the shared types,
// IVRSystem, the functions exported by openvr_api, and the inline code that initialises the
// client and caches interface pointers. The code is built against either this header or the
// SDK's own, so names, method order, parameter types and layouts match it exactly: IVRSystem
// is called purely through its vtable and the exports by their C names.

#ifndef OPENVR_CLIENT_DECLS_H_
#define OPENVR_CLIENT_DECLS_H_

// ---------------------------------------------------------------------------------------------
// Types shared by the driver and the client side. openvr.h and openvr_driver.h each carry their
// own copy of this block (keep the two copies identical); a translation unit includes only one
// of the two headers, so the definitions never meet.
// ---------------------------------------------------------------------------------------------

#include <stddef.h>
#include <stdint.h>

// Calling convention of the free functions (exports and the inline accessors). Interface
// methods never carry one: they use the platform's default member-function convention.
#ifndef VR_CALLTYPE
#if defined(_WIN32)
#define VR_CALLTYPE __cdecl
#else
#define VR_CALLTYPE
#endif
#endif

// SteamVR and openvr_api are built with MSVC, which passes the hidden result buffer of a member
// function that returns a structure after `this`; MinGW's compilers pass it before `this`, so
// such a slot, declared plainly, swaps the two between a MinGW caller and an MSVC callee (or the
// other way round), and the callee writes its result over the object. MinGW builds therefore
// declare those slots with the buffer as an explicit parameter after `this`, returning it, which
// every compiler passes exactly as MSVC passes the hidden one. Our side keeps the plain spelling:
// callers of the runtime's slots through an inline wrapper (IVRSystem), implementers of ours
// through a plain virtual that follows the runtime's slots (ITrackedDeviceServerDriver::GetPose).
#if defined(__MINGW32__)
#define VR_EXPLICIT_STRUCT_RETURN 1
#else
#define VR_EXPLICIT_STRUCT_RETURN 0
#endif

namespace vr {

// Everything in this block is laid out with 8-byte packing, which on x86_64 equals natural
// alignment; the explicit pragma keeps compilers with other defaults in line.
#pragma pack(push, 8)

// ---- math types ------------------------------------------------------------------------------

// Row-major 3x4 transform; the translation is the last column (m[0][3], m[1][3], m[2][3]).
struct HmdMatrix34_t {
    float m[3][4];
};

struct HmdMatrix44_t {
    float m[4][4];
};

struct HmdVector3_t {
    float v[3];
};

struct HmdVector4_t {
    float v[4];
};

struct HmdVector3d_t {
    double v[3];
};

struct HmdVector2_t {
    float v[2];
};

// Note the member order: w comes first.
struct HmdQuaternion_t {
    double w, x, y, z;
};

struct HmdQuaternionf_t {
    float w, x, y, z;
};

struct HmdRect2_t {
    HmdVector2_t vTopLeft;
    HmdVector2_t vBottomRight;
};

struct VRBoneTransform_t {
    HmdVector4_t position;
    HmdQuaternionf_t orientation;
};

enum EVREye {
    Eye_Left = 0,
    Eye_Right = 1,
};

// ---- tracking --------------------------------------------------------------------------------

enum ETrackingResult {
    TrackingResult_Uninitialized = 1,

    TrackingResult_Calibrating_InProgress = 100,
    TrackingResult_Calibrating_OutOfRange = 101,

    TrackingResult_Running_OK = 200,
    TrackingResult_Running_OutOfRange = 201,

    TrackingResult_Fallback_RotationOnly = 300,
};

typedef uint32_t DriverId_t;
static const uint32_t k_nDriverNone = 0xFFFFFFFF;

static const uint32_t k_unMaxPropertyStringSize = 32 * 1024;

typedef uint32_t TrackedDeviceIndex_t;
static const uint32_t k_unTrackedDeviceIndex_Hmd = 0;
static const uint32_t k_unMaxTrackedDeviceCount = 64;
static const uint32_t k_unTrackedDeviceIndexOther = 0xFFFFFFFE;
static const uint32_t k_unTrackedDeviceIndexInvalid = 0xFFFFFFFF;

enum ETrackedDeviceClass {
    TrackedDeviceClass_Invalid = 0,
    TrackedDeviceClass_HMD = 1,
    TrackedDeviceClass_Controller = 2,
    TrackedDeviceClass_GenericTracker = 3,
    TrackedDeviceClass_TrackingReference = 4,
    TrackedDeviceClass_DisplayRedirect = 5,

    TrackedDeviceClass_Max
};

enum ETrackedControllerRole {
    TrackedControllerRole_Invalid = 0,
    TrackedControllerRole_LeftHand = 1,
    TrackedControllerRole_RightHand = 2,
    TrackedControllerRole_OptOut = 3,
    TrackedControllerRole_Treadmill = 4,
    TrackedControllerRole_Stylus = 5,
    TrackedControllerRole_Max = 5
};

// Pose of one device as the runtime reports it to applications.
struct TrackedDevicePose_t {
    HmdMatrix34_t mDeviceToAbsoluteTracking;
    HmdVector3_t vVelocity;        // metres per second, tracking space
    HmdVector3_t vAngularVelocity; // radians per second
    ETrackingResult eTrackingResult;
    bool bPoseIsValid;
    bool bDeviceIsConnected; // false when the device is known but currently absent
};

enum ETrackingUniverseOrigin {
    TrackingUniverseSeated = 0,
    TrackingUniverseStanding = 1,
    TrackingUniverseRawAndUncalibrated = 2,
};

// ---- properties ------------------------------------------------------------------------------

typedef uint64_t PropertyContainerHandle_t;
typedef uint32_t PropertyTypeTag_t;

static const PropertyContainerHandle_t k_ulInvalidPropertyContainer = 0;
static const PropertyTypeTag_t k_unInvalidPropertyTag = 0;

typedef PropertyContainerHandle_t DriverHandle_t;
static const PropertyContainerHandle_t k_ulInvalidDriverHandle = 0;

// Type tags carried with every property value.
static const PropertyTypeTag_t k_unFloatPropertyTag = 1;
static const PropertyTypeTag_t k_unInt32PropertyTag = 2;
static const PropertyTypeTag_t k_unUint64PropertyTag = 3;
static const PropertyTypeTag_t k_unBoolPropertyTag = 4;
static const PropertyTypeTag_t k_unStringPropertyTag = 5;
static const PropertyTypeTag_t k_unErrorPropertyTag = 6;
static const PropertyTypeTag_t k_unDoublePropertyTag = 7;

static const PropertyTypeTag_t k_unHmdMatrix34PropertyTag = 20;
static const PropertyTypeTag_t k_unHmdMatrix44PropertyTag = 21;
static const PropertyTypeTag_t k_unHmdVector3PropertyTag = 22;
static const PropertyTypeTag_t k_unHmdVector4PropertyTag = 23;
static const PropertyTypeTag_t k_unHmdVector2PropertyTag = 24;
static const PropertyTypeTag_t k_unHmdQuadPropertyTag = 25;

static const PropertyTypeTag_t k_unHiddenAreaPropertyTag = 30;
static const PropertyTypeTag_t k_unPathHandleInfoTag = 31;
static const PropertyTypeTag_t k_unActionPropertyTag = 32;
static const PropertyTypeTag_t k_unInputValuePropertyTag = 33;
static const PropertyTypeTag_t k_unWildcardPropertyTag = 34;
static const PropertyTypeTag_t k_unHapticVibrationPropertyTag = 35;
static const PropertyTypeTag_t k_unSkeletonPropertyTag = 36;

static const PropertyTypeTag_t k_unSpatialAnchorPosePropertyTag = 40;
static const PropertyTypeTag_t k_unJsonPropertyTag = 41;
static const PropertyTypeTag_t k_unActiveActionSetPropertyTag = 42;

static const PropertyTypeTag_t k_unOpenVRInternalReserved_Start = 1000;
static const PropertyTypeTag_t k_unOpenVRInternalReserved_End = 10000;

// Device properties. Only the general, controller, icon and driver ranges are listed; the
// HMD-only (2000-2303) and tracking-reference (4000-4008) ranges are not used here.
enum ETrackedDeviceProperty {
    Prop_Invalid = 0,
    Prop_TrackingSystemName_String = 1000,
    Prop_ModelNumber_String = 1001,
    Prop_SerialNumber_String = 1002,
    Prop_RenderModelName_String = 1003,
    Prop_WillDriftInYaw_Bool = 1004,
    Prop_ManufacturerName_String = 1005,
    Prop_TrackingFirmwareVersion_String = 1006,
    Prop_HardwareRevision_String = 1007,
    Prop_AllWirelessDongleDescriptions_String = 1008,
    Prop_ConnectedWirelessDongle_String = 1009,
    Prop_DeviceIsWireless_Bool = 1010,
    Prop_DeviceIsCharging_Bool = 1011,
    Prop_DeviceBatteryPercentage_Float = 1012,
    Prop_StatusDisplayTransform_Matrix34 = 1013,
    Prop_Firmware_UpdateAvailable_Bool = 1014,
    Prop_Firmware_ManualUpdate_Bool = 1015,
    Prop_Firmware_ManualUpdateURL_String = 1016,
    Prop_HardwareRevision_Uint64 = 1017,
    Prop_FirmwareVersion_Uint64 = 1018,
    Prop_FPGAVersion_Uint64 = 1019,
    Prop_VRCVersion_Uint64 = 1020,
    Prop_RadioVersion_Uint64 = 1021,
    Prop_DongleVersion_Uint64 = 1022,
    Prop_BlockServerShutdown_Bool = 1023,
    Prop_CanUnifyCoordinateSystemWithHmd_Bool = 1024,
    Prop_ContainsProximitySensor_Bool = 1025,
    Prop_DeviceProvidesBatteryStatus_Bool = 1026,
    Prop_DeviceCanPowerOff_Bool = 1027,
    Prop_Firmware_ProgrammingTarget_String = 1028,
    Prop_DeviceClass_Int32 = 1029,
    Prop_HasCamera_Bool = 1030,
    Prop_DriverVersion_String = 1031,
    Prop_Firmware_ForceUpdateRequired_Bool = 1032,
    Prop_ViveSystemButtonFixRequired_Bool = 1033,
    Prop_ParentDriver_Uint64 = 1034,
    Prop_ResourceRoot_String = 1035,
    Prop_RegisteredDeviceType_String = 1036,
    Prop_InputProfilePath_String = 1037,
    Prop_NeverTracked_Bool = 1038,
    Prop_NumCameras_Int32 = 1039,
    Prop_CameraFrameLayout_Int32 = 1040,
    Prop_CameraStreamFormat_Int32 = 1041,
    Prop_AdditionalDeviceSettingsPath_String = 1042,
    Prop_Identifiable_Bool = 1043,
    Prop_BootloaderVersion_Uint64 = 1044,
    Prop_AdditionalSystemReportData_String = 1045,
    Prop_CompositeFirmwareVersion_String = 1046,
    Prop_Firmware_RemindUpdate_Bool = 1047,
    Prop_PeripheralApplicationVersion_Uint64 = 1048,
    Prop_ManufacturerSerialNumber_String = 1049,
    Prop_ComputedSerialNumber_String = 1050,
    Prop_EstimatedDeviceFirstUseTime_Int32 = 1051,
    Prop_AttachedDeviceId_String = 3000,
    Prop_SupportedButtons_Uint64 = 3001,
    Prop_Axis0Type_Int32 = 3002,
    Prop_Axis1Type_Int32 = 3003,
    Prop_Axis2Type_Int32 = 3004,
    Prop_Axis3Type_Int32 = 3005,
    Prop_Axis4Type_Int32 = 3006,
    Prop_ControllerRoleHint_Int32 = 3007,
    Prop_IconPathName_String = 5000,
    Prop_NamedIconPathDeviceOff_String = 5001,
    Prop_NamedIconPathDeviceSearching_String = 5002,
    Prop_NamedIconPathDeviceSearchingAlert_String = 5003,
    Prop_NamedIconPathDeviceReady_String = 5004,
    Prop_NamedIconPathDeviceReadyAlert_String = 5005,
    Prop_NamedIconPathDeviceNotReady_String = 5006,
    Prop_NamedIconPathDeviceStandby_String = 5007,
    Prop_NamedIconPathDeviceAlertLow_String = 5008,
    Prop_NamedIconPathDeviceStandbyAlert_String = 5009,
    Prop_DisplayHiddenArea_Binary_Start = 5100,
    Prop_DisplayHiddenArea_Binary_End = 5150,
    Prop_ParentContainer = 5151,
    Prop_OverrideContainer_Uint64 = 5152,
    Prop_UserConfigPath_String = 6000,
    Prop_InstallPath_String = 6001,
    Prop_HasDisplayComponent_Bool = 6002,
    Prop_HasControllerComponent_Bool = 6003,
    Prop_HasCameraComponent_Bool = 6004,
    Prop_HasDriverDirectModeComponent_Bool = 6005,
    Prop_HasVirtualDisplayComponent_Bool = 6006,
    Prop_HasSpatialAnchorsSupport_Bool = 6007,
    Prop_ControllerType_String = 7000,
    Prop_ControllerHandSelectionPriority_Int32 = 7002,
    Prop_VendorSpecific_Reserved_Start = 10000,
    Prop_VendorSpecific_Reserved_End = 10999,
    Prop_TrackedDeviceProperty_Max = 1000000,
};

enum ETrackedPropertyError {
    TrackedProp_Success = 0,
    TrackedProp_WrongDataType = 1,
    TrackedProp_WrongDeviceClass = 2,
    TrackedProp_BufferTooSmall = 3,
    TrackedProp_UnknownProperty = 4,
    TrackedProp_InvalidDevice = 5,
    TrackedProp_CouldNotContactServer = 6,
    TrackedProp_ValueNotProvidedByDevice = 7,
    TrackedProp_StringExceedsMaximumLength = 8,
    TrackedProp_NotYetAvailable = 9,
    TrackedProp_PermissionDenied = 10,
    TrackedProp_InvalidOperation = 11,
    TrackedProp_CannotWriteToWildcards = 12,
    TrackedProp_IPCReadFailure = 13,
    TrackedProp_OutOfMemory = 14,
    TrackedProp_InvalidContainer = 15,
};

typedef uint64_t SharedTextureHandle_t;
static const PropertyContainerHandle_t k_ulDisplayRedirectContainer = 0x600000003;

// ---- events ----------------------------------------------------------------------------------

// Event types. Stored as uint32_t in VREvent_t; only the values this project meets are named.
enum EVREventType {
    VREvent_None = 0,

    VREvent_TrackedDeviceActivated = 100,
    VREvent_TrackedDeviceDeactivated = 101,
    VREvent_TrackedDeviceUpdated = 102,
    VREvent_TrackedDeviceUserInteractionStarted = 103,
    VREvent_EnterStandbyMode = 106,
    VREvent_LeaveStandbyMode = 107,
    VREvent_TrackedDeviceRoleChanged = 108,
    VREvent_PropertyChanged = 111,

    VREvent_ButtonPress = 200,
    VREvent_ButtonUnpress = 201,

    VREvent_Quit = 700,
    VREvent_ProcessQuit = 701,
    VREvent_QuitAcknowledged = 703,
    VREvent_DriverRequestedQuit = 704,

    VREvent_Input_HapticVibration = 1700,

    VREvent_VendorSpecific_Reserved_Start = 10000,
    VREvent_VendorSpecific_Reserved_End = 19999,
};

enum EDeviceActivityLevel {
    k_EDeviceActivityLevel_Unknown = -1,
    k_EDeviceActivityLevel_Idle = 0,
    k_EDeviceActivityLevel_UserInteraction = 1,
    k_EDeviceActivityLevel_UserInteraction_Timeout = 2,
    k_EDeviceActivityLevel_Standby = 3,
    k_EDeviceActivityLevel_Idle_Timeout = 4,
};

// Placeholder member that gives the event payload union its full size.
struct VREvent_Reserved_t {
    uint64_t reserved0;
    uint64_t reserved1;
    uint64_t reserved2;
    uint64_t reserved3;
    uint64_t reserved4;
    uint64_t reserved5;
};

// Payload of button events.
struct VREvent_Controller_t {
    uint32_t button;
};

// Payload of VREvent_PropertyChanged.
struct VREvent_Property_t {
    PropertyContainerHandle_t container;
    ETrackedDeviceProperty prop;
};

// Payload of the process events (VREvent_Quit, VREvent_ProcessQuit, VREvent_QuitAcknowledged).
struct VREvent_Process_t {
    uint32_t pid;
    uint32_t oldPid;
    bool bForced;
    bool bConnectionLost; // the event was raised because the connection was lost
};

// Payload of VREvent_Input_HapticVibration: a haptic request for one of our output components.
struct VREvent_HapticVibration_t {
    uint64_t containerHandle;
    uint64_t componentHandle;
    float fDurationSeconds;
    float fFrequency;
    float fAmplitude;
};

// Event payload. The runtime's union has many more members; all of them fit in the 48 bytes
// the reserved member occupies, so declaring only the members we read keeps the same size
// and alignment.
union VREvent_Data_t {
    VREvent_Reserved_t reserved;
    VREvent_Controller_t controller;
    VREvent_Property_t property;
    VREvent_Process_t process;
    VREvent_HapticVibration_t hapticVibration;
};

// VREvent_t was first shipped 4-byte packed on Linux and macOS and has stayed that way for
// compatibility: there it is 60 bytes with the payload at offset 12, on Windows 64 bytes with
// the payload at offset 16. Callers pass sizeof(VREvent_t), which therefore differs per platform.
#if defined(__linux__) || defined(__APPLE__)
#pragma pack(push, 4)
#endif

struct VREvent_t {
    uint32_t eventType; // EVREventType
    TrackedDeviceIndex_t trackedDeviceIndex;
    float eventAgeSeconds;
    VREvent_Data_t data;
};

#if defined(__linux__) || defined(__APPLE__)
#pragma pack(pop)
#endif

// ---- errors and application types ------------------------------------------------------------

enum EVRInitError {
    VRInitError_None = 0,
    VRInitError_Unknown = 1,

    VRInitError_Init_InstallationNotFound = 100,
    VRInitError_Init_InstallationCorrupt = 101,
    VRInitError_Init_VRClientDLLNotFound = 102,
    VRInitError_Init_FileNotFound = 103,
    VRInitError_Init_FactoryNotFound = 104,
    VRInitError_Init_InterfaceNotFound = 105,
    VRInitError_Init_InvalidInterface = 106,
    VRInitError_Init_UserConfigDirectoryInvalid = 107,
    VRInitError_Init_HmdNotFound = 108,
    VRInitError_Init_NotInitialized = 109,
    VRInitError_Init_PathRegistryNotFound = 110,
    VRInitError_Init_NoConfigPath = 111,
    VRInitError_Init_NoLogPath = 112,
    VRInitError_Init_PathRegistryNotWritable = 113,
    VRInitError_Init_AppInfoInitFailed = 114,
    VRInitError_Init_Retry = 115,
    VRInitError_Init_InitCanceledByUser = 116,
    VRInitError_Init_AnotherAppLaunching = 117,
    VRInitError_Init_SettingsInitFailed = 118,
    VRInitError_Init_ShuttingDown = 119,
    VRInitError_Init_TooManyObjects = 120,
    VRInitError_Init_NoServerForBackgroundApp = 121,
    VRInitError_Init_NotSupportedWithCompositor = 122,
    VRInitError_Init_NotAvailableToUtilityApps = 123,
    VRInitError_Init_Internal = 124,
    VRInitError_Init_HmdDriverIdIsNone = 125,
    VRInitError_Init_HmdNotFoundPresenceFailed = 126,
    VRInitError_Init_VRMonitorNotFound = 127,
    VRInitError_Init_VRMonitorStartupFailed = 128,
    VRInitError_Init_LowPowerWatchdogNotSupported = 129,
    VRInitError_Init_InvalidApplicationType = 130,
    VRInitError_Init_NotAvailableToWatchdogApps = 131,
    VRInitError_Init_WatchdogDisabledInSettings = 132,
    VRInitError_Init_VRDashboardNotFound = 133,
    VRInitError_Init_VRDashboardStartupFailed = 134,
    VRInitError_Init_VRHomeNotFound = 135,
    VRInitError_Init_VRHomeStartupFailed = 136,
    VRInitError_Init_RebootingBusy = 137,
    VRInitError_Init_FirmwareUpdateBusy = 138,
    VRInitError_Init_FirmwareRecoveryBusy = 139,
    VRInitError_Init_USBServiceBusy = 140,
    VRInitError_Init_VRWebHelperStartupFailed = 141,
    VRInitError_Init_TrackerManagerInitFailed = 142,
    VRInitError_Init_AlreadyRunning = 143,
    VRInitError_Init_FailedForVrMonitor = 144,
    VRInitError_Init_PropertyManagerInitFailed = 145,
    VRInitError_Init_WebServerFailed = 146,
    VRInitError_Init_IllegalTypeTransition = 147,
    VRInitError_Init_MismatchedRuntimes = 148,
    VRInitError_Init_InvalidProcessId = 149,
    VRInitError_Init_VRServiceStartupFailed = 150,
    VRInitError_Init_PrismNeedsNewDrivers = 151,
    VRInitError_Init_PrismStartupTimedOut = 152,
    VRInitError_Init_CouldNotStartPrism = 153,
    VRInitError_Init_CreateDriverDirectDeviceFailed = 154,
    VRInitError_Init_PrismExitedUnexpectedly = 155,

    VRInitError_Driver_Failed = 200,
    VRInitError_Driver_Unknown = 201,
    VRInitError_Driver_HmdUnknown = 202,
    VRInitError_Driver_NotLoaded = 203,
    VRInitError_Driver_RuntimeOutOfDate = 204,
    VRInitError_Driver_HmdInUse = 205,
    VRInitError_Driver_NotCalibrated = 206,
    VRInitError_Driver_CalibrationInvalid = 207,
    VRInitError_Driver_HmdDisplayNotFound = 208,
    VRInitError_Driver_TrackedDeviceInterfaceUnknown = 209,
    VRInitError_Driver_HmdDriverIdOutOfBounds = 211,
    VRInitError_Driver_HmdDisplayMirrored = 212,
    VRInitError_Driver_HmdDisplayNotFoundLaptop = 213,

    VRInitError_IPC_ServerInitFailed = 300,
    VRInitError_IPC_ConnectFailed = 301,
    VRInitError_IPC_SharedStateInitFailed = 302,
    VRInitError_IPC_CompositorInitFailed = 303,
    VRInitError_IPC_MutexInitFailed = 304,
    VRInitError_IPC_Failed = 305,
    VRInitError_IPC_CompositorConnectFailed = 306,
    VRInitError_IPC_CompositorInvalidConnectResponse = 307,
    VRInitError_IPC_ConnectFailedAfterMultipleAttempts = 308,
    VRInitError_IPC_ConnectFailedAfterTargetExited = 309,
    VRInitError_IPC_NamespaceUnavailable = 310,

    VRInitError_Compositor_Failed = 400,
    VRInitError_Compositor_D3D11HardwareRequired = 401,
    VRInitError_Compositor_FirmwareRequiresUpdate = 402,
    VRInitError_Compositor_OverlayInitFailed = 403,
    VRInitError_Compositor_ScreenshotsInitFailed = 404,
    VRInitError_Compositor_UnableToCreateDevice = 405,
    VRInitError_Compositor_SharedStateIsNull = 406,
    VRInitError_Compositor_NotificationManagerIsNull = 407,
    VRInitError_Compositor_ResourceManagerClientIsNull = 408,
    VRInitError_Compositor_MessageOverlaySharedStateInitFailure = 409,
    VRInitError_Compositor_PropertiesInterfaceIsNull = 410,
    VRInitError_Compositor_CreateFullscreenWindowFailed = 411,
    VRInitError_Compositor_SettingsInterfaceIsNull = 412,
    VRInitError_Compositor_FailedToShowWindow = 413,
    VRInitError_Compositor_DistortInterfaceIsNull = 414,
    VRInitError_Compositor_DisplayFrequencyFailure = 415,
    VRInitError_Compositor_RendererInitializationFailed = 416,
    VRInitError_Compositor_DXGIFactoryInterfaceIsNull = 417,
    VRInitError_Compositor_DXGIFactoryCreateFailed = 418,
    VRInitError_Compositor_DXGIFactoryQueryFailed = 419,
    VRInitError_Compositor_InvalidAdapterDesktop = 420,
    VRInitError_Compositor_InvalidHmdAttachment = 421,
    VRInitError_Compositor_InvalidOutputDesktop = 422,
    VRInitError_Compositor_InvalidDeviceProvided = 423,
    VRInitError_Compositor_D3D11RendererInitializationFailed = 424,
    VRInitError_Compositor_FailedToFindDisplayMode = 425,
    VRInitError_Compositor_FailedToCreateSwapChain = 426,
    VRInitError_Compositor_FailedToGetBackBuffer = 427,
    VRInitError_Compositor_FailedToCreateRenderTarget = 428,
    VRInitError_Compositor_FailedToCreateDXGI2SwapChain = 429,
    VRInitError_Compositor_FailedtoGetDXGI2BackBuffer = 430,
    VRInitError_Compositor_FailedToCreateDXGI2RenderTarget = 431,
    VRInitError_Compositor_FailedToGetDXGIDeviceInterface = 432,
    VRInitError_Compositor_SelectDisplayMode = 433,
    VRInitError_Compositor_FailedToCreateNvAPIRenderTargets = 434,
    VRInitError_Compositor_NvAPISetDisplayMode = 435,
    VRInitError_Compositor_FailedToCreateDirectModeDisplay = 436,
    VRInitError_Compositor_InvalidHmdPropertyContainer = 437,
    VRInitError_Compositor_UpdateDisplayFrequency = 438,
    VRInitError_Compositor_CreateRasterizerState = 439,
    VRInitError_Compositor_CreateWireframeRasterizerState = 440,
    VRInitError_Compositor_CreateSamplerState = 441,
    VRInitError_Compositor_CreateClampToBorderSamplerState = 442,
    VRInitError_Compositor_CreateAnisoSamplerState = 443,
    VRInitError_Compositor_CreateOverlaySamplerState = 444,
    VRInitError_Compositor_CreatePanoramaSamplerState = 445,
    VRInitError_Compositor_CreateFontSamplerState = 446,
    VRInitError_Compositor_CreateNoBlendState = 447,
    VRInitError_Compositor_CreateBlendState = 448,
    VRInitError_Compositor_CreateAlphaBlendState = 449,
    VRInitError_Compositor_CreateBlendStateMaskR = 450,
    VRInitError_Compositor_CreateBlendStateMaskG = 451,
    VRInitError_Compositor_CreateBlendStateMaskB = 452,
    VRInitError_Compositor_CreateDepthStencilState = 453,
    VRInitError_Compositor_CreateDepthStencilStateNoWrite = 454,
    VRInitError_Compositor_CreateDepthStencilStateNoDepth = 455,
    VRInitError_Compositor_CreateFlushTexture = 456,
    VRInitError_Compositor_CreateDistortionSurfaces = 457,
    VRInitError_Compositor_CreateConstantBuffer = 458,
    VRInitError_Compositor_CreateHmdPoseConstantBuffer = 459,
    VRInitError_Compositor_CreateHmdPoseStagingConstantBuffer = 460,
    VRInitError_Compositor_CreateSharedFrameInfoConstantBuffer = 461,
    VRInitError_Compositor_CreateOverlayConstantBuffer = 462,
    VRInitError_Compositor_CreateSceneTextureIndexConstantBuffer = 463,
    VRInitError_Compositor_CreateReadableSceneTextureIndexConstantBuffer = 464,
    VRInitError_Compositor_CreateLayerGraphicsTextureIndexConstantBuffer = 465,
    VRInitError_Compositor_CreateLayerComputeTextureIndexConstantBuffer = 466,
    VRInitError_Compositor_CreateLayerComputeSceneTextureIndexConstantBuffer = 467,
    VRInitError_Compositor_CreateComputeHmdPoseConstantBuffer = 468,
    VRInitError_Compositor_CreateGeomConstantBuffer = 469,
    VRInitError_Compositor_CreatePanelMaskConstantBuffer = 470,
    VRInitError_Compositor_CreatePixelSimUBO = 471,
    VRInitError_Compositor_CreateMSAARenderTextures = 472,
    VRInitError_Compositor_CreateResolveRenderTextures = 473,
    VRInitError_Compositor_CreateComputeResolveRenderTextures = 474,
    VRInitError_Compositor_CreateDriverDirectModeResolveTextures = 475,
    VRInitError_Compositor_OpenDriverDirectModeResolveTextures = 476,
    VRInitError_Compositor_CreateFallbackSyncTexture = 477,
    VRInitError_Compositor_ShareFallbackSyncTexture = 478,
    VRInitError_Compositor_CreateOverlayIndexBuffer = 479,
    VRInitError_Compositor_CreateOverlayVertexBuffer = 480,
    VRInitError_Compositor_CreateTextVertexBuffer = 481,
    VRInitError_Compositor_CreateTextIndexBuffer = 482,
    VRInitError_Compositor_CreateMirrorTextures = 483,
    VRInitError_Compositor_CreateLastFrameRenderTexture = 484,
    VRInitError_Compositor_CreateMirrorOverlay = 485,
    VRInitError_Compositor_FailedToCreateVirtualDisplayBackbuffer = 486,
    VRInitError_Compositor_DisplayModeNotSupported = 487,
    VRInitError_Compositor_CreateOverlayInvalidCall = 488,
    VRInitError_Compositor_CreateOverlayAlreadyInitialized = 489,
    VRInitError_Compositor_FailedToCreateMailbox = 490,
    VRInitError_Compositor_WindowInterfaceIsNull = 491,
    VRInitError_Compositor_SystemLayerCreateInstance = 492,
    VRInitError_Compositor_SystemLayerCreateSession = 493,

    VRInitError_VendorSpecific_UnableToConnectToOculusRuntime = 1000,
    VRInitError_VendorSpecific_WindowsNotInDevMode = 1001,

    VRInitError_VendorSpecific_HmdFound_CantOpenDevice = 1101,
    VRInitError_VendorSpecific_HmdFound_UnableToRequestConfigStart = 1102,
    VRInitError_VendorSpecific_HmdFound_NoStoredConfig = 1103,
    VRInitError_VendorSpecific_HmdFound_ConfigTooBig = 1104,
    VRInitError_VendorSpecific_HmdFound_ConfigTooSmall = 1105,
    VRInitError_VendorSpecific_HmdFound_UnableToInitZLib = 1106,
    VRInitError_VendorSpecific_HmdFound_CantReadFirmwareVersion = 1107,
    VRInitError_VendorSpecific_HmdFound_UnableToSendUserDataStart = 1108,
    VRInitError_VendorSpecific_HmdFound_UnableToGetUserDataStart = 1109,
    VRInitError_VendorSpecific_HmdFound_UnableToGetUserDataNext = 1110,
    VRInitError_VendorSpecific_HmdFound_UserDataAddressRange = 1111,
    VRInitError_VendorSpecific_HmdFound_UserDataError = 1112,
    VRInitError_VendorSpecific_HmdFound_ConfigFailedSanityCheck = 1113,
    VRInitError_VendorSpecific_OculusRuntimeBadInstall = 1114,

    VRInitError_Steam_SteamInstallationNotFound = 2000,
    VRInitError_LastError = 2001,
};

enum EVRApplicationType {
    VRApplication_Other = 0,
    VRApplication_Scene = 1,
    VRApplication_Overlay = 2,
    VRApplication_Background = 3, // does not start the runtime if it is not already running
    VRApplication_Utility = 4,
    VRApplication_VRMonitor = 5,
    VRApplication_SteamWatchdog = 6,
    VRApplication_Bootstrapper = 7,
    VRApplication_WebHelper = 8,
    VRApplication_OpenXRInstance = 9,
    VRApplication_OpenXRScene = 10,
    VRApplication_OpenXROverlay = 11,
    VRApplication_Prism = 12,

    VRApplication_Max
};

enum EVRSettingsError {
    VRSettingsError_None = 0,
    VRSettingsError_IPCFailed = 1,
    VRSettingsError_WriteFailed = 2,
    VRSettingsError_ReadFailed = 3,
    VRSettingsError_JsonParseFailed = 4,
    VRSettingsError_UnsetSettingHasNoDefault = 5,
};

enum EVRInputError {
    VRInputError_None = 0,
    VRInputError_NameNotFound = 1,
    VRInputError_WrongType = 2,
    VRInputError_InvalidHandle = 3,
    VRInputError_InvalidParam = 4,
    VRInputError_NoSteam = 5,
    VRInputError_MaxCapacityReached = 6,
    VRInputError_IPCError = 7,
    VRInputError_NoActiveActionSet = 8,
    VRInputError_InvalidDevice = 9,
    VRInputError_InvalidSkeleton = 10,
    VRInputError_InvalidBoneCount = 11,
    VRInputError_InvalidCompressedData = 12,
    VRInputError_NoData = 13,
    VRInputError_BufferTooSmall = 14,
    VRInputError_MismatchedActionManifest = 15,
    VRInputError_MissingSkeletonData = 16,
    VRInputError_InvalidBoneIndex = 17,
    VRInputError_InvalidPriority = 18,
    VRInputError_PermissionDenied = 19,
    VRInputError_InvalidRenderModel = 20,
};

enum EVRSkeletalTrackingLevel {
    VRSkeletalTracking_Estimated = 0,
    VRSkeletalTracking_Partial = 1,
    VRSkeletalTracking_Full = 2,

    VRSkeletalTrackingLevel_Count,
    VRSkeletalTrackingLevel_Max = VRSkeletalTracking_Full
};

enum EVRSkeletalMotionRange {
    VRSkeletalMotionRange_WithController = 0,
    VRSkeletalMotionRange_WithoutController = 1,
};

// Only ever handled through pointers here.
struct Compositor_FrameTiming;

#pragma pack(pop)

// ---- layout checks ---------------------------------------------------------------------------
// These structs cross the boundary to the runtime by pointer or by value; a wrong size or offset
// corrupts data silently, so pin them at compile time.

static_assert(sizeof(HmdMatrix34_t) == 48, "HmdMatrix34_t layout");
static_assert(sizeof(HmdMatrix44_t) == 64, "HmdMatrix44_t layout");
static_assert(sizeof(HmdVector3_t) == 12 && alignof(HmdVector3_t) == 4, "HmdVector3_t layout");
static_assert(sizeof(HmdVector4_t) == 16, "HmdVector4_t layout");
static_assert(sizeof(HmdVector3d_t) == 24 && alignof(HmdVector3d_t) == 8, "HmdVector3d_t layout");
static_assert(sizeof(HmdVector2_t) == 8, "HmdVector2_t layout");
static_assert(sizeof(HmdQuaternion_t) == 32 && alignof(HmdQuaternion_t) == 8, "HmdQuaternion_t layout");
static_assert(offsetof(HmdQuaternion_t, w) == 0 && offsetof(HmdQuaternion_t, z) == 24, "HmdQuaternion_t order");
static_assert(sizeof(HmdQuaternionf_t) == 16 && offsetof(HmdQuaternionf_t, w) == 0, "HmdQuaternionf_t layout");
static_assert(sizeof(HmdRect2_t) == 16, "HmdRect2_t layout");
static_assert(sizeof(VRBoneTransform_t) == 32 && offsetof(VRBoneTransform_t, orientation) == 16,
              "VRBoneTransform_t layout");

static_assert(sizeof(ETrackingResult) == 4 && sizeof(ETrackedDeviceProperty) == 4 && sizeof(EVRInitError) == 4,
              "enums are passed and stored as 32-bit ints");

static_assert(sizeof(TrackedDevicePose_t) == 80 && alignof(TrackedDevicePose_t) == 4, "TrackedDevicePose_t size");
static_assert(offsetof(TrackedDevicePose_t, mDeviceToAbsoluteTracking) == 0, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, vVelocity) == 48, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, vAngularVelocity) == 60, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, eTrackingResult) == 72, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, bPoseIsValid) == 76, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, bDeviceIsConnected) == 77, "TrackedDevicePose_t layout");

static_assert(sizeof(VREvent_Data_t) == 48 && alignof(VREvent_Data_t) == 8, "VREvent_Data_t size");
static_assert(sizeof(VREvent_HapticVibration_t) == 32, "VREvent_HapticVibration_t size");
static_assert(offsetof(VREvent_HapticVibration_t, componentHandle) == 8, "VREvent_HapticVibration_t layout");
static_assert(offsetof(VREvent_HapticVibration_t, fDurationSeconds) == 16, "VREvent_HapticVibration_t layout");
static_assert(offsetof(VREvent_HapticVibration_t, fAmplitude) == 24, "VREvent_HapticVibration_t layout");
static_assert(offsetof(VREvent_t, eventAgeSeconds) == 8, "VREvent_t layout");
#if defined(__linux__) || defined(__APPLE__)
static_assert(sizeof(VREvent_t) == 60 && offsetof(VREvent_t, data) == 12, "VREvent_t is 4-byte packed here");
#else
static_assert(sizeof(VREvent_t) == 64 && offsetof(VREvent_t, data) == 16, "VREvent_t is naturally aligned here");
#endif

} // namespace vr

// ---------------------------------------------------------------------------------------------
// End of the shared block.
// ---------------------------------------------------------------------------------------------

// Global-scope Vulkan handle type (matches Vulkan's own VkInstance typedef).
struct VkInstance_T;

namespace vr {

#pragma pack(push, 8)

// ---- client-only types -----------------------------------------------------------------------

struct DistortionCoordinates_t {
    float rfRed[2];
    float rfGreen[2];
    float rfBlue[2];
};

enum ETextureType {
    TextureType_Invalid = -1,
    TextureType_DirectX = 0,
    TextureType_OpenGL = 1,
    TextureType_Vulkan = 2,
    TextureType_IOSurface = 3,
    TextureType_DirectX12 = 4,
    TextureType_DXGISharedHandle = 5,
    TextureType_Metal = 6,
};

enum EHiddenAreaMeshType {
    k_eHiddenAreaMesh_Standard = 0,
    k_eHiddenAreaMesh_Inverse = 1,
    k_eHiddenAreaMesh_LineLoop = 2,

    k_eHiddenAreaMesh_Max = 3,
};

// Triangle list (or line loop) in normalised eye-texture coordinates; the runtime owns the data.
struct HiddenAreaMesh_t {
    const HmdVector2_t *pVertexData;
    uint32_t unTriangleCount;
};

enum EVRButtonId {
    k_EButton_System = 0,
    k_EButton_ApplicationMenu = 1,
    k_EButton_Grip = 2,
    k_EButton_DPad_Left = 3,
    k_EButton_DPad_Up = 4,
    k_EButton_DPad_Right = 5,
    k_EButton_DPad_Down = 6,
    k_EButton_A = 7,

    k_EButton_ProximitySensor = 31,

    k_EButton_Axis0 = 32,
    k_EButton_Axis1 = 33,
    k_EButton_Axis2 = 34,
    k_EButton_Axis3 = 35,
    k_EButton_Axis4 = 36,

    k_EButton_SteamVR_Touchpad = k_EButton_Axis0,
    k_EButton_SteamVR_Trigger = k_EButton_Axis1,

    k_EButton_Dashboard_Back = k_EButton_Grip,

    k_EButton_IndexController_A = k_EButton_Grip,
    k_EButton_IndexController_B = k_EButton_ApplicationMenu,
    k_EButton_IndexController_JoyStick = k_EButton_Axis3,

    k_EButton_Max = 64
};

inline uint64_t ButtonMaskFromId(EVRButtonId id)
{
    return 1ull << id;
}

enum EVRControllerAxisType {
    k_eControllerAxis_None = 0,
    k_eControllerAxis_TrackPad = 1,
    k_eControllerAxis_Joystick = 2,
    k_eControllerAxis_Trigger = 3,
};

struct VRControllerAxis_t {
    float x; // -1..1 (0..1 for triggers)
    float y;
};

static const uint32_t k_unControllerStateAxisCount = 5;

// Like VREvent_t, the legacy controller state is 4-byte packed on Linux and macOS.
#if defined(__linux__) || defined(__APPLE__)
#pragma pack(push, 4)
#endif

struct VRControllerState001_t {
    uint32_t unPacketNum; // changes whenever the state changes
    uint64_t ulButtonPressed;
    uint64_t ulButtonTouched;
    VRControllerAxis_t rAxis[k_unControllerStateAxisCount];
};

#if defined(__linux__) || defined(__APPLE__)
#pragma pack(pop)
#endif

typedef VRControllerState001_t VRControllerState_t;

enum EVRFirmwareError {
    VRFirmwareError_None = 0,
    VRFirmwareError_Success = 1,
    VRFirmwareError_Fail = 2,
};

#pragma pack(pop)

#if defined(__linux__) || defined(__APPLE__)
static_assert(sizeof(VRControllerState_t) == 60 && offsetof(VRControllerState_t, ulButtonPressed) == 4 &&
                  offsetof(VRControllerState_t, ulButtonTouched) == 12 && offsetof(VRControllerState_t, rAxis) == 20,
              "VRControllerState_t is 4-byte packed here");
#else
static_assert(sizeof(VRControllerState_t) == 64 && offsetof(VRControllerState_t, ulButtonPressed) == 8 &&
                  offsetof(VRControllerState_t, ulButtonTouched) == 16 && offsetof(VRControllerState_t, rAxis) == 24,
              "VRControllerState_t is naturally aligned here");
#endif
static_assert(sizeof(DistortionCoordinates_t) == 24, "DistortionCoordinates_t layout");
static_assert(sizeof(HiddenAreaMesh_t) == 16 && offsetof(HiddenAreaMesh_t, unTriangleCount) == 8,
              "HiddenAreaMesh_t layout");

// ---- IVRSystem ---------------------------------------------------------------------------------

// The interfaces deliberately have no virtual destructor (one would take a vtable slot and shift
// every method); keep -Wnon-virtual-dtor quiet about that here.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Display, tracking and device queries of the running runtime. Default arguments are a source
// convenience only; the slot order is what the runtime relies on.
class IVRSystem {
public:
    // Display
    virtual void GetRecommendedRenderTargetSize(uint32_t *pnWidth, uint32_t *pnHeight) = 0;
#if VR_EXPLICIT_STRUCT_RETURN
    virtual HmdMatrix44_t *GetProjectionMatrix(HmdMatrix44_t *pResult, EVREye eEye, float fNearZ, float fFarZ) = 0;
    HmdMatrix44_t GetProjectionMatrix(EVREye eEye, float fNearZ, float fFarZ)
    {
        HmdMatrix44_t result;
        return *GetProjectionMatrix(&result, eEye, fNearZ, fFarZ);
    }
#else
    virtual HmdMatrix44_t GetProjectionMatrix(EVREye eEye, float fNearZ, float fFarZ) = 0;
#endif
    virtual void GetProjectionRaw(EVREye eEye, float *pfLeft, float *pfRight, float *pfTop, float *pfBottom) = 0;
    virtual bool ComputeDistortion(EVREye eEye, float fU, float fV,
                                   DistortionCoordinates_t *pDistortionCoordinates) = 0;
#if VR_EXPLICIT_STRUCT_RETURN
    virtual HmdMatrix34_t *GetEyeToHeadTransform(HmdMatrix34_t *pResult, EVREye eEye) = 0;
    HmdMatrix34_t GetEyeToHeadTransform(EVREye eEye)
    {
        HmdMatrix34_t result;
        return *GetEyeToHeadTransform(&result, eEye);
    }
#else
    virtual HmdMatrix34_t GetEyeToHeadTransform(EVREye eEye) = 0;
#endif
    virtual bool GetTimeSinceLastVsync(float *pfSecondsSinceLastVsync, uint64_t *pulFrameCounter) = 0;
    virtual int32_t GetD3D9AdapterIndex() = 0;
    virtual void GetDXGIOutputInfo(int32_t *pnAdapterIndex) = 0;
    virtual void GetOutputDevice(uint64_t *pnDevice, ETextureType textureType, VkInstance_T *pInstance = nullptr) = 0;
    virtual bool IsDisplayOnDesktop() = 0;
    virtual bool SetDisplayVisibility(bool bIsVisibleOnDesktop) = 0;

    // Tracking
    virtual void GetDeviceToAbsoluteTrackingPose(ETrackingUniverseOrigin eOrigin,
                                                 float fPredictedSecondsToPhotonsFromNow,
                                                 TrackedDevicePose_t *pTrackedDevicePoseArray,
                                                 uint32_t unTrackedDevicePoseArrayCount) = 0;
#if VR_EXPLICIT_STRUCT_RETURN
    virtual HmdMatrix34_t *GetSeatedZeroPoseToStandingAbsoluteTrackingPose(HmdMatrix34_t *pResult) = 0;
    virtual HmdMatrix34_t *GetRawZeroPoseToStandingAbsoluteTrackingPose(HmdMatrix34_t *pResult) = 0;
    HmdMatrix34_t GetSeatedZeroPoseToStandingAbsoluteTrackingPose()
    {
        HmdMatrix34_t result;
        return *GetSeatedZeroPoseToStandingAbsoluteTrackingPose(&result);
    }
    HmdMatrix34_t GetRawZeroPoseToStandingAbsoluteTrackingPose()
    {
        HmdMatrix34_t result;
        return *GetRawZeroPoseToStandingAbsoluteTrackingPose(&result);
    }
#else
    virtual HmdMatrix34_t GetSeatedZeroPoseToStandingAbsoluteTrackingPose() = 0;
    virtual HmdMatrix34_t GetRawZeroPoseToStandingAbsoluteTrackingPose() = 0;
#endif
    virtual uint32_t GetSortedTrackedDeviceIndicesOfClass(
        ETrackedDeviceClass eTrackedDeviceClass, vr::TrackedDeviceIndex_t *punTrackedDeviceIndexArray,
        uint32_t unTrackedDeviceIndexArrayCount,
        vr::TrackedDeviceIndex_t unRelativeToTrackedDeviceIndex = k_unTrackedDeviceIndex_Hmd) = 0;
    virtual EDeviceActivityLevel GetTrackedDeviceActivityLevel(vr::TrackedDeviceIndex_t unDeviceId) = 0;
    virtual void ApplyTransform(TrackedDevicePose_t *pOutputPose, const TrackedDevicePose_t *pTrackedDevicePose,
                                const HmdMatrix34_t *pTransform) = 0;
    virtual vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole unDeviceType) = 0;
    virtual vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;

    // Properties
    virtual ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual bool GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                              ETrackedPropertyError *pError = nullptr) = 0;
    virtual float GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                ETrackedPropertyError *pError = nullptr) = 0;
    virtual int32_t GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                  ETrackedPropertyError *pError = nullptr) = 0;
    virtual uint64_t GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex,
                                                    ETrackedDeviceProperty prop, ETrackedPropertyError *pError = nullptr) = 0;
#if VR_EXPLICIT_STRUCT_RETURN
    virtual HmdMatrix34_t *GetMatrix34TrackedDeviceProperty(HmdMatrix34_t *pResult,
                                                            vr::TrackedDeviceIndex_t unDeviceIndex,
                                                            ETrackedDeviceProperty prop,
                                                            ETrackedPropertyError *pError) = 0;
    HmdMatrix34_t GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                   ETrackedPropertyError *pError = nullptr)
    {
        HmdMatrix34_t result;
        return *GetMatrix34TrackedDeviceProperty(&result, unDeviceIndex, prop, pError);
    }
#else
    virtual HmdMatrix34_t GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex,
                                                           ETrackedDeviceProperty prop,
                                                           ETrackedPropertyError *pError = nullptr) = 0;
#endif
    virtual uint32_t GetArrayTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                   PropertyTypeTag_t propType, void *pBuffer, uint32_t unBufferSize,
                                                   ETrackedPropertyError *pError = nullptr) = 0;
    virtual uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex,
                                                    ETrackedDeviceProperty prop, char *pchValue,
                                                    uint32_t unBufferSize, ETrackedPropertyError *pError = nullptr) = 0;
    virtual const char *GetPropErrorNameFromEnum(ETrackedPropertyError error) = 0;

    // Events
    virtual bool PollNextEvent(VREvent_t *pEvent, uint32_t uncbVREvent) = 0;
    virtual bool PollNextEventWithPose(ETrackingUniverseOrigin eOrigin, VREvent_t *pEvent, uint32_t uncbVREvent,
                                       vr::TrackedDevicePose_t *pTrackedDevicePose) = 0;
    virtual const char *GetEventTypeNameFromEnum(EVREventType eType) = 0;

    // Rendering helpers
#if VR_EXPLICIT_STRUCT_RETURN
    virtual HiddenAreaMesh_t *GetHiddenAreaMesh(HiddenAreaMesh_t *pResult, EVREye eEye, EHiddenAreaMeshType type) = 0;
    HiddenAreaMesh_t GetHiddenAreaMesh(EVREye eEye, EHiddenAreaMeshType type = k_eHiddenAreaMesh_Standard)
    {
        HiddenAreaMesh_t result;
        return *GetHiddenAreaMesh(&result, eEye, type);
    }
#else
    virtual HiddenAreaMesh_t GetHiddenAreaMesh(EVREye eEye, EHiddenAreaMeshType type = k_eHiddenAreaMesh_Standard) = 0;
#endif

    // Legacy controller input
    virtual bool GetControllerState(vr::TrackedDeviceIndex_t unControllerDeviceIndex,
                                    vr::VRControllerState_t *pControllerState, uint32_t unControllerStateSize) = 0;
    virtual bool GetControllerStateWithPose(ETrackingUniverseOrigin eOrigin,
                                            vr::TrackedDeviceIndex_t unControllerDeviceIndex,
                                            vr::VRControllerState_t *pControllerState, uint32_t unControllerStateSize,
                                            TrackedDevicePose_t *pTrackedDevicePose) = 0;
    virtual void TriggerHapticPulse(vr::TrackedDeviceIndex_t unControllerDeviceIndex, uint32_t unAxisId,
                                    unsigned short usDurationMicroSec) = 0;
    virtual const char *GetButtonIdNameFromEnum(EVRButtonId eButtonId) = 0;
    virtual const char *GetControllerAxisTypeNameFromEnum(EVRControllerAxisType eAxisType) = 0;
    virtual bool IsInputAvailable() = 0;
    virtual bool IsSteamVRDrawingControllers() = 0;
    virtual bool ShouldApplicationPause() = 0;
    virtual bool ShouldApplicationReduceRenderingWork() = 0;

    // Firmware
    virtual vr::EVRFirmwareError PerformFirmwareUpdate(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;

    // Application life cycle
    virtual void AcknowledgeQuit_Exiting() = 0;
    virtual uint32_t GetAppContainerFilePaths(char *pchBuffer, uint32_t unBufferSize) = 0;
    virtual const char *GetRuntimeVersion() = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

static const char *IVRSystem_Version = "IVRSystem_022";

} // namespace vr

// ---- openvr_api exports ------------------------------------------------------------------------

// Import the openvr_api functions by default. The library's own sources define VR_API_EXPORT
// to export them instead; OPENVR_BUILD_STATIC is for linking it statically. An includer may also
// define VR_INTERFACE itself.
#ifndef VR_INTERFACE
#if defined(OPENVR_BUILD_STATIC)
#define VR_INTERFACE extern "C"
#elif defined(_WIN32)
#if defined(VR_API_EXPORT)
#define VR_INTERFACE extern "C" __declspec(dllexport)
#else
#define VR_INTERFACE extern "C" __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#if defined(VR_API_EXPORT)
#define VR_INTERFACE extern "C" __attribute__((visibility("default")))
#else
#define VR_INTERFACE extern "C"
#endif
#else
#error "Unsupported platform"
#endif
#endif

namespace vr {

// Loads the runtime's client library and initialises it; returns a new init token (0 on error).
VR_INTERFACE uint32_t VR_CALLTYPE VR_InitInternal2(EVRInitError *peError, EVRApplicationType eApplicationType,
                                                   const char *pStartupInfo);

// Shuts the client down and invalidates every interface pointer obtained so far.
VR_INTERFACE void VR_CALLTYPE VR_ShutdownInternal();

VR_INTERFACE bool VR_CALLTYPE VR_IsHmdPresent();

VR_INTERFACE bool VR_CALLTYPE VR_IsRuntimeInstalled();

VR_INTERFACE bool VR_GetRuntimePath(char *pchPathBuffer, uint32_t unBufferSize, uint32_t *punRequiredBufferSize);

// "VRInitError_<Name>" for an error code.
VR_INTERFACE const char *VR_CALLTYPE VR_GetVRInitErrorAsSymbol(EVRInitError error);

// Human-readable text for an error code.
VR_INTERFACE const char *VR_CALLTYPE VR_GetVRInitErrorAsEnglishDescription(EVRInitError error);

VR_INTERFACE void *VR_CALLTYPE VR_GetGenericInterface(const char *pchInterfaceVersion, EVRInitError *peError);

VR_INTERFACE bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char *pchInterfaceVersion);

// Changes on every successful init and on every shutdown.
VR_INTERFACE uint32_t VR_CALLTYPE VR_GetInitToken();

// ---- IVRSettings -------------------------------------------------------------------------------

static const char *IVRSettings_Version = "IVRSettings_003";

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// The runtime's settings store (steamvr.vrsettings over the drivers' default.vrsettings), as a
// client sees it. No slot returns a structure and none is overloaded, so the order is the same
// in every ABI.
class IVRSettings {
public:
    virtual const char *GetSettingsErrorNameFromEnum(EVRSettingsError eError) = 0;

    virtual void SetBool(const char *pchSection, const char *pchSettingsKey, bool bValue,
                         EVRSettingsError *peError = nullptr) = 0;
    virtual void SetInt32(const char *pchSection, const char *pchSettingsKey, int32_t nValue,
                          EVRSettingsError *peError = nullptr) = 0;
    virtual void SetFloat(const char *pchSection, const char *pchSettingsKey, float flValue,
                          EVRSettingsError *peError = nullptr) = 0;
    virtual void SetString(const char *pchSection, const char *pchSettingsKey, const char *pchValue,
                           EVRSettingsError *peError = nullptr) = 0;

    virtual bool GetBool(const char *pchSection, const char *pchSettingsKey, EVRSettingsError *peError = nullptr) = 0;
    virtual int32_t GetInt32(const char *pchSection, const char *pchSettingsKey,
                             EVRSettingsError *peError = nullptr) = 0;
    virtual float GetFloat(const char *pchSection, const char *pchSettingsKey, EVRSettingsError *peError = nullptr) = 0;
    virtual void GetString(const char *pchSection, const char *pchSettingsKey, char *pchValue, uint32_t unValueLen,
                           EVRSettingsError *peError = nullptr) = 0;

    virtual void RemoveSection(const char *pchSection, EVRSettingsError *peError = nullptr) = 0;
    virtual void RemoveKeyInSection(const char *pchSection, const char *pchSettingsKey,
                                    EVRSettingsError *peError = nullptr) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// ---- inline client code ------------------------------------------------------------------------

// Token of the init this module's cached pointers belong to.
inline uint32_t &VRToken()
{
    static uint32_t token;
    return token;
}

// Other client interfaces; this project never calls them, the context only reserves their slots.
class IVRChaperone;
class IVRChaperoneSetup;
class IVRCompositor;
class IVRHeadsetView;
class IVROverlay;
class IVROverlayView;
class IVRResources;
class IVRRenderModels;
class IVRExtendedDisplay;
class IVRApplications;
class IVRTrackedCamera;
class IVRScreenshots;
class IVRDriverManager;
class IVRInput;
class IVRIOBuffer;
class IVRSpatialAnchors;
class IVRDebug;
class IVRNotifications;

// Caches interface pointers of this module. The cache is dropped whenever the library's init
// token differs from the one it was filled under, i.e. after a shutdown or a new init.
class COpenVRContext {
public:
    COpenVRContext() { Clear(); }

    void Clear()
    {
        m_pVRSystem = nullptr;
        m_pVRChaperone = nullptr;
        m_pVRChaperoneSetup = nullptr;
        m_pVRCompositor = nullptr;
        m_pVRHeadsetView = nullptr;
        m_pVROverlay = nullptr;
        m_pVROverlayView = nullptr;
        m_pVRResources = nullptr;
        m_pVRRenderModels = nullptr;
        m_pVRExtendedDisplay = nullptr;
        m_pVRSettings = nullptr;
        m_pVRApplications = nullptr;
        m_pVRTrackedCamera = nullptr;
        m_pVRScreenshots = nullptr;
        m_pVRDriverManager = nullptr;
        m_pVRInput = nullptr;
        m_pVRIOBuffer = nullptr;
        m_pVRSpatialAnchors = nullptr;
        m_pVRDebug = nullptr;
        m_pVRNotifications = nullptr;
    }

    void CheckClear()
    {
        if (VRToken() != VR_GetInitToken()) {
            Clear();
            VRToken() = VR_GetInitToken();
        }
    }

    IVRSystem *VRSystem()
    {
        CheckClear();
        if (m_pVRSystem == nullptr) {
            EVRInitError eError;
            m_pVRSystem = static_cast<IVRSystem *>(VR_GetGenericInterface(IVRSystem_Version, &eError));
        }
        return m_pVRSystem;
    }

    IVRSettings *VRSettings()
    {
        CheckClear();
        if (m_pVRSettings == nullptr) {
            EVRInitError eError;
            m_pVRSettings = static_cast<IVRSettings *>(VR_GetGenericInterface(IVRSettings_Version, &eError));
        }
        return m_pVRSettings;
    }

private:
    IVRSystem *m_pVRSystem;
    IVRChaperone *m_pVRChaperone;
    IVRChaperoneSetup *m_pVRChaperoneSetup;
    IVRCompositor *m_pVRCompositor;
    IVRHeadsetView *m_pVRHeadsetView;
    IVROverlay *m_pVROverlay;
    IVROverlayView *m_pVROverlayView;
    IVRResources *m_pVRResources;
    IVRRenderModels *m_pVRRenderModels;
    IVRExtendedDisplay *m_pVRExtendedDisplay;
    IVRSettings *m_pVRSettings;
    IVRApplications *m_pVRApplications;
    IVRTrackedCamera *m_pVRTrackedCamera;
    IVRScreenshots *m_pVRScreenshots;
    IVRDriverManager *m_pVRDriverManager;
    IVRInput *m_pVRInput;
    IVRIOBuffer *m_pVRIOBuffer;
    IVRSpatialAnchors *m_pVRSpatialAnchors;
    IVRDebug *m_pVRDebug;
    IVRNotifications *m_pVRNotifications;
};

// The module's context: zero-filled static storage used as the class without running its
// constructor; all-zero is the cleared state.
inline COpenVRContext &OpenVRInternal_ModuleContext()
{
    static void *ctx[sizeof(COpenVRContext) / sizeof(void *)];
    return *reinterpret_cast<COpenVRContext *>(ctx);
}

inline IVRSystem *VR_CALLTYPE VRSystem()
{
    return OpenVRInternal_ModuleContext().VRSystem();
}

inline IVRSettings *VR_CALLTYPE VRSettings()
{
    return OpenVRInternal_ModuleContext().VRSettings();
}

// Starts the client. Returns IVRSystem, or nullptr with *peError set. A runtime that does not
// offer our IVRSystem version is shut down again and reported as VRInitError_Init_InterfaceNotFound.
inline IVRSystem *VR_Init(EVRInitError *peError, EVRApplicationType eApplicationType,
                          const char *pStartupInfo = nullptr)
{
    IVRSystem *pVRSystem = nullptr;

    EVRInitError eError;
    VRToken() = VR_InitInternal2(&eError, eApplicationType, pStartupInfo);
    COpenVRContext &ctx = OpenVRInternal_ModuleContext();
    ctx.Clear();

    if (eError == VRInitError_None) {
        if (VR_IsInterfaceVersionValid(IVRSystem_Version)) {
            pVRSystem = VRSystem();
        } else {
            VR_ShutdownInternal();
            eError = VRInitError_Init_InterfaceNotFound;
        }
    }

    if (peError)
        *peError = eError;
    return pVRSystem;
}

// Stops the client. Cached pointers are dropped lazily, by the token check on the next access.
inline void VR_Shutdown()
{
    VR_ShutdownInternal();
}

} // namespace vr

#endif // OPENVR_CLIENT_DECLS_H_
