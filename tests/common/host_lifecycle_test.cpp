// What a runtime notices of the driver's entry point, provider and device: factory answers,
// interface fetching, announcement, properties, components and the device's small queries.
#include "DriverUnderTest.h"

#include <cstring>
#include <string>
#include <vector>

using testing_support::PrepareHost;

namespace {

const char *const kInitInterfaces[] = {"IVRServerDriverHost_006", "IVRSettings_003", "IVRProperties_001",
                                       "IVRDriverLog_001",        "IVRDriverManager_001", "IVRResources_001"};

// Catches: a factory that serves other names or versions, hands out a new object per call, or
// writes through a null code pointer.
TEST(Factory, ServesOnlyTheProviderInterfaceAndAlwaysTheSameObject)
{
    sim::SimHost host;
    PrepareHost(host);
    int code = 12345;
    void *first = host.CallFactory("IServerTrackedDeviceProvider_004", &code);
    void *second = host.CallFactory("IServerTrackedDeviceProvider_004", &code);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(code, 12345);

    for (const char *name : {"IServerTrackedDeviceProvider_003", "IServerTrackedDeviceProvider_005",
                             "iservertrackeddeviceprovider_004", "IServerTrackedDeviceProvider_004 ",
                             "IVRWatchdogProvider_001", ""}) {
        code = 0;
        EXPECT_EQ(host.CallFactory(name, &code), nullptr) << name;
        EXPECT_EQ(code, 105) << name;
        EXPECT_EQ(host.CallFactory(name, nullptr), nullptr) << name;
    }
    code = 0;
    EXPECT_EQ(host.CallFactory(nullptr, &code), nullptr);
    EXPECT_EQ(code, 105);
}

// Catches: a wrong or reordered interface version table.
TEST(Provider, ReportsTheInterfaceVersionsItWasBuiltAgainst)
{
    sim::SimHost host;
    PrepareHost(host);
    auto *provider = static_cast<vr::IServerTrackedDeviceProvider *>(
        host.CallFactory("IServerTrackedDeviceProvider_004", nullptr));
    ASSERT_NE(provider, nullptr);
    const char *const *versions = provider->GetInterfaceVersions();
    const std::vector<std::string> expected = {
        "IVRSettings_003",        "ITrackedDeviceServerDriver_005", "IVRDisplayComponent_002",
        "IVRDriverDirectModeComponent_007", "IVRCameraComponent_003", "IServerTrackedDeviceProvider_004",
        "IVRWatchdogProvider_001", "IVRVirtualDisplay_002", "IVRDriverManager_001",
        "IVRResources_001",       "IVRCompositorPluginProvider_001"};
    std::vector<std::string> reported;
    for (size_t i = 0; versions[i] != nullptr && i <= expected.size(); ++i)
        reported.push_back(versions[i]);
    EXPECT_EQ(reported, expected);
    EXPECT_FALSE(provider->ShouldBlockStandbyMode());
    provider->EnterStandby();
    provider->LeaveStandby();
}

class InitWithout : public ::testing::TestWithParam<int> {};

// Catches: fetching in the wrong order, going on after a missing interface, logging or announcing
// a device without a log or host, or refusing to start without the property interface.
TEST_P(InitWithout, FetchesInOrderAndStopsAtTheMissingInterface)
{
    const int missing = GetParam();
    sim::SimHost host;
    PrepareHost(host);
    host.Context().Withhold(kInitInterfaces[missing]);
    const vr::EVRInitError result = host.Init();

    const std::vector<std::string> fetched = host.Context().FetchedInterfaces();
    if (std::string(kInitInterfaces[missing]) == "IVRProperties_001") {
        EXPECT_EQ(result, vr::VRInitError_None);
        EXPECT_EQ(fetched.size(), 6u);
        EXPECT_EQ(host.Recorder().LogTexts(), std::vector<std::string>{"Initializing controller"});
        EXPECT_EQ(host.Recorder().Devices().size(), 1u);
        // Activating without properties must not call through a null interface.
        EXPECT_EQ(host.Activate(), vr::VRInitError_None);
        EXPECT_TRUE(host.Recorder().PropertyWrites().empty());
    } else {
        EXPECT_EQ(result, vr::VRInitError_Init_InterfaceNotFound);
        ASSERT_EQ(fetched.size(), static_cast<size_t>(missing + 1));
        EXPECT_TRUE(host.Recorder().LogTexts().empty());
        EXPECT_TRUE(host.Recorder().Devices().empty());
    }
    for (size_t i = 0; i < fetched.size() && i < 6; ++i)
        EXPECT_EQ(fetched[i], kInitInterfaces[i]);
}

INSTANTIATE_TEST_SUITE_P(EachHostInterface, InitWithout, ::testing::Range(0, 6));

// Catches: Init failing, or the device missing, when the host refuses the announcement.
TEST(Provider, InitAnnouncesOneControllerAndSucceedsEvenWhenRefused)
{
    for (bool accept : {true, false}) {
        sim::SimHost host;
        PrepareHost(host);
        host.Context().SetAcceptDevices(accept);
        EXPECT_EQ(host.Init(), vr::VRInitError_None);
        EXPECT_EQ(host.Recorder().LogTexts(), std::vector<std::string>{"Initializing controller"});
        const auto devices = host.Recorder().Devices();
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0].serial, "aaa_tarvolt_rq508_controller");
        EXPECT_EQ(devices[0].deviceClass, vr::TrackedDeviceClass_Controller);
        EXPECT_NE(devices[0].driver, nullptr);
        host.Shutdown();
    }
}

class ActivatedDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrepareHost(host);
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        device = host.Recorder().Devices().at(0).driver;
    }
    sim::SimHost host;
    vr::ITrackedDeviceServerDriver *device = nullptr;
};

// Catches: properties with a wrong id, tag, size or value, written on another container, or
// batched together instead of one write each.
TEST_F(ActivatedDevice, DeclaresTheFourPropertiesOnItsContainer)
{
    ASSERT_EQ(device->Activate(3), vr::VRInitError_None);
    const auto writes = host.Recorder().PropertyWrites();
    ASSERT_EQ(writes.size(), 4u);
    const std::string profile = "{tarvolt_rq508}/input/tarvolt_rq508_controller_profile.json";
    const std::string type = "aaa_tarvolt_rq508_controller";
    EXPECT_EQ(writes[0].prop, vr::Prop_InputProfilePath_String);
    EXPECT_EQ(writes[0].AsString(), profile);
    EXPECT_EQ(writes[1].prop, vr::Prop_ControllerType_String);
    EXPECT_EQ(writes[1].AsString(), type);
    EXPECT_EQ(writes[2].prop, vr::Prop_ControllerRoleHint_Int32);
    EXPECT_EQ(writes[2].AsInt32(), vr::TrackedControllerRole_Treadmill);
    EXPECT_EQ(writes[3].prop, vr::Prop_ControllerHandSelectionPriority_Int32);
    EXPECT_EQ(writes[3].AsInt32(), 999999);
    const size_t sizes[] = {profile.size() + 1, type.size() + 1, 4, 4};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(writes[i].tag, i < 2 ? vr::k_unStringPropertyTag : vr::k_unInt32PropertyTag) << i;
        EXPECT_EQ(writes[i].bytes.size(), sizes[i]) << i;
        EXPECT_EQ(writes[i].container, sim::HostContext::kContainerBase + 3) << i;
        EXPECT_EQ(writes[i].writeType, vr::PropertyWrite_Set) << i;
    }
    device->Deactivate();
}

// Catches: components missing, reordered, of the wrong kind or units, or on another container.
TEST_F(ActivatedDevice, CreatesTheSixComponentsInOrder)
{
    ASSERT_EQ(device->Activate(0), vr::VRInitError_None);
    const auto components = host.Recorder().Components();
    const std::vector<std::string> names = {"/input/fire/value", "/input/fire/click", "/input/eject_mag/click",
                                            "/input/load_mag/click", "/input/load_bullet/click",
                                            "/input/unload_bullet/click"};
    ASSERT_EQ(components.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(components[i].name, names[i]);
        EXPECT_EQ(components[i].container, sim::HostContext::kContainerBase + 0);
        EXPECT_EQ(components[i].kind, i == 0 ? sim::ComponentKind::Scalar : sim::ComponentKind::Boolean);
    }
    EXPECT_EQ(components[0].scalarType, vr::VRScalarType_Absolute);
    EXPECT_EQ(components[0].scalarUnits, vr::VRScalarUnits_NormalizedTwoSided);
    device->Deactivate();
}

// Catches: offering components a controller does not have, case-insensitive matching, a
// DebugRequest that writes past a zero-sized buffer, and a pose that is not all zero at first.
TEST_F(ActivatedDevice, AnswersComponentDebugAndPoseQueries)
{
    EXPECT_EQ(device->GetComponent("IVRDriverInput_003"), static_cast<void *>(device));
    EXPECT_EQ(device->GetComponent("IVRDisplayComponent_002"), nullptr);
    EXPECT_EQ(device->GetComponent("IVRDriverDirectModeComponent_007"), nullptr);
    EXPECT_EQ(device->GetComponent("IVRCameraComponent_003"), nullptr);
    EXPECT_EQ(device->GetComponent("ivrdriverinput_003"), nullptr);
    EXPECT_EQ(device->GetComponent(nullptr), nullptr);

    char buffer[4] = {'a', 'b', 'c', 'd'};
    device->DebugRequest("anything", buffer, 0);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    device->DebugRequest("anything", buffer, 1);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(std::string(buffer + 1, 3), "bcd");

    const vr::DriverPose_t pose = device->GetPose();
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&pose);
    for (size_t i = 0; i < sizeof pose; ++i)
        ASSERT_EQ(bytes[i], 0u) << "byte " << i;
}

// Catches: a crash or hang anywhere in the runtime's normal sequence, and a device that keeps
// publishing or updating after it was taken down.
TEST_F(ActivatedDevice, SurvivesTheRuntimesWholeSequence)
{
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    host.RunFrames(30);
    host.Deactivate();
    const size_t posesBefore = host.Recorder().PoseCount();
    const size_t updatesBefore = host.Recorder().Updates().size();
    host.RunFrames(5);
    EXPECT_EQ(host.Recorder().PoseCount(), posesBefore);
    EXPECT_EQ(host.Recorder().Updates().size(), updatesBefore);
    host.Cleanup();
    host.Unload();
}

// Catches: a runtime without the input interface making activation call through null.
TEST(Provider, ActivatesWithoutTheInputInterface)
{
    sim::SimHost host;
    PrepareHost(host);
    host.Context().Withhold("IVRDriverInput_003");
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    EXPECT_EQ(host.Activate(), vr::VRInitError_None);
    EXPECT_TRUE(host.Recorder().Components().empty());
    EXPECT_EQ(host.Recorder().PropertyWrites().size(), 4u);
    host.RunFrames(3);
    host.Shutdown();
}

} // namespace
