#pragma once
// The layouts of what the driver and the runtime pass each other by pointer or by value, pinned
// to one set of numbers. Both halves of the MSVC-ABI tests compile this list (clang for the MSVC
// ABI, g++ for MinGW), so a structure that the two compilers lay out differently fails the build.
#include <openvr_driver.h>

#include <stddef.h>

#define TARVOLT_LAYOUT(type, size, align) \
    static_assert(sizeof(vr::type) == (size) && alignof(vr::type) == (align), #type " size or alignment")
#define TARVOLT_OFFSET(type, field, offset) \
    static_assert(offsetof(vr::type, field) == (offset), #type "::" #field " offset")

TARVOLT_LAYOUT(HmdMatrix34_t, 48, 4);
TARVOLT_LAYOUT(HmdVector3_t, 12, 4);
TARVOLT_LAYOUT(HmdVector2_t, 8, 4);
TARVOLT_LAYOUT(HmdRect2_t, 16, 4);
TARVOLT_LAYOUT(HmdQuaternion_t, 32, 8);
TARVOLT_LAYOUT(DriverPoseQuaternion_t, 32, 8);
TARVOLT_LAYOUT(VRBoneTransform_t, 32, 4);

TARVOLT_LAYOUT(TrackedDevicePose_t, 80, 4);
TARVOLT_OFFSET(TrackedDevicePose_t, vVelocity, 48);
TARVOLT_OFFSET(TrackedDevicePose_t, vAngularVelocity, 60);
TARVOLT_OFFSET(TrackedDevicePose_t, eTrackingResult, 72);
TARVOLT_OFFSET(TrackedDevicePose_t, bPoseIsValid, 76);
TARVOLT_OFFSET(TrackedDevicePose_t, bDeviceIsConnected, 77);

TARVOLT_LAYOUT(DriverPose_t, 280, 8);
TARVOLT_OFFSET(DriverPose_t, qWorldFromDriverRotation, 8);
TARVOLT_OFFSET(DriverPose_t, vecWorldFromDriverTranslation, 40);
TARVOLT_OFFSET(DriverPose_t, qDriverFromHeadRotation, 64);
TARVOLT_OFFSET(DriverPose_t, vecDriverFromHeadTranslation, 96);
TARVOLT_OFFSET(DriverPose_t, vecPosition, 120);
TARVOLT_OFFSET(DriverPose_t, vecVelocity, 144);
TARVOLT_OFFSET(DriverPose_t, vecAcceleration, 168);
TARVOLT_OFFSET(DriverPose_t, qRotation, 192);
TARVOLT_OFFSET(DriverPose_t, vecAngularVelocity, 224);
TARVOLT_OFFSET(DriverPose_t, vecAngularAcceleration, 248);
TARVOLT_OFFSET(DriverPose_t, result, 272);
TARVOLT_OFFSET(DriverPose_t, poseIsValid, 276);
TARVOLT_OFFSET(DriverPose_t, willDriftInYaw, 277);
TARVOLT_OFFSET(DriverPose_t, shouldApplyHeadModel, 278);
TARVOLT_OFFSET(DriverPose_t, deviceIsConnected, 279);

TARVOLT_LAYOUT(PropertyWrite_t, 40, 8);
TARVOLT_OFFSET(PropertyWrite_t, writeType, 4);
TARVOLT_OFFSET(PropertyWrite_t, eSetError, 8);
TARVOLT_OFFSET(PropertyWrite_t, pvBuffer, 16);
TARVOLT_OFFSET(PropertyWrite_t, unBufferSize, 24);
TARVOLT_OFFSET(PropertyWrite_t, unTag, 28);
TARVOLT_OFFSET(PropertyWrite_t, eError, 32);

TARVOLT_LAYOUT(PropertyRead_t, 32, 8);
TARVOLT_OFFSET(PropertyRead_t, pvBuffer, 8);
TARVOLT_OFFSET(PropertyRead_t, unBufferSize, 16);
TARVOLT_OFFSET(PropertyRead_t, unTag, 20);
TARVOLT_OFFSET(PropertyRead_t, unRequiredBufferSize, 24);
TARVOLT_OFFSET(PropertyRead_t, eError, 28);

// On Windows the event is naturally aligned (on Linux it is 4-byte packed, 60 bytes).
TARVOLT_LAYOUT(VREvent_Data_t, 48, 8);
TARVOLT_LAYOUT(VREvent_t, 64, 8);
TARVOLT_OFFSET(VREvent_t, eventAgeSeconds, 8);
TARVOLT_OFFSET(VREvent_t, data, 16);
TARVOLT_LAYOUT(VREvent_HapticVibration_t, 32, 8);
TARVOLT_OFFSET(VREvent_HapticVibration_t, fAmplitude, 24);

// Enumerations, handles and bool travel as 4, 8 and 1 bytes.
TARVOLT_LAYOUT(EVRInitError, 4, 4);
TARVOLT_LAYOUT(ETrackedDeviceClass, 4, 4);
TARVOLT_LAYOUT(ETrackedDeviceProperty, 4, 4);
TARVOLT_LAYOUT(EVRScalarType, 4, 4);
TARVOLT_LAYOUT(EVRScalarUnits, 4, 4);
TARVOLT_LAYOUT(PropertyContainerHandle_t, 8, 8);
TARVOLT_LAYOUT(VRInputComponentHandle_t, 8, 8);
static_assert(sizeof(bool) == 1, "bool is one byte");

#undef TARVOLT_LAYOUT
#undef TARVOLT_OFFSET
