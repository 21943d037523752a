#pragma once
// Declarations of the OpenVR driver interfaces (SDK 1.16.8 interface set) that this driver uses:
// the interfaces the driver implements, the runtime services it calls, and the inline
// context code that fetches and caches those services. The driver is built against either
// this header or the one shipped with the OpenVR SDK, so every name, method order, parameter
// type and struct layout here has to match that one exactly: the runtime calls into the driver,
// and the driver into the runtime, purely through vtable slots and raw struct memory.
//
// Rules that keep the binary interface intact:
// - interface classes have no data, no base class and no virtual destructor, so vtable slot N
//   is the N-th declared method on both MSVC x64 and the Itanium ABI; never insert, reorder or
//   overload a method;
// - parameter types are exact (a float declared as double, or a 64-bit handle declared as
//   32 bits, reads garbage on the other side);
// - nothing in here is exported or imported: a driver needs no import library.

#ifndef OPENVR_DRIVER_DECLS_H_
#define OPENVR_DRIVER_DECLS_H_

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

// strlen for the property helpers. A freestanding translation unit has no C library headers
// (the tests compile the runtime's side of these interfaces that way, for the MSVC ABI); it gets
// the compiler's builtin instead.
#if __STDC_HOSTED__
#include <string.h>
#define VR_INTERNAL_STRLEN strlen
#else
#define VR_INTERNAL_STRLEN __builtin_strlen
#endif

namespace vr {

// ---- driver-only types -----------------------------------------------------------------------

typedef uint64_t VRInputComponentHandle_t;
static const VRInputComponentHandle_t k_ulInvalidInputComponentHandle = 0;

enum EVRScalarType {
    VRScalarType_Absolute = 0,
    VRScalarType_Relative = 1,
};

enum EVRScalarUnits {
    VRScalarUnits_NormalizedOneSided = 0, // 0..1, e.g. triggers
    VRScalarUnits_NormalizedTwoSided = 1, // -1..1, e.g. joystick axes
};

// Unused by the runtime interfaces; kept because code written against the SDK may name it.
struct DriverPoseQuaternion_t {
    double w, x, y, z;
};

// Pose of a device as the driver reports it. The runtime combines the world-from-driver and
// driver-from-head transforms with the pose proper; all three quaternions must be valid
// rotations (w = 1 for identity: an all-zero quaternion is not a rotation).
struct DriverPose_t {
    double poseTimeOffset; // seconds relative to now at which the pose was valid

    HmdQuaternion_t qWorldFromDriverRotation;
    double vecWorldFromDriverTranslation[3];

    HmdQuaternion_t qDriverFromHeadRotation;
    double vecDriverFromHeadTranslation[3];

    double vecPosition[3];        // metres, driver space
    double vecVelocity[3];        // metres per second
    double vecAcceleration[3];    // metres per second squared
    HmdQuaternion_t qRotation;    // orientation, driver space
    double vecAngularVelocity[3]; // radians per second
    double vecAngularAcceleration[3];

    ETrackingResult result;

    bool poseIsValid;
    bool willDriftInYaw;
    bool shouldApplyHeadModel;
    bool deviceIsConnected;
};

enum EPropertyWriteType {
    PropertyWrite_Set = 0,
    PropertyWrite_Erase = 1,
    PropertyWrite_SetError = 2,
};

// One entry of a property write batch. The runtime reports the per-entry result in eError.
struct PropertyWrite_t {
    ETrackedDeviceProperty prop;
    EPropertyWriteType writeType;
    ETrackedPropertyError eSetError; // error to store, for PropertyWrite_SetError
    void *pvBuffer;
    uint32_t unBufferSize;
    PropertyTypeTag_t unTag;
    ETrackedPropertyError eError;
};

// One entry of a property read batch. The runtime fills unTag, unRequiredBufferSize and eError.
struct PropertyRead_t {
    ETrackedDeviceProperty prop;
    void *pvBuffer;
    uint32_t unBufferSize;
    PropertyTypeTag_t unTag;
    uint32_t unRequiredBufferSize;
    ETrackedPropertyError eError;
};

static_assert(sizeof(DriverPose_t) == 280 && alignof(DriverPose_t) == 8, "DriverPose_t size");
static_assert(offsetof(DriverPose_t, qWorldFromDriverRotation) == 8, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, vecWorldFromDriverTranslation) == 40, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, qDriverFromHeadRotation) == 64, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, vecDriverFromHeadTranslation) == 96, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, vecPosition) == 120, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, vecVelocity) == 144, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, vecAcceleration) == 168, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, qRotation) == 192, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, vecAngularVelocity) == 224, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, vecAngularAcceleration) == 248, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, result) == 272, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, poseIsValid) == 276, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, willDriftInYaw) == 277, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, shouldApplyHeadModel) == 278, "DriverPose_t layout");
static_assert(offsetof(DriverPose_t, deviceIsConnected) == 279, "DriverPose_t layout");

