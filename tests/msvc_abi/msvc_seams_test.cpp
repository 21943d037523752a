// The calls whose other side is MSVC-built and that no whole run shows in detail: IVRSystem_022
// as the relay reaches it in SteamVR (the runtime's object compiled for the MSVC ABI,
// MsvcSystem.cpp, called from this MinGW program through our client header), and the Bluetooth
// backend's Windows Runtime calls with an argument passed by value beyond a pointer (a GUID, an
// enum, a boolean), made through the driver's own declarations (BleAbi.h) on objects compiled
// for the MSVC ABI from an independent declaration (MsvcWinrt.cpp). Each call must land in its
// own slot with its arguments, and its results come back intact.
#include "ClientLayouts.h"
#include "MsvcSeam.h"
#include "bluetooth/winrt/BleAbi.h"

#include <openvr.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One call with its arguments, as text.
template <class... Args>
std::string Call(const char *name, Args... args)
{
    std::ostringstream out;
    out.precision(9);  // a float to its last bit
    out << name;
    ((out << ' ' << args), ...);
    return out.str();
}

std::vector<std::string> received;  // what the forwarded slots received, in order

} // namespace

extern "C" {

void gxx_system_device_poses(int32_t origin, float predictedSeconds, void *poses, uint32_t count)
{
    received.push_back(Call("poses", origin, predictedSeconds, poses, count));
}

uint32_t gxx_system_sorted_devices(int32_t deviceClass, uint32_t *indices, uint32_t capacity, uint32_t relativeTo)
{
    received.push_back(Call("sorted", deviceClass, static_cast<void *>(indices), capacity, relativeTo));
    return 7;
}

int32_t gxx_system_controller_role(uint32_t deviceIndex)
{
    received.push_back(Call("role", deviceIndex));
    return vr::TrackedControllerRole_RightHand;
}

// Answers with a quit request for process 4242.
int32_t gxx_system_poll_event(void *event, uint32_t eventSize)
{
    received.push_back(Call("poll", event, eventSize));
    if (event == nullptr || eventSize != sizeof(vr::VREvent_t))
        return 0;
    auto *e = static_cast<vr::VREvent_t *>(event);
    std::memset(static_cast<void *>(e), 0, sizeof *e);
    e->eventType = vr::VREvent_Quit;
    e->trackedDeviceIndex = vr::k_unTrackedDeviceIndexInvalid;
    e->data.process.pid = 4242;
    return 1;
}

void gxx_system_acknowledge_quit(void) { received.push_back("acknowledge"); }

int32_t gxx_system_device_class(uint32_t deviceIndex)
{
    received.push_back(Call("class", deviceIndex));
    return vr::TrackedDeviceClass_GenericTracker;
}

// Answers "LHR-1" for the serial number.
uint32_t gxx_system_string_property(uint32_t deviceIndex, int32_t prop, char *value, uint32_t size, int32_t *error)
{
    received.push_back(Call("string", deviceIndex, prop, size));
    *error = vr::TrackedProp_Success;
    if (value != nullptr && size >= 6)
        std::memcpy(value, "LHR-1", 6);
    return 6;
}

} // extern "C"

namespace {

// Catches: the relay's calls reaching the runtime with an argument in the wrong place or width
// (the float prediction time, a 32-bit count, the relative-to index, the event's size) or a result
// lost on the way back (the answer to an event poll, the event itself, a serial number).
TEST(MsvcAbiSystem, TheRelaysCallsCarryTheirArgumentsAndResults)
{
    vr::IVRSystem &system = *static_cast<vr::IVRSystem *>(msvc_system_object());
    vr::TrackedDevicePose_t poses[vr::k_unMaxTrackedDeviceCount];
    system.GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseRawAndUncalibrated, 0.0125f, poses,
                                           vr::k_unMaxTrackedDeviceCount);
    vr::TrackedDeviceIndex_t indices[vr::k_unMaxTrackedDeviceCount];
    EXPECT_EQ(system.GetSortedTrackedDeviceIndicesOfClass(vr::TrackedDeviceClass_Controller, indices, 64, 5), 7u);
    EXPECT_EQ(system.GetControllerRoleForTrackedDeviceIndex(63), vr::TrackedControllerRole_RightHand);
    vr::VREvent_t event{};
    EXPECT_TRUE(system.PollNextEvent(&event, sizeof event));
    EXPECT_EQ(event.eventType, static_cast<uint32_t>(vr::VREvent_Quit));
    EXPECT_EQ(event.data.process.pid, 4242u);
    system.AcknowledgeQuit_Exiting();
    // The look-up of a serial number: the class of a slot, its serial number property.
    EXPECT_EQ(system.GetTrackedDeviceClass(9), vr::TrackedDeviceClass_GenericTracker);
    char serial[128] = {};
    vr::ETrackedPropertyError error = vr::TrackedProp_UnknownProperty;
    EXPECT_EQ(system.GetStringTrackedDeviceProperty(9, vr::Prop_SerialNumber_String, serial, sizeof serial, &error), 6u);
    EXPECT_EQ(error, vr::TrackedProp_Success);
    EXPECT_STREQ(serial, "LHR-1");

