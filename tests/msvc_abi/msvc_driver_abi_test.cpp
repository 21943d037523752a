// The built driver library as SteamVR calls it: every call between the runtime and the driver
// has its runtime half compiled for the MSVC ABI (MsvcDriverRuntime.cpp), as vrserver.exe is
// built, and its driver half is the shipped MinGW build. What a mismatch of the two ABIs breaks
// (a structure returned by value, bool, float and double arguments, enum results, the slots the
// calls land in) shows here as a wrong value, an overwritten object or a crash.
#include "DriverLayouts.h"
#include "MsvcRuntimeHost.h"
#include "PoseSamples.h"
#include "ProgramRun.h"
#include "SharedPose.h"
#include "WellFormedPose.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Slot = std::pair<int32_t, int32_t>;  // MsvcInterface, slot

// Every runtime slot the driver called since the host was made.
std::set<Slot> SlotsCalled()
{
    std::set<Slot> called;
    for (int32_t iface = 0; iface < MsvcInterface_Count; ++iface)
        for (int32_t slot = 0; slot < MSVC_MAX_SLOTS; ++slot)
            if (msvc_runtime_slot_calls(iface, slot) != 0)
                called.insert({iface, slot});
    return called;
}

bool SameBytes(const vr::DriverPose_t &a, const vr::DriverPose_t &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The pose the driver publishes for a record (the samples are not valid and carry no rotation).
vr::DriverPose_t Published(const vr::TrackedDevicePose_t &record)
{
    tarvolt::RecordFault fault = tarvolt::RecordFault::None;
    return tarvolt::WellFormedPose(record, tarvolt::Mounting{}, fault);
}

// Writes a record into the block the driver created, as the relay does.
void Publish(void *view, const vr::TrackedDevicePose_t &record)
{
    auto &block = *static_cast<tarvolt::SharedPose *>(view);
    tarvolt::AcquirePoseLock(block.lock);
    std::memcpy(static_cast<void *>(&block.pose), &record, sizeof record);
    tarvolt::ReleasePoseLock(block.lock);
}

// Catches, in the shipped library as the runtime calls it: a factory whose return code does not
// reach the caller, a provider or device slot that lands elsewhere (a different answer, or a
// crash), properties, components or their enum arguments that arrive wrong, a first pose that is
// not all zero; GetPose under the MSVC convention handing back anything but the pose the last
// frame published, or writing it over the device object (the next call then crashes); a pose
// published through TrackedDevicePoseUpdated that is not the conversion of the block's record;
// and a driver that calls runtime slots other than the ones it means (announcement, pose,
// property writes and container, log, components, and the settings' whole-number and float
// reads).
TEST(MsvcAbiShippedLibrary, AnswersTheRuntimesCallsAndCallsOnlyTheSlotsItMeans)
{
    testing_support::RemoveLeftoverPoseBlock();
    msvc_abi::MsvcRuntimeHost host;
    ASSERT_TRUE(host.Load(false)) << host.Error();

    int32_t code = 12345;
    EXPECT_NE(host.CallFactory("IServerTrackedDeviceProvider_004", &code), nullptr);
    EXPECT_EQ(code, 12345);
    EXPECT_EQ(host.CallFactory("IVRWatchdogProvider_001", &code), nullptr);
    EXPECT_EQ(code, vr::VRInitError_Init_InterfaceNotFound);

    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    const char *const *versions = msvc_provider_interface_versions(host.Provider());
    ASSERT_NE(versions, nullptr);
    EXPECT_STREQ(versions[0], "IVRSettings_003");
    EXPECT_STREQ(versions[5], "IServerTrackedDeviceProvider_004");
    EXPECT_EQ(versions[11], nullptr);
    EXPECT_EQ(host.Context().FetchedInterfaces(),
              (std::vector<std::string>{"IVRServerDriverHost_006", "IVRSettings_003", "IVRProperties_001",
                                        "IVRDriverLog_001", "IVRDriverManager_001", "IVRResources_001"}));
    const auto devices = host.Recorder().Devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].serial, "aaa_tarvolt_rq508_controller");
    EXPECT_EQ(devices[0].deviceClass, vr::TrackedDeviceClass_Controller);

    ASSERT_EQ(host.Activate(3), vr::VRInitError_None);
    const auto writes = host.Recorder().PropertyWrites();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].container, sim::HostContext::kContainerBase + 3);
    EXPECT_EQ(writes[0].prop, vr::Prop_InputProfilePath_String);
    EXPECT_EQ(writes[0].tag, vr::k_unStringPropertyTag);
    EXPECT_EQ(writes[0].AsString(), "{tarvolt_rq508}/input/tarvolt_rq508_controller_profile.json");
    EXPECT_EQ(writes[2].prop, vr::Prop_ControllerRoleHint_Int32);
    EXPECT_EQ(writes[2].AsInt32(), vr::TrackedControllerRole_Treadmill);
    EXPECT_EQ(writes[3].AsInt32(), 999999);
    const auto components = host.Recorder().Components();
    ASSERT_EQ(components.size(), 6u);
    EXPECT_EQ(components[0].name, "/input/fire/value");
    EXPECT_EQ(components[0].kind, sim::ComponentKind::Scalar);
    EXPECT_EQ(components[0].scalarType, vr::VRScalarType_Absolute);
    EXPECT_EQ(components[0].scalarUnits, vr::VRScalarUnits_NormalizedTwoSided);
    EXPECT_EQ(components[5].name, "/input/unload_bullet/click");
    EXPECT_EQ(components[5].container, sim::HostContext::kContainerBase + 3);

    vr::DriverPose_t pose;
    std::memset(static_cast<void *>(&pose), 0xAB, sizeof pose);
    ASSERT_TRUE(host.GetPose(pose)) << "GetPose wrote over the device object";
    const auto *bytes = reinterpret_cast<const unsigned char *>(&pose);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof pose, [](unsigned char b) { return b == 0; })) << "the pose before the first frame";
    // The small queries of the device and the provider, each answered across the boundary.
    EXPECT_EQ(msvc_device_get_component(host.Device(), "IVRDriverInput_003"), host.Device());
    EXPECT_EQ(msvc_device_get_component(host.Device(), "IVRDisplayComponent_002"), nullptr);
    char buffer[4] = {'a', 'b', 'c', 'd'};
    msvc_device_debug_request(host.Device(), "status", buffer, 0);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    msvc_device_debug_request(host.Device(), "status", buffer, 1);
    EXPECT_EQ(std::string(buffer, 4), std::string("\0bcd", 4));
    msvc_device_enter_standby(host.Device());
    EXPECT_EQ(msvc_provider_should_block_standby(host.Provider()), 0);
    msvc_provider_enter_standby(host.Provider());
    msvc_provider_leave_standby(host.Provider());

    tarvolt::PoseBlockHandle mapping = tarvolt::OpenPoseBlockMapping();
    void *view = tarvolt::MapPoseBlock(mapping);
    ASSERT_NE(view, nullptr);
    for (const float sample : {1.5f, -4.0f}) {
        Publish(view, testing_support::SamplePose(sample));
        host.RunFrame();
        sim::PoseRecord published;
        ASSERT_TRUE(host.Recorder().LastPose(published));
        EXPECT_EQ(published.deviceIndex, 3u);
        EXPECT_EQ(published.size, 280u);
        EXPECT_TRUE(SameBytes(published.pose, Published(testing_support::SamplePose(sample))));
        for (int call = 0; call < 2; ++call) {  // a second GetPose in the same frame gives the same
            ASSERT_TRUE(host.GetPose(pose)) << "GetPose wrote over the device object";
            EXPECT_TRUE(SameBytes(pose, published.pose)) << "GetPose did not return the last frame's pose";
        }
    }
    tarvolt::UnmapPoseBlock(view);
    tarvolt::ClosePoseBlockMapping(mapping);
    host.Deactivate();
    EXPECT_EQ(host.Recorder().CountLog("Vistrel process terminated.") +
                  host.Recorder().CountLog("Failed to terminate Vistrel process, the process may not exist."),
              1u);
    host.Cleanup();
    testing_support::RemoveLeftoverPoseBlock();

    const std::set<Slot> expected = {
        {MsvcInterface_Context, 0},          {MsvcInterface_ServerDriverHost, 0}, {MsvcInterface_ServerDriverHost, 1},
        {MsvcInterface_Properties, 1},       {MsvcInterface_Properties, 3},       {MsvcInterface_DriverLog, 0},
        {MsvcInterface_DriverInput, 0},      {MsvcInterface_DriverInput, 2},      {MsvcInterface_Settings, 6},
        {MsvcInterface_Settings, 7}};
    EXPECT_EQ(SlotsCalled(), expected);
}