static_assert(sizeof(PropertyWrite_t) == 40 && alignof(PropertyWrite_t) == 8, "PropertyWrite_t size");
static_assert(offsetof(PropertyWrite_t, writeType) == 4, "PropertyWrite_t layout");
static_assert(offsetof(PropertyWrite_t, eSetError) == 8, "PropertyWrite_t layout");
static_assert(offsetof(PropertyWrite_t, pvBuffer) == 16, "PropertyWrite_t layout");
static_assert(offsetof(PropertyWrite_t, unBufferSize) == 24, "PropertyWrite_t layout");
static_assert(offsetof(PropertyWrite_t, unTag) == 28, "PropertyWrite_t layout");
static_assert(offsetof(PropertyWrite_t, eError) == 32, "PropertyWrite_t layout");

static_assert(sizeof(PropertyRead_t) == 32 && alignof(PropertyRead_t) == 8, "PropertyRead_t size");
static_assert(offsetof(PropertyRead_t, pvBuffer) == 8, "PropertyRead_t layout");
static_assert(offsetof(PropertyRead_t, unBufferSize) == 16, "PropertyRead_t layout");
static_assert(offsetof(PropertyRead_t, unTag) == 20, "PropertyRead_t layout");
static_assert(offsetof(PropertyRead_t, unRequiredBufferSize) == 24, "PropertyRead_t layout");
static_assert(offsetof(PropertyRead_t, eError) == 28, "PropertyRead_t layout");

static_assert(sizeof(VRInputComponentHandle_t) == 8 && sizeof(PropertyContainerHandle_t) == 8 &&
                  sizeof(DriverHandle_t) == 8,
              "handles are 64-bit");

// ---- interface version strings -----------------------------------------------------------------

static const char *IVRSettings_Version = "IVRSettings_003";
static const char *ITrackedDeviceServerDriver_Version = "ITrackedDeviceServerDriver_005";
static const char *IVRDisplayComponent_Version = "IVRDisplayComponent_002";
static const char *IVRDriverDirectModeComponent_Version = "IVRDriverDirectModeComponent_007";
static const char *IVRCameraComponent_Version = "IVRCameraComponent_003";
static const char *IServerTrackedDeviceProvider_Version = "IServerTrackedDeviceProvider_004";
static const char *IVRWatchdogProvider_Version = "IVRWatchdogProvider_001";
static const char *IVRVirtualDisplay_Version = "IVRVirtualDisplay_002";
static const char *IVRDriverManager_Version = "IVRDriverManager_001";
static const char *IVRResources_Version = "IVRResources_001";
static const char *IVRCompositorPluginProvider_Version = "IVRCompositorPluginProvider_001";

static const char *IVRProperties_Version = "IVRProperties_001";
static const char *IVRDriverInput_Version = "IVRDriverInput_003";
static const char *IVRDriverLog_Version = "IVRDriverLog_001";
static const char *IVRServerDriverHost_Version = "IVRServerDriverHost_006";
static const char *IVRWatchdogHost_Version = "IVRWatchdogHost_002";
static const char *IVRCompositorDriverHost_Version = "IVRCompositorDriverHost_001";
static const char *IVRIOBuffer_Version = "IVRIOBuffer_002";
static const char *IVRDriverSpatialAnchors_Version = "IVRDriverSpatialAnchors_001";

// ---- runtime services --------------------------------------------------------------------------

// The interfaces deliberately have no virtual destructor (one would take a vtable slot and shift
// every method); keep -Wnon-virtual-dtor quiet about that here.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class IVRDriverContext;
class ITrackedDeviceServerDriver;

// Runtime settings store (steamvr.vrsettings plus the drivers' default.vrsettings).
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

// Raw property access. Drivers normally go through CVRPropertyHelpers below.
class IVRProperties {
public:
    virtual ETrackedPropertyError ReadPropertyBatch(PropertyContainerHandle_t ulContainerHandle, PropertyRead_t *pBatch,
                                                    uint32_t unBatchEntryCount) = 0;
    virtual ETrackedPropertyError WritePropertyBatch(PropertyContainerHandle_t ulContainerHandle,
                                                     PropertyWrite_t *pBatch, uint32_t unBatchEntryCount) = 0;
    virtual const char *GetPropErrorNameFromEnum(ETrackedPropertyError error) = 0;
    virtual PropertyContainerHandle_t TrackedDeviceToPropertyContainer(TrackedDeviceIndex_t nDevice) = 0;
};

