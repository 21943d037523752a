// IVRSystem_022 as the relay reaches it in SteamVR: the runtime's object compiled for the MSVC
// ABI (MsvcSystem.cpp), called from this MinGW program through our client header. Each call the
// relay makes must land in its own slot with its arguments, and its results come back intact.
#include "ClientLayouts.h"
#include "MsvcSeam.h"

#include <openvr.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// What the three forwarded slots last received, and what they answer.
struct Forwarded {
    int32_t origin = -1;
    float predicted = -1.0f;
    void *poses = nullptr;
    uint32_t poseCount = 0;
    int32_t deviceClass = -1;
    uint32_t *indices = nullptr;
    uint32_t capacity = 0;
    uint32_t relativeTo = 0;
    uint32_t roleIndex = 0;
    void *event = nullptr;
    uint32_t eventSize = 0;
    uint32_t acknowledgements = 0;
    uint32_t classIndex = 0;
    uint32_t propertyIndex = 0;
    int32_t property = 0;
    uint32_t propertySize = 0;
} forwarded;

} // namespace

extern "C" {

void gxx_system_device_poses(int32_t origin, float predictedSeconds, void *poses, uint32_t count)
{
    forwarded.origin = origin;
    forwarded.predicted = predictedSeconds;
    forwarded.poses = poses;
    forwarded.poseCount = count;
}

uint32_t gxx_system_sorted_devices(int32_t deviceClass, uint32_t *indices, uint32_t capacity, uint32_t relativeTo)
{
    forwarded.deviceClass = deviceClass;
    forwarded.indices = indices;
    forwarded.capacity = capacity;
    forwarded.relativeTo = relativeTo;
    return 7;
}

int32_t gxx_system_controller_role(uint32_t deviceIndex)
{
    forwarded.roleIndex = deviceIndex;
    return vr::TrackedControllerRole_RightHand;
}

// Answers with a quit request for process 4242.
int32_t gxx_system_poll_event(void *event, uint32_t eventSize)
{
    forwarded.event = event;
    forwarded.eventSize = eventSize;
    if (event == nullptr || eventSize != sizeof(vr::VREvent_t))
        return 0;
    auto *e = static_cast<vr::VREvent_t *>(event);
    std::memset(static_cast<void *>(e), 0, sizeof *e);
    e->eventType = vr::VREvent_Quit;
    e->trackedDeviceIndex = vr::k_unTrackedDeviceIndexInvalid;
    e->data.process.pid = 4242;
    return 1;
}

void gxx_system_acknowledge_quit(void) { ++forwarded.acknowledgements; }

int32_t gxx_system_device_class(uint32_t deviceIndex)
{
    forwarded.classIndex = deviceIndex;
    return vr::TrackedDeviceClass_GenericTracker;
}

// Answers "LHR-1" for the serial number.
uint32_t gxx_system_string_property(uint32_t deviceIndex, int32_t prop, char *value, uint32_t size, int32_t *error)
{
    forwarded.propertyIndex = deviceIndex;
    forwarded.property = prop;
    forwarded.propertySize = size;
    *error = vr::TrackedProp_Success;
    if (value != nullptr && size >= 6)
        std::memcpy(value, "LHR-1", 6);
    return 6;
}

} // extern "C"

namespace {

// Catches: the relay's calls reaching the runtime with an argument in the wrong place or width
// (the float prediction time, a 32-bit count, the relative-to index, the event's size) or a result
// lost on the way back (the answer to an event poll, the event itself).
TEST(MsvcAbiSystem, TheRelaysCallsCarryTheirArgumentsAndResults)
{
    vr::IVRSystem &system = *static_cast<vr::IVRSystem *>(msvc_system_object());
    vr::TrackedDevicePose_t poses[vr::k_unMaxTrackedDeviceCount];
    system.GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseRawAndUncalibrated, 0.0125f, poses,
                                           vr::k_unMaxTrackedDeviceCount);
    EXPECT_EQ(forwarded.origin, vr::TrackingUniverseRawAndUncalibrated);
    EXPECT_EQ(forwarded.predicted, 0.0125f);
    EXPECT_EQ(forwarded.poses, static_cast<void *>(poses));
    EXPECT_EQ(forwarded.poseCount, 64u);

    vr::TrackedDeviceIndex_t indices[vr::k_unMaxTrackedDeviceCount];
    EXPECT_EQ(system.GetSortedTrackedDeviceIndicesOfClass(vr::TrackedDeviceClass_Controller, indices, 64, 5), 7u);
    EXPECT_EQ(forwarded.deviceClass, vr::TrackedDeviceClass_Controller);
    EXPECT_EQ(forwarded.indices, indices);
    EXPECT_EQ(forwarded.capacity, 64u);
    EXPECT_EQ(forwarded.relativeTo, 5u);

    EXPECT_EQ(system.GetControllerRoleForTrackedDeviceIndex(63), vr::TrackedControllerRole_RightHand);
    EXPECT_EQ(forwarded.roleIndex, 63u);

    vr::VREvent_t event{};
    EXPECT_TRUE(system.PollNextEvent(&event, sizeof event));
    EXPECT_EQ(forwarded.event, static_cast<void *>(&event));
    EXPECT_EQ(forwarded.eventSize, 64u);
    EXPECT_EQ(event.eventType, static_cast<uint32_t>(vr::VREvent_Quit));
    EXPECT_EQ(event.data.process.pid, 4242u);
    system.AcknowledgeQuit_Exiting();
    EXPECT_EQ(forwarded.acknowledgements, 1u);

    // The look-up of a serial number: the class of a slot, its serial number property.
    EXPECT_EQ(system.GetTrackedDeviceClass(9), vr::TrackedDeviceClass_GenericTracker);
    EXPECT_EQ(forwarded.classIndex, 9u);
    char serial[128] = {};
    vr::ETrackedPropertyError error = vr::TrackedProp_UnknownProperty;
    EXPECT_EQ(system.GetStringTrackedDeviceProperty(9, vr::Prop_SerialNumber_String, serial, sizeof serial, &error), 6u);
    EXPECT_EQ(forwarded.propertyIndex, 9u);
    EXPECT_EQ(forwarded.property, vr::Prop_SerialNumber_String);
    EXPECT_EQ(forwarded.propertySize, 128u);
    EXPECT_EQ(error, vr::TrackedProp_Success);
    EXPECT_STREQ(serial, "LHR-1");
}

} // namespace