    EXPECT_EQ(received, (std::vector<std::string>{
                            Call("poses", vr::TrackingUniverseRawAndUncalibrated, 0.0125f, static_cast<void *>(poses), 64u),
                            Call("sorted", vr::TrackedDeviceClass_Controller, static_cast<void *>(indices), 64u, 5u),
                            Call("role", 63u), Call("poll", static_cast<void *>(&event), 64u), "acknowledge",
                            Call("class", 9u), Call("string", 9u, vr::Prop_SerialNumber_String, 128u)}));
}

template <class T>
T *Object(MsvcWinrtObject object)
{
    return static_cast<T *>(static_cast<IInspectable *>(msvc_winrt_object(object)));
}

constexpr GUID kUuid{0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

struct AbiCase {
    const char *name;
    std::function<HRESULT()> call;
    MsvcWinrtObject object;
    int32_t slot;
    uint64_t argument;
    bool guid;
};

// Catches: a call landing in another slot of Windows' table (a declaration out of order, the
// setter and getter of MaintainConnection swapped), and a GUID, enum or boolean that reaches
// Windows garbled or in the wrong register.
TEST(MsvcAbiWindowsRuntime, CallsReachWindowsSlotWithTheirArguments)
{
    void *out = reinterpret_cast<void *>(1);
    boolean flag = 0;
    const AbiCase cases[] = {
        {"services for a UUID", [&] { return Object<bleabi::IBluetoothLEDevice3>(MsvcWinrt_Device3)->GetGattServicesForUuidWithCacheModeAsync(
             kUuid, bleabi::BluetoothCacheMode::Uncached, reinterpret_cast<bleabi::IAsyncOperation_GattDeviceServicesResult **>(&out)); },
         MsvcWinrt_Device3, 11, 1, true},
        {"connected selector", [&] { return Object<bleabi::IBluetoothLEDeviceStatics2>(MsvcWinrt_DeviceStatics2)->GetDeviceSelectorFromConnectionStatus(
             bleabi::BluetoothConnectionStatus::Connected, reinterpret_cast<HSTRING *>(&out)); },
         MsvcWinrt_DeviceStatics2, 7, 1, false},
        {"can maintain", [&] { return Object<bleabi::IGattSession>(MsvcWinrt_Session)->get_CanMaintainConnection(&flag); },
         MsvcWinrt_Session, 7, 0, false},
        {"maintain on", [&] { return Object<bleabi::IGattSession>(MsvcWinrt_Session)->put_MaintainConnection(TRUE); },
         MsvcWinrt_Session, 8, 1, false},
        {"maintain off", [&] { return Object<bleabi::IGattSession>(MsvcWinrt_Session)->put_MaintainConnection(FALSE); },
         MsvcWinrt_Session, 8, 0, false},
    };
    for (const AbiCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), S_OK);
        MsvcWinrtCall call{};
        msvc_winrt_last_call(&call);
        EXPECT_EQ(call.object, c.object);
        EXPECT_EQ(call.slot, c.slot);
        EXPECT_EQ(call.argument, c.argument);
        if (c.guid) {
            EXPECT_EQ(std::memcmp(call.guid, &kUuid, sizeof kUuid), 0);
        }
    }
    EXPECT_EQ(flag, 1) << "the boolean Windows wrote";
    boolean on = 1;
    ASSERT_EQ(Object<bleabi::IGattSession>(MsvcWinrt_Session)->get_MaintainConnection(&on), S_OK);
    EXPECT_EQ(on, 0) << "the last MaintainConnection Windows was given";
}

} // namespace