// Input components of a device: created once after activation, then updated as values change.
class IVRDriverInput {
public:
    virtual EVRInputError CreateBooleanComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                                 VRInputComponentHandle_t *pHandle) = 0;
    virtual EVRInputError UpdateBooleanComponent(VRInputComponentHandle_t ulComponent, bool bNewValue,
                                                 double fTimeOffset) = 0;
    virtual EVRInputError CreateScalarComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                                VRInputComponentHandle_t *pHandle, EVRScalarType eType,
                                                EVRScalarUnits eUnits) = 0;
    virtual EVRInputError UpdateScalarComponent(VRInputComponentHandle_t ulComponent, float fNewValue,
                                                double fTimeOffset) = 0;
    virtual EVRInputError CreateHapticComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                                VRInputComponentHandle_t *pHandle) = 0;
    virtual EVRInputError CreateSkeletonComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                                  const char *pchSkeletonPath, const char *pchBasePosePath,
                                                  EVRSkeletalTrackingLevel eSkeletalTrackingLevel,
                                                  const VRBoneTransform_t *pGripLimitTransforms,
                                                  uint32_t unGripLimitTransformCount,
                                                  VRInputComponentHandle_t *pHandle) = 0;
    virtual EVRInputError UpdateSkeletonComponent(VRInputComponentHandle_t ulComponent,
                                                  EVRSkeletalMotionRange eMotionRange,
                                                  const VRBoneTransform_t *pTransforms, uint32_t unTransformCount) = 0;
};

// Writes one line to the runtime's log (vrserver.txt).
class IVRDriverLog {
public:
    virtual void Log(const char *pchLogMessage) = 0;
};

// The runtime's side of the server driver: device registration, pose updates, events.
class IVRServerDriverHost {
public:
    // Registers a device; the runtime later calls pDriver->Activate with its device index.
    virtual bool TrackedDeviceAdded(const char *pchDeviceSerialNumber, ETrackedDeviceClass eDeviceClass,
                                    ITrackedDeviceServerDriver *pDriver) = 0;
    // unPoseStructSize is sizeof(DriverPose_t).
    virtual void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const DriverPose_t &newPose,
                                          uint32_t unPoseStructSize) = 0;
    virtual void VsyncEvent(double vsyncTimeOffsetSeconds) = 0;
    virtual void VendorSpecificEvent(uint32_t unWhichDevice, vr::EVREventType eventType,
                                     const VREvent_Data_t &eventData, double eventTimeOffset) = 0;
    virtual bool IsExiting() = 0;
    // uncbVREvent is sizeof(VREvent_t), which differs between Windows and Linux.
    virtual bool PollNextEvent(VREvent_t *pEvent, uint32_t uncbVREvent) = 0;
    virtual void GetRawTrackedDevicePoses(float fPredictedSecondsFromNow, TrackedDevicePose_t *pTrackedDevicePoseArray,
                                          uint32_t unTrackedDevicePoseArrayCount) = 0;
    virtual void RequestRestart(const char *pchLocalizedReason, const char *pchExecutableToStart,
                                const char *pchArguments, const char *pchWorkingDirectory) = 0;
    virtual uint32_t GetFrameTimings(Compositor_FrameTiming *pTiming, uint32_t nFrames) = 0;
    virtual void SetDisplayEyeToHead(uint32_t unWhichDevice, const HmdMatrix34_t &eyeToHeadLeft,
                                     const HmdMatrix34_t &eyeToHeadRight) = 0;
    virtual void SetDisplayProjectionRaw(uint32_t unWhichDevice, const HmdRect2_t &eyeLeft,
                                         const HmdRect2_t &eyeRight) = 0;
    virtual void SetRecommendedRenderTargetSize(uint32_t unWhichDevice, uint32_t nWidth, uint32_t nHeight) = 0;
};

class IVRDriverManager {
public:
    virtual uint32_t GetDriverCount() const = 0;
    virtual uint32_t GetDriverName(DriverId_t nDriver, char *pchValue, uint32_t unBufferSize) = 0;
    virtual DriverHandle_t GetDriverHandle(const char *pchDriverName) = 0;
    virtual bool IsEnabled(DriverId_t nDriver) const = 0;
};

class IVRResources {
public:
    virtual uint32_t LoadSharedResource(const char *pchResourceName, char *pchBuffer, uint32_t unBufferLen) = 0;
    virtual uint32_t GetResourceFullPath(const char *pchResourceName, const char *pchResourceTypeDirectory,
                                         char *pchPathBuffer, uint32_t unBufferLen) = 0;
};

// Services a controller driver never uses; the context below only keeps pointers to them.
class IVRWatchdogHost;
class IVRCompositorDriverHost;
class IVRIOBuffer;
class IVRDriverSpatialAnchors;