// Catches: an Init result (an enum) that reaches the runtime as something else than 105 when an
// interface is missing, and a driver that goes on to announce its device then.
TEST(MsvcAbiShippedLibrary, ReportsAMissingInterfaceAsTheInitResult)
{
    msvc_abi::MsvcRuntimeHost host;
    ASSERT_TRUE(host.Load(false)) << host.Error();
    host.Context().Withhold("IVRDriverLog_001");
    EXPECT_EQ(host.Init(), vr::VRInitError_Init_InterfaceNotFound);
    EXPECT_TRUE(host.Recorder().Devices().empty());
    EXPECT_EQ(msvc_runtime_slot_calls(MsvcInterface_ServerDriverHost, 0), 0u);
}

// Catches: settings whose values or errors do not survive the MSVC ABI (a float result read from
// the wrong register, an error code lost, a string not written), so that a set mount is not
// applied, an unset key is taken for a bad one, or a bad value is told wrongly.
TEST(MsvcAbiShippedLibrary, SettingsCrossTheAbiIntact)
{
    msvc_abi::MsvcRuntimeHost host;
    ASSERT_TRUE(host.Load(false)) << host.Error();
    host.Context().SetFloat("driver_tarvolt_rq508", "mountOffsetZMeters", 0.0f, nullptr);
    host.Context().SetInt32("driver_tarvolt_rq508", "mountPitchDegrees", 0, nullptr);
    host.Context().SetString("driver_tarvolt_rq508", "mountRollDegrees", "level", nullptr);
    host.Context().SetInt32("driver_tarvolt_rq508", "pressFrames", 251, nullptr);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(0), vr::VRInitError_None);
    EXPECT_EQ(host.Recorder().CountLog("Setting mountRollDegrees = \"level\" is not a number; using the default 0."), 1u);
    EXPECT_EQ(host.Recorder().CountLog(
                  "Setting pressFrames = 251 is out of range (allowed 1 to 250); using the default 20."),
              1u);
    EXPECT_EQ(host.Recorder().CountLogPrefix("Setting "), 2u);
    host.RunFrames(2);
    sim::PoseRecord last;
    ASSERT_TRUE(host.Recorder().LastPose(last));
    // A block never written, with neither shift nor turn: the controller unturned, and no mounting
    // turn on top (the built-in one would show as (cos 15, -sin 15, 0, 0)).
    EXPECT_EQ(last.pose.qRotation.w, 1.0);
    EXPECT_EQ(last.pose.qRotation.x, 0.0);
    EXPECT_EQ(msvc_runtime_slot_calls(MsvcInterface_Settings, 8), 1u);  // the bad roll's text
    host.Shutdown();
}


} // namespace
