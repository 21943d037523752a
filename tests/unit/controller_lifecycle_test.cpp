// The device's own state through activation and deactivation, which the runtime cannot see.
#include "ControllerDriver.h"
#include "DeviceProvider.h"
#include "SimHost.h"
#include "bluetooth/StopSignal.h"

#include <gtest/gtest.h>

namespace {

class Controller : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.UseFactory(&tarvolt::ProviderFactory);
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        controller = tarvolt::deviceProvider.controller;
        ASSERT_NE(controller, nullptr);
    }
    sim::SimHost host;
    tarvolt::ControllerDriver *controller = nullptr;
};

// Catches: handles not stored in the fields the frame update uses or stored crosswise, an index
// left valid after deactivation, a second Activate moving a new thread onto a joinable one (which
// ends the process), a worker left attached, and the exception that joining an empty std::thread
// throws when no worker was ever started.
TEST_F(Controller, ActivationStoresIndexAndHandlesAndDeactivationUndoesThem)
{
    EXPECT_NO_THROW(controller->Deactivate());
    EXPECT_EQ(controller->deviceIndex, vr::k_unTrackedDeviceIndexInvalid);

    ASSERT_EQ(controller->Activate(7), vr::VRInitError_None);
    EXPECT_EQ(controller->deviceIndex, 7u);
    const sim::HostRecorder &r = host.Recorder();
    EXPECT_EQ(r.ComponentName(controller->fireValueHandle), "/input/fire/value");
    EXPECT_EQ(r.ComponentName(controller->fireClickHandle), "/input/fire/click");
    EXPECT_EQ(r.ComponentName(controller->ejectMagClickHandle), "/input/eject_mag/click");
    EXPECT_EQ(r.ComponentName(controller->loadMagClickHandle), "/input/load_mag/click");
    EXPECT_EQ(r.ComponentName(controller->loadBulletClickHandle), "/input/load_bullet/click");
    EXPECT_EQ(r.ComponentName(controller->unloadBulletClickHandle), "/input/unload_bullet/click");
    const std::thread::id worker = controller->workerThread.get_id();
    ASSERT_EQ(controller->Activate(7), vr::VRInitError_None);
    EXPECT_EQ(controller->workerThread.get_id(), worker);

    controller->Deactivate();
    EXPECT_EQ(controller->deviceIndex, vr::k_unTrackedDeviceIndexInvalid);
    EXPECT_FALSE(controller->workerThread.joinable());
}

// Catches: Cleanup destroying a device whose worker is still attached (std::terminate).
TEST_F(Controller, CleanupWithoutDeactivateStopsTheWorker)
{
    ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
    tarvolt::deviceProvider.Cleanup();
    EXPECT_EQ(tarvolt::deviceProvider.controller, nullptr);
    tarvolt::deviceProvider.Cleanup();  // a second Cleanup finds nothing to do
}

// Catches: a worker stop signal that is a one-way latch (every later worker's waits would end at
// once) or that a new worker does not find re-armed, a Deactivate that does not raise it, and a
// cycle that leaves a worker attached.
TEST_F(Controller, EveryActivationRearmsTheStopSignalThatItsDeactivationRaises)
{
    tarvolt::radio::StopSignal &stop = tarvolt::radio::WorkerStop();
    for (int cycle = 0; cycle < 100; ++cycle) {
        ASSERT_EQ(controller->Activate(0), vr::VRInitError_None);
        ASSERT_FALSE(stop.Raised()) << "cycle " << cycle;
        controller->Deactivate();
        ASSERT_TRUE(stop.Raised()) << "cycle " << cycle;
        ASSERT_FALSE(controller->workerThread.joinable()) << "cycle " << cycle;
    }
}

} // namespace