// ---- interfaces the driver implements ----------------------------------------------------------

// Handed to the driver's Init; the way to reach every runtime service.
class IVRDriverContext {
public:
    virtual void *GetGenericInterface(const char *pchInterfaceVersion, EVRInitError *peError = nullptr) = 0;
    virtual DriverHandle_t GetDriverHandle() = 0;
};

// One tracked device. Activate receives the device index the runtime assigned.
class ITrackedDeviceServerDriver {
public:
    virtual EVRInitError Activate(uint32_t unObjectId) = 0;
    virtual void Deactivate() = 0;
    virtual void EnterStandby() = 0;
    // Returns nullptr for components (display, camera, ...) the device does not have.
    virtual void *GetComponent(const char *pchComponentNameAndVersion) = 0;
    // The response must be NUL-terminated within unResponseBufferSize.
    virtual void DebugRequest(const char *pchRequest, char *pchResponseBuffer, uint32_t unResponseBufferSize) = 0;
#if VR_EXPLICIT_STRUCT_RETURN
    // The runtime's slot 5 (see VR_EXPLICIT_STRUCT_RETURN).
    virtual DriverPose_t *GetPose(DriverPose_t *pPoseOut)
    {
        *pPoseOut = GetPose();
        return pPoseOut;
    }
    // What a device implements; a seventh slot, which only the device's own module calls.
    virtual DriverPose_t GetPose() = 0;
#else
    virtual DriverPose_t GetPose() = 0;
#endif
};

// The driver's root object, returned by HmdDriverFactory.
class IServerTrackedDeviceProvider {
public:
    virtual EVRInitError Init(IVRDriverContext *pDriverContext) = 0;
    virtual void Cleanup() = 0;
    // Must return k_InterfaceVersions.
    virtual const char *const *GetInterfaceVersions() = 0;
    virtual void RunFrame() = 0;
    virtual bool ShouldBlockStandbyMode() = 0;
    virtual void EnterStandby() = 0;
    virtual void LeaveStandby() = 0;
};

// Optional watchdog object (runs while the runtime is not started).
class IVRWatchdogProvider {
public:
    virtual EVRInitError Init(IVRDriverContext *pDriverContext) = 0;
    virtual void Cleanup() = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// ---- property helpers --------------------------------------------------------------------------

// Typed single-entry wrappers around IVRProperties' batch calls. Not an interface: compiled into
// the driver, so it may be extended freely as long as the batch entries it sends are right.
class CVRPropertyHelpers {
public:
    CVRPropertyHelpers(IVRProperties *pProperties) : m_pProperties(pProperties) {}

    // Reads one property into pvBuffer; returns the size the value needs. *punTag receives the
    // value's type tag (k_unInvalidPropertyTag on error).
    uint32_t GetProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop, void *pvBuffer,
                         uint32_t unBufferSize, PropertyTypeTag_t *punTag, ETrackedPropertyError *pError = nullptr)
    {
        PropertyRead_t batch;
        batch.prop = prop;
        batch.pvBuffer = pvBuffer;
        batch.unBufferSize = unBufferSize;
        batch.unTag = k_unInvalidPropertyTag;
        batch.unRequiredBufferSize = 0;
        batch.eError = TrackedProp_Success;

        m_pProperties->ReadPropertyBatch(ulContainerHandle, &batch, 1);

        if (pError)
            *pError = batch.eError;
        if (punTag)
            *punTag = batch.eError == TrackedProp_Success ? batch.unTag : k_unInvalidPropertyTag;
        return batch.unRequiredBufferSize;
    }

