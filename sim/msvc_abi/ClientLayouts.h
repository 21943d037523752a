#pragma once
// The layouts of what the relay and the client library pass each other, pinned to one set of
// numbers for both halves of the MSVC-ABI tests (see DriverLayouts.h).
#include <openvr.h>

#include <stddef.h>

#define TARVOLT_LAYOUT(type, size, align) \
    static_assert(sizeof(vr::type) == (size) && alignof(vr::type) == (align), #type " size or alignment")
#define TARVOLT_OFFSET(type, field, offset) \
    static_assert(offsetof(vr::type, field) == (offset), #type "::" #field " offset")

TARVOLT_LAYOUT(HmdMatrix34_t, 48, 4);
TARVOLT_LAYOUT(HmdMatrix44_t, 64, 4);
TARVOLT_LAYOUT(TrackedDevicePose_t, 80, 4);
TARVOLT_OFFSET(TrackedDevicePose_t, vVelocity, 48);
TARVOLT_OFFSET(TrackedDevicePose_t, vAngularVelocity, 60);
TARVOLT_OFFSET(TrackedDevicePose_t, eTrackingResult, 72);
TARVOLT_OFFSET(TrackedDevicePose_t, bPoseIsValid, 76);
TARVOLT_OFFSET(TrackedDevicePose_t, bDeviceIsConnected, 77);
TARVOLT_LAYOUT(VREvent_t, 64, 8);
TARVOLT_OFFSET(VREvent_t, data, 16);
TARVOLT_LAYOUT(VRControllerState_t, 64, 8);
TARVOLT_OFFSET(VRControllerState_t, ulButtonPressed, 8);
TARVOLT_OFFSET(VRControllerState_t, rAxis, 24);
TARVOLT_LAYOUT(HiddenAreaMesh_t, 16, 8);
TARVOLT_LAYOUT(DistortionCoordinates_t, 24, 4);
TARVOLT_LAYOUT(ETrackingUniverseOrigin, 4, 4);
TARVOLT_LAYOUT(ETrackedControllerRole, 4, 4);
TARVOLT_LAYOUT(EVRInitError, 4, 4);

#undef TARVOLT_LAYOUT
#undef TARVOLT_OFFSET
