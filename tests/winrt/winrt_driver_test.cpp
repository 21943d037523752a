// The driver with its Windows Runtime radio, linked into this program, against fake platform
// objects under Wine: what a platform operation that never finishes does to the runtime's
// shutdown, and what Cleanup does while the platform still holds a callback of ours.
#include "DeviceProvider.h"
#include "FakePlatform.h"
#include "SimHost.h"
#include "bluetooth/winrt/Delegates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace fakes;

namespace {

constexpr std::chrono::seconds kLimit{30};  // a bound on waiting for events, not a speed check
constexpr UINT64 kAddress = 0xAABBCCDDEEFFull;
const std::string kKeptLoaded = "Bluetooth callbacks are still held by the platform; the driver stays loaded.";

using DeviceOperation = bleabi::IAsyncOperation_BluetoothLEDevice;

// Catches: a Deactivate that waits for ever on a Bluetooth operation that never finishes (the
// simulated server's watchdog fails the test after 2 s: SteamVR would hang at shutdown and end
// the server), an operation left running without a Cancel, a step that does not fail through
// its normal path, and a library left to be unloaded while the platform still holds one of our
// handlers (its late release would run unmapped code): Cleanup keeps it loaded and says so.
TEST(WinrtDriver, DeactivationCancelsAConnectionThatNeverFinishesAndCleanupKeepsTheLibrary)
{
    FakePlatform platform;
    auto connect = ComRef<DeviceOperation>::Attach(new FakeAsyncOperation<DeviceOperation>(Finish::Never, Completed, nullptr));
    auto *connectFake = static_cast<FakeAsyncOperation<DeviceOperation> *>(connect.Get());
    platform.deviceStatics->deviceOperation = connect;

    sim::SimHost host;
    host.UseFactory(&tarvolt::ProviderFactory);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Starting the advertisement watcher.", kLimit));
    HRESULT advertised = E_FAIL;
    std::thread([&] {
        advertised = platform.watcher->received.Raise(platform.watcher.Get(),
                                                      Make<FakeReceivedArgs>(L"Rifle Q508", kAddress).Get());
    }).join();
    ASSERT_EQ(advertised, S_OK);
    ASSERT_TRUE(connectFake->WaitForHandler(kLimit)) << "the worker did not wait for the device";

    host.Deactivate();
    EXPECT_EQ(connectFake->cancelCalls, 1);
    EXPECT_EQ(recorder.CountLog("Failed to connect to device: 187723572702975"), 1u);
    EXPECT_EQ(recorder.CountLog(kKeptLoaded), 0u);
    host.Cleanup();
    EXPECT_EQ(recorder.CountLog(kKeptLoaded), 1u);
    host.Unload();
}

// Catches: a library kept loaded for no reason (callbacks counted that no one holds any more)
// once the platform has let go of everything the worker gave it.
TEST(WinrtDriver, CleanupAfterASessionWhoseCallbacksWereAllReleasedKeepsNothing)
{
    FakePlatform platform;
    auto device = Make<FakeDevice>(L"Rifle Q508");
    platform.deviceStatics->deviceOperation = Operation<DeviceOperation>(Finish::OnAnotherThread, device.Get());
    device->servicesOperation = Operation<bleabi::IAsyncOperation_GattDeviceServicesResult>(
        Finish::OnAnotherThread,
        Make<FakeServicesResult>(bleabi::GattCommunicationStatus::Unreachable,
                                 std::vector<ComRef<bleabi::IGattDeviceService>>{})
            .Get());

    sim::SimHost host;
    host.UseFactory(&tarvolt::ProviderFactory);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Starting the advertisement watcher.", kLimit));
    std::thread([&] {
        platform.watcher->received.Raise(platform.watcher.Get(), Make<FakeReceivedArgs>(L"Rifle Q508", kAddress).Get());
    }).join();
    ASSERT_TRUE(recorder.WaitForLog("Failed to get GATT services.", kLimit));

    host.Deactivate();
    // The platform lets go of the device the driver closed and of the finished operation.
    platform.deviceStatics->deviceOperation.Reset();
    device.Reset();
    host.Cleanup();
    EXPECT_EQ(recorder.CountLog(kKeptLoaded), 0u);
    EXPECT_EQ(tarvolt::radio::winrt::liveDelegates, 0);
}

} // namespace