    bool GetBoolProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                         ETrackedPropertyError *pError = nullptr)
    {
        return GetPropertyHelper<bool>(ulContainerHandle, prop, pError, false, k_unBoolPropertyTag);
    }

    float GetFloatProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                           ETrackedPropertyError *pError = nullptr)
    {
        return GetPropertyHelper<float>(ulContainerHandle, prop, pError, 0.f, k_unFloatPropertyTag);
    }

    int32_t GetInt32Property(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                             ETrackedPropertyError *pError = nullptr)
    {
        return GetPropertyHelper<int32_t>(ulContainerHandle, prop, pError, 0, k_unInt32PropertyTag);
    }

    uint64_t GetUint64Property(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                               ETrackedPropertyError *pError = nullptr)
    {
        return GetPropertyHelper<uint64_t>(ulContainerHandle, prop, pError, 0, k_unUint64PropertyTag);
    }

    // Copies a string property into pchValue (empty string on any error); returns the size the
    // string needs including its NUL.
    uint32_t GetStringProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                               char *pchValue, uint32_t unBufferSize, ETrackedPropertyError *pError = nullptr)
    {
        PropertyTypeTag_t unTag;
        ETrackedPropertyError error;
        uint32_t unRequiredSize = GetProperty(ulContainerHandle, prop, pchValue, unBufferSize, &unTag, &error);
        if (error == TrackedProp_Success && unTag != k_unStringPropertyTag)
            error = TrackedProp_WrongDataType;
        if (pError)
            *pError = error;
        if (error != TrackedProp_Success && pchValue && unBufferSize > 0)
            *pchValue = '\0';
        return unRequiredSize;
    }

    // Writes one property. The runtime stores the entry's result in its eError field, which is
    // what this returns; the batch call's own return value says nothing more for one entry.
    ETrackedPropertyError SetProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                      void *pvNewValue, uint32_t unNewValueSize, PropertyTypeTag_t unTag)
    {
        PropertyWrite_t batch;
        batch.writeType = PropertyWrite_Set;
        batch.prop = prop;
        batch.eSetError = TrackedProp_Success;
        batch.pvBuffer = pvNewValue;
        batch.unBufferSize = unNewValueSize;
        batch.unTag = unTag;
        batch.eError = TrackedProp_Success;

        m_pProperties->WritePropertyBatch(ulContainerHandle, &batch, 1);

        return batch.eError;
    }

    // The stored size includes the terminating NUL.
    ETrackedPropertyError SetStringProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                            const char *pchNewValue)
    {
        if (!pchNewValue)
            return TrackedProp_InvalidOperation;
        return SetProperty(ulContainerHandle, prop, const_cast<char *>(pchNewValue),
                           static_cast<uint32_t>(VR_INTERNAL_STRLEN(pchNewValue) + 1), k_unStringPropertyTag);
    }

    ETrackedPropertyError SetBoolProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                          bool bNewValue)
    {
        return SetProperty(ulContainerHandle, prop, &bNewValue, sizeof(bNewValue), k_unBoolPropertyTag);
    }

    ETrackedPropertyError SetFloatProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                           float fNewValue)
    {
        return SetProperty(ulContainerHandle, prop, &fNewValue, sizeof(fNewValue), k_unFloatPropertyTag);
    }

    ETrackedPropertyError SetInt32Property(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                           int32_t nNewValue)
    {
        return SetProperty(ulContainerHandle, prop, &nNewValue, sizeof(nNewValue), k_unInt32PropertyTag);
    }

    ETrackedPropertyError SetUint64Property(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                            uint64_t ulNewValue)
    {
        return SetProperty(ulContainerHandle, prop, &ulNewValue, sizeof(ulNewValue), k_unUint64PropertyTag);
    }

    ETrackedPropertyError SetDoubleProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                            double dNewValue)
    {
        return SetProperty(ulContainerHandle, prop, &dNewValue, sizeof(dNewValue), k_unDoublePropertyTag);
    }

    // Stores an error in place of a value, so readers get eError instead of "unknown property".
    ETrackedPropertyError SetPropertyError(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                           ETrackedPropertyError eError)
    {
        return WriteWithoutValue(ulContainerHandle, prop, PropertyWrite_SetError, eError);
    }

    ETrackedPropertyError EraseProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop)
    {
        return WriteWithoutValue(ulContainerHandle, prop, PropertyWrite_Erase, TrackedProp_Success);
    }

    PropertyContainerHandle_t TrackedDeviceToPropertyContainer(TrackedDeviceIndex_t nDevice)
    {
        return m_pProperties->TrackedDeviceToPropertyContainer(nDevice);
    }

private:
    template <typename T>
    T GetPropertyHelper(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                        ETrackedPropertyError *pError, T defaultValue, PropertyTypeTag_t unTypeTag)
    {
        T value = defaultValue;
        PropertyTypeTag_t unTag;
        ETrackedPropertyError error;
        GetProperty(ulContainerHandle, prop, &value, sizeof(value), &unTag, &error);
        if (error == TrackedProp_Success && unTag != unTypeTag)
            error = TrackedProp_WrongDataType;
        if (pError)
            *pError = error;
        return error == TrackedProp_Success ? value : defaultValue;
    }

    ETrackedPropertyError WriteWithoutValue(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                            EPropertyWriteType writeType, ETrackedPropertyError eSetError)
    {
        PropertyWrite_t batch;
        batch.writeType = writeType;
        batch.prop = prop;
        batch.eSetError = eSetError;
        batch.pvBuffer = nullptr;
        batch.unBufferSize = 0;
        batch.unTag = k_unInvalidPropertyTag;
        batch.eError = TrackedProp_Success;

        m_pProperties->WritePropertyBatch(ulContainerHandle, &batch, 1);

        return batch.eError;
    }

    IVRProperties *m_pProperties;
};

// Hidden-area mesh helpers are for HMD drivers; only the storage is kept, so the context below
// has the same shape as the SDK's.
class CVRHiddenAreaHelpers {
public:
    CVRHiddenAreaHelpers(IVRProperties *pProperties) : m_pProperties(pProperties) {}

    IVRProperties *Properties() const { return m_pProperties; }

private:
    IVRProperties *m_pProperties;
};

// Versions of the driver-implemented interfaces this driver was built against; the provider
// returns this from GetInterfaceVersions.
static const char *const k_InterfaceVersions[] = {
    IVRSettings_Version,
    ITrackedDeviceServerDriver_Version,
    IVRDisplayComponent_Version,
    IVRDriverDirectModeComponent_Version,
    IVRCameraComponent_Version,
    IServerTrackedDeviceProvider_Version,
    IVRWatchdogProvider_Version,
    IVRVirtualDisplay_Version,
    IVRDriverManager_Version,
    IVRResources_Version,
    IVRCompositorPluginProvider_Version,
    nullptr,
};

static_assert(sizeof(k_InterfaceVersions) / sizeof(k_InterfaceVersions[0]) == 12,
              "11 interface versions and the terminating nullptr");

// ---- driver context ----------------------------------------------------------------------------

// The runtime's context object, set by InitServerDriverContext. One per driver module.
inline IVRDriverContext *&VRDriverContext()
{
    static IVRDriverContext *pHost;
    return pHost;
}

// Caches the runtime services of this driver module. Each accessor asks the runtime once and
// keeps the pointer until Clear(); a service the runtime does not offer stays nullptr and is
// asked for again on the next call.
class COpenVRDriverContext {
public:
    COpenVRDriverContext() : m_propertyHelpers(nullptr), m_hiddenAreaHelpers(nullptr) { Clear(); }

    EVRInitError InitServer();
    EVRInitError InitWatchdog();
    EVRInitError InitCompositor();

    IVRSettings *VRSettings()
    {
        if (m_pVRSettings == nullptr)
            m_pVRSettings = static_cast<IVRSettings *>(Fetch(IVRSettings_Version));
        return m_pVRSettings;
    }

    IVRProperties *VRPropertiesRaw()
    {
        if (m_pVRProperties == nullptr) {
            m_pVRProperties = static_cast<IVRProperties *>(Fetch(IVRProperties_Version));
            m_propertyHelpers = CVRPropertyHelpers(m_pVRProperties);
            m_hiddenAreaHelpers = CVRHiddenAreaHelpers(m_pVRProperties);
        }
        return m_pVRProperties;
    }

    // Never nullptr, even when the runtime has no IVRProperties: the helper object is always
    // there (calling through it then crashes, as with the SDK's own context).
    CVRPropertyHelpers *VRProperties()
    {
        VRPropertiesRaw();
        return &m_propertyHelpers;
    }

    CVRHiddenAreaHelpers *VRHiddenArea()
    {
        VRPropertiesRaw();
        return &m_hiddenAreaHelpers;
    }

    IVRServerDriverHost *VRServerDriverHost()
    {
        if (m_pVRServerDriverHost == nullptr)
            m_pVRServerDriverHost = static_cast<IVRServerDriverHost *>(Fetch(IVRServerDriverHost_Version));
        return m_pVRServerDriverHost;
    }

    IVRWatchdogHost *VRWatchdogHost()
    {
        if (m_pVRWatchdogHost == nullptr)
            m_pVRWatchdogHost = static_cast<IVRWatchdogHost *>(Fetch(IVRWatchdogHost_Version));
        return m_pVRWatchdogHost;
    }

    IVRCompositorDriverHost *VRCompositorDriverHost()
    {
        if (m_pVRCompositorDriverHost == nullptr)
            m_pVRCompositorDriverHost = static_cast<IVRCompositorDriverHost *>(Fetch(IVRCompositorDriverHost_Version));
        return m_pVRCompositorDriverHost;
    }

    IVRDriverLog *VRDriverLog()
    {
        if (m_pVRDriverLog == nullptr)
            m_pVRDriverLog = static_cast<IVRDriverLog *>(Fetch(IVRDriverLog_Version));
        return m_pVRDriverLog;
    }

    // Not cached: asks the runtime on every call.
    DriverHandle_t VRDriverHandle() { return VRDriverContext()->GetDriverHandle(); }

    IVRDriverManager *VRDriverManager()
    {
        if (!m_pVRDriverManager)
            m_pVRDriverManager = static_cast<IVRDriverManager *>(Fetch(IVRDriverManager_Version));
        return m_pVRDriverManager;
    }

    IVRResources *VRResources()
    {
        if (!m_pVRResources)
            m_pVRResources = static_cast<IVRResources *>(Fetch(IVRResources_Version));
        return m_pVRResources;
    }

    IVRDriverInput *VRDriverInput()
    {
        if (!m_pVRDriverInput)
            m_pVRDriverInput = static_cast<IVRDriverInput *>(Fetch(IVRDriverInput_Version));
        return m_pVRDriverInput;
    }

    IVRIOBuffer *VRIOBuffer()
    {
        if (!m_pVRIOBuffer)
            m_pVRIOBuffer = static_cast<IVRIOBuffer *>(Fetch(IVRIOBuffer_Version));
        return m_pVRIOBuffer;
    }

    IVRDriverSpatialAnchors *VRDriverSpatialAnchors()
    {
        if (!m_pVRDriverSpatialAnchors)
            m_pVRDriverSpatialAnchors = static_cast<IVRDriverSpatialAnchors *>(Fetch(IVRDriverSpatialAnchors_Version));
        return m_pVRDriverSpatialAnchors;
    }

    // Forgets every cached service pointer (the helper objects keep theirs until the next fetch).
    void Clear()
    {
        m_pVRSettings = nullptr;
        m_pVRProperties = nullptr;
        m_pVRServerDriverHost = nullptr;
        m_pVRWatchdogHost = nullptr;
        m_pVRCompositorDriverHost = nullptr;
        m_pVRDriverLog = nullptr;
        m_pVRDriverManager = nullptr;
        m_pVRResources = nullptr;
        m_pVRDriverInput = nullptr;
        m_pVRIOBuffer = nullptr;
        m_pVRDriverSpatialAnchors = nullptr;
    }

private:
    // The error is not reported: a missing service shows up as a nullptr.
    static void *Fetch(const char *pchInterfaceVersion)
    {
        EVRInitError eError;
        return VRDriverContext()->GetGenericInterface(pchInterfaceVersion, &eError);
    }

    CVRPropertyHelpers m_propertyHelpers;
    CVRHiddenAreaHelpers m_hiddenAreaHelpers;

    IVRSettings *m_pVRSettings;
    IVRProperties *m_pVRProperties;
    IVRServerDriverHost *m_pVRServerDriverHost;
    IVRWatchdogHost *m_pVRWatchdogHost;
    IVRCompositorDriverHost *m_pVRCompositorDriverHost;
    IVRDriverLog *m_pVRDriverLog;
    IVRDriverManager *m_pVRDriverManager;
    IVRResources *m_pVRResources;
    IVRDriverInput *m_pVRDriverInput;
    IVRIOBuffer *m_pVRIOBuffer;
    IVRDriverSpatialAnchors *m_pVRDriverSpatialAnchors;
};

static_assert(sizeof(COpenVRDriverContext) == 13 * sizeof(void *),
              "two helper objects of one pointer each plus eleven service pointers");

// The module's context. Its storage is a zero-filled static array reinterpreted as the class, so
// no constructor has to run (and none races with a call that arrives during static init):
// all-zero is exactly the cleared state.
inline COpenVRDriverContext &OpenVRInternal_ModuleServerDriverContext()
{
    static void *ctx[sizeof(COpenVRDriverContext) / sizeof(void *)];
    return *reinterpret_cast<COpenVRDriverContext *>(ctx);
}

// Fetches the services every server driver needs. The order of the requests is fixed and stops
// at the first one the runtime refuses; a missing IVRProperties does not fail because
// VRProperties() always returns its helper object.
inline EVRInitError COpenVRDriverContext::InitServer()
{
    Clear();
    if (!VRServerDriverHost() || !VRSettings() || !VRProperties() || !VRDriverLog() || !VRDriverManager() ||
        !VRResources())
        return VRInitError_Init_InterfaceNotFound;
    return VRInitError_None;
}

inline EVRInitError COpenVRDriverContext::InitWatchdog()
{
    Clear();
    if (!VRWatchdogHost() || !VRSettings() || !VRDriverLog())
        return VRInitError_Init_InterfaceNotFound;
    return VRInitError_None;
}

inline EVRInitError COpenVRDriverContext::InitCompositor()
{
    Clear();
    if (!VRCompositorDriverHost() || !VRSettings() || !VRProperties() || !VRDriverLog() || !VRDriverManager() ||
        !VRResources())
        return VRInitError_Init_InterfaceNotFound;
    return VRInitError_None;
}

// ---- free accessors ----------------------------------------------------------------------------

inline IVRSettings *VR_CALLTYPE VRSettings()
{
    return OpenVRInternal_ModuleServerDriverContext().VRSettings();
}

inline IVRProperties *VR_CALLTYPE VRPropertiesRaw()
{
    return OpenVRInternal_ModuleServerDriverContext().VRPropertiesRaw();
}

inline CVRPropertyHelpers *VR_CALLTYPE VRProperties()
{
    return OpenVRInternal_ModuleServerDriverContext().VRProperties();
}

inline CVRHiddenAreaHelpers *VR_CALLTYPE VRHiddenArea()
{
    return OpenVRInternal_ModuleServerDriverContext().VRHiddenArea();
}

inline IVRDriverLog *VR_CALLTYPE VRDriverLog()
{
    return OpenVRInternal_ModuleServerDriverContext().VRDriverLog();
}

inline IVRServerDriverHost *VR_CALLTYPE VRServerDriverHost()
{
    return OpenVRInternal_ModuleServerDriverContext().VRServerDriverHost();
}

inline IVRWatchdogHost *VR_CALLTYPE VRWatchdogHost()
{
    return OpenVRInternal_ModuleServerDriverContext().VRWatchdogHost();
}

inline IVRCompositorDriverHost *VR_CALLTYPE VRCompositorDriverHost()
{
    return OpenVRInternal_ModuleServerDriverContext().VRCompositorDriverHost();
}

inline DriverHandle_t VR_CALLTYPE VRDriverHandle()
{
    return OpenVRInternal_ModuleServerDriverContext().VRDriverHandle();
}

inline IVRDriverManager *VR_CALLTYPE VRDriverManager()
{
    return OpenVRInternal_ModuleServerDriverContext().VRDriverManager();
}

inline IVRResources *VR_CALLTYPE VRResources()
{
    return OpenVRInternal_ModuleServerDriverContext().VRResources();
}

inline IVRDriverInput *VR_CALLTYPE VRDriverInput()
{
    return OpenVRInternal_ModuleServerDriverContext().VRDriverInput();
}

inline IVRIOBuffer *VR_CALLTYPE VRIOBuffer()
{
    return OpenVRInternal_ModuleServerDriverContext().VRIOBuffer();
}

inline IVRDriverSpatialAnchors *VR_CALLTYPE VRDriverSpatialAnchors()
{
    return OpenVRInternal_ModuleServerDriverContext().VRDriverSpatialAnchors();
}

// ---- init and cleanup --------------------------------------------------------------------------

inline void VR_CALLTYPE CleanupDriverContext()
{
    VRDriverContext() = nullptr;
    OpenVRInternal_ModuleServerDriverContext().Clear();
}

inline EVRInitError VR_CALLTYPE InitServerDriverContext(IVRDriverContext *pContext)
{
    VRDriverContext() = pContext;
    return OpenVRInternal_ModuleServerDriverContext().InitServer();
}

inline EVRInitError VR_CALLTYPE InitWatchdogDriverContext(IVRDriverContext *pContext)
{
    VRDriverContext() = pContext;
    return OpenVRInternal_ModuleServerDriverContext().InitWatchdog();
}

inline EVRInitError VR_CALLTYPE InitCompositorDriverContext(IVRDriverContext *pContext)
{
    VRDriverContext() = pContext;
    return OpenVRInternal_ModuleServerDriverContext().InitCompositor();
}

} // namespace vr

// Used at the top of IServerTrackedDeviceProvider::Init: on failure it returns the error from
// the enclosing function.
#define VR_INIT_SERVER_DRIVER_CONTEXT(pContext)                                                      \
    {                                                                                                \
        vr::EVRInitError eError = vr::InitServerDriverContext(pContext);                             \
        if (eError != vr::VRInitError_None)                                                          \
            return eError;                                                                           \
    }

#define VR_CLEANUP_SERVER_DRIVER_CONTEXT() vr::CleanupDriverContext();

#define VR_INIT_WATCHDOG_DRIVER_CONTEXT(pContext)                                                    \
    {                                                                                                \
        vr::EVRInitError eError = vr::InitWatchdogDriverContext(pContext);                           \
        if (eError != vr::VRInitError_None)                                                          \
            return eError;                                                                           \
    }

#define VR_CLEANUP_WATCHDOG_DRIVER_CONTEXT() vr::CleanupDriverContext();

#define VR_INIT_COMPOSITOR_DRIVER_CONTEXT(pContext)                                                  \
    {                                                                                                \
        vr::EVRInitError eError = vr::InitCompositorDriverContext(pContext);                         \
        if (eError != vr::VRInitError_None)                                                          \
            return eError;                                                                           \
    }

#define VR_CLEANUP_COMPOSITOR_DRIVER_CONTEXT() vr::CleanupDriverContext();

#endif // OPENVR_DRIVER_DECLS_H_
