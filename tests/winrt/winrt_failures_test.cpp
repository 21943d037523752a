// Each way the platform can fail the Windows Runtime backend, against fake platform objects:
// activation, waits that end cancelled or in error, failed statuses, and errors inside handlers.
#include "FakePlatform.h"
#include "bluetooth/StopSignal.h"
#include "bluetooth/winrt/Delegates.h"
#include "bluetooth/winrt/WinrtObjects.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>
#include <tuple>

using namespace tarvolt::radio;
using namespace fakes;

namespace {

constexpr GUID kUuid{0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr HRESULT kNotConnected = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

template <class Op>
ComRef<Op> Ending(Finish finish, AsyncStatus outcome, HRESULT code = S_OK)
{
    return ComRef<Op>::Attach(new FakeAsyncOperation<Op>(finish, outcome, typename Op::Result{}, code));
}

// What the platform relies on in every handler we give it: it may call from any thread without
// marshaling (IAgileObject), and it asks for exactly the instance's IID.
template <class Iface>
void ExpectFreeThreadedHandler(const ComRef<Iface> &handler)
{
    ASSERT_TRUE(handler);
    for (const IID &iid : {__uuidof(Iface), __uuidof(IUnknown), __uuidof(IAgileObject)}) {
        IUnknown *out = nullptr;
        EXPECT_EQ(handler->QueryInterface(iid, reinterpret_cast<void **>(&out)), S_OK);
        if (out)
            out->Release();
    }
    void *out = reinterpret_cast<void *>(1);
    EXPECT_EQ(handler->QueryInterface(__uuidof(IInspectable), &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

ResultCode CodeOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const PlatformError &e) {
        return e.Code();
    }
    return kOk;
}

// Catches: no retry after CO_E_NOTINITIALIZED (the watcher would never exist on a thread that
// is in no apartment), a retry without CoIncrementMTAUsage, retrying for ever, and retrying or
// swallowing other failures such as a class that is not registered.
TEST(WinrtActivation, RetriesOnceInsideTheMultithreadedApartmentAndOnlyForNotInitialized)
{
    FakePlatform platform;
    Radio &radio = PlatformRadio();

    platform.failures = {CO_E_NOTINITIALIZED};
    EXPECT_TRUE(radio.CreateWatcher());
    EXPECT_EQ(platform.mtaIncrements, 1);
    EXPECT_EQ(platform.requests, (std::vector<std::wstring>(2, tarvolt::radio::winrt::kWatcherClass)));

    platform.failures = {CO_E_NOTINITIALIZED};
    platform.deviceStatics->deviceOperation = Operation<bleabi::IAsyncOperation_BluetoothLEDevice>(Finish::Already, nullptr);
    EXPECT_EQ(radio.FromBluetoothAddress(1), nullptr) << "a null device is no device";
    EXPECT_EQ(platform.mtaIncrements, 2);

    platform.requests.clear();
    platform.failures = {CO_E_NOTINITIALIZED, CO_E_NOTINITIALIZED};
    EXPECT_EQ(CodeOf([&] { radio.CreateWatcher(); }), kNotInitialized);
    EXPECT_EQ(platform.requests.size(), 2u);
    EXPECT_EQ(platform.mtaIncrements, 3);

    platform.requests.clear();
    platform.instances.clear();
    platform.factories.clear();
    EXPECT_EQ(CodeOf([&] { radio.CreateWatcher(); }), kClassNotRegistered);
    EXPECT_EQ(CodeOf([&] { radio.FromBluetoothAddress(1); }), kClassNotRegistered);
    EXPECT_EQ(platform.requests.size(), 2u);
    EXPECT_EQ(platform.mtaIncrements, 3);
}

class WinrtWait : public testing::TestWithParam<Finish> {};

// Catches: a cancelled or failed operation taken as a result (GetResults on an unfinished
// operation, a null device taken as found), an error code lost on the way, and failed statuses
// reported as success or followed by a read of the missing list.
TEST_P(WinrtWait, CancelledAndFailedOperationsRaiseAndFailedStatusesAreReported)
{
    const Finish finish = GetParam();
    {
        FakePlatform platform;
        Radio &radio = PlatformRadio();
        auto &statics = platform.deviceStatics;

        statics->deviceOperation = Ending<bleabi::IAsyncOperation_BluetoothLEDevice>(finish, Canceled);
        EXPECT_EQ(CodeOf([&] { radio.FromBluetoothAddress(1); }), kCanceled);
        statics->deviceOperation = Ending<bleabi::IAsyncOperation_BluetoothLEDevice>(finish, Error, kNotConnected);
        EXPECT_EQ(CodeOf([&] { radio.FromBluetoothAddress(1); }), kNotConnected);

        auto fakeDevice = Make<FakeDevice>(L"");
        statics->deviceOperation = Operation<bleabi::IAsyncOperation_BluetoothLEDevice>(finish, fakeDevice.Get());
        auto device = radio.FromBluetoothAddress(1);
        ASSERT_TRUE(device);
        EXPECT_EQ(device->Name(), u"") << "a device without a name";
        fakeDevice->servicesOperation = Operation<bleabi::IAsyncOperation_GattDeviceServicesResult>(finish,
            Make<FakeServicesResult>(bleabi::GattCommunicationStatus::Unreachable, std::vector<ComRef<bleabi::IGattDeviceService>>{
                Make<FakeService>(kUuid)}).Get());
        ServicesResult services = device->GetGattServices();
        EXPECT_EQ(services.status, CommunicationStatus::Unreachable);
        EXPECT_TRUE(services.services.empty());
        fakeDevice->servicesOperation = Ending<bleabi::IAsyncOperation_GattDeviceServicesResult>(finish, Error, kNotConnected);
        EXPECT_EQ(CodeOf([&] { device->GetGattServices(); }), kNotConnected);

        auto fakeService = Make<FakeService>(kUuid);
        fakeDevice->servicesOperation = Operation<bleabi::IAsyncOperation_GattDeviceServicesResult>(finish,
            Make<FakeServicesResult>(bleabi::GattCommunicationStatus::Success, std::vector<ComRef<bleabi::IGattDeviceService>>{fakeService}).Get());
        auto service = device->GetGattServices().services.at(0);
        fakeService->characteristicsOperation = Operation<bleabi::IAsyncOperation_GattCharacteristicsResult>(finish,
            Make<FakeCharacteristicsResult>(bleabi::GattCommunicationStatus::AccessDenied, std::vector<ComRef<bleabi::IGattCharacteristic>>{}).Get());
        EXPECT_EQ(service->GetCharacteristics().status, CommunicationStatus::AccessDenied);
        fakeService->characteristicsOperation = Ending<bleabi::IAsyncOperation_GattCharacteristicsResult>(finish, Canceled);
        EXPECT_EQ(CodeOf([&] { service->GetCharacteristics(); }), kCanceled);

        auto fakeCharacteristic = Make<FakeCharacteristic>(kUuid);
        fakeService->characteristicsOperation = Operation<bleabi::IAsyncOperation_GattCharacteristicsResult>(finish,
            Make<FakeCharacteristicsResult>(bleabi::GattCommunicationStatus::Success, std::vector<ComRef<bleabi::IGattCharacteristic>>{fakeCharacteristic}).Get());
        auto characteristic = service->GetCharacteristics().characteristics.at(0);
        fakeCharacteristic->writeOperation = Operation<bleabi::IAsyncOperation_GattCommunicationStatus>(finish, bleabi::GattCommunicationStatus::ProtocolError);
        EXPECT_EQ(characteristic->WriteClientCharacteristicConfigurationDescriptor(CccdValue::Notify), CommunicationStatus::ProtocolError);
        fakeCharacteristic->writeOperation = Ending<bleabi::IAsyncOperation_GattCommunicationStatus>(finish, Error, kNotConnected);
        EXPECT_EQ(CodeOf([&] { characteristic->WriteClientCharacteristicConfigurationDescriptor(CccdValue::Notify); }), kNotConnected);

        fakeDevice->statusResult = kNotConnected;
        EXPECT_EQ(CodeOf([&] { device->GetConnectionStatus(); }), kNotConnected);
        platform.watcher->startResult = kNotConnected;
        EXPECT_EQ(CodeOf([&] { radio.CreateWatcher()->Start(); }), kNotConnected);
    }
    EXPECT_EQ(liveObjects, 0);
}

INSTANTIATE_TEST_SUITE_P(Finishing, WinrtWait, testing::Values(Finish::Already, Finish::InsidePutCompleted, Finish::OnAnotherThread),
                         [](const testing::TestParamInfo<Finish> &info) { return std::string(FinishName(info.param)); });

using DeviceOperation = bleabi::IAsyncOperation_BluetoothLEDevice;

// Catches: a wait that ignores the worker's stop signal (Deactivate would hang on an operation
// that does not finish, and SteamVR end the server), an operation left running without a
// Cancel, a stopped wait reported as anything but a cancelled operation, and a finished
// operation's result thrown away because the stop came too.
TEST(WinrtWaitStopped, EndsAtTheStopSignalAndCancelsTheOperation)
{
    tarvolt::radio::StopSignal &stop = tarvolt::radio::WorkerStop();
    stop.Rearm();
    {
        FakePlatform platform;
        Radio &radio = PlatformRadio();

        // Raised while the worker waits.
        auto waited = Ending<DeviceOperation>(Finish::Never, Completed);
        auto *waitedFake = static_cast<FakeAsyncOperation<DeviceOperation> *>(waited.Get());
        platform.deviceStatics->deviceOperation = waited;
        std::thread host([&] {
            if (waitedFake->WaitForHandler(std::chrono::seconds(30)))
                stop.Raise();
        });
        EXPECT_EQ(CodeOf([&] { radio.FromBluetoothAddress(1); }), kCanceled);
        host.join();
        EXPECT_EQ(waitedFake->cancelCalls, 1);
        EXPECT_EQ(tarvolt::radio::winrt::liveDelegates, 1) << "the unfinished operation still holds its handler";
        ExpectFreeThreadedHandler(waitedFake->handler_);

        // Raised before the wait: nothing is handed to the operation.
        auto late = Ending<DeviceOperation>(Finish::Never, Completed);
        auto *lateFake = static_cast<FakeAsyncOperation<DeviceOperation> *>(late.Get());
        platform.deviceStatics->deviceOperation = late;
        EXPECT_EQ(CodeOf([&] { radio.FromBluetoothAddress(1); }), kCanceled);
        EXPECT_EQ(lateFake->cancelCalls, 1);
        EXPECT_EQ(lateFake->putCompletedCalls, 0);

        auto device = Make<FakeDevice>(L"Rifle Q508");
        platform.deviceStatics->deviceOperation = Operation<DeviceOperation>(Finish::Already, device.Get());
        EXPECT_TRUE(radio.FromBluetoothAddress(1)) << "an operation that has finished gives its result";
    }
    stop.Rearm();
    EXPECT_EQ(liveObjects, 0);
    EXPECT_EQ(tarvolt::radio::winrt::liveDelegates, 0);
}

// Catches: an exception thrown across the platform's call (it would end the runtime's process),
// a failure code that does not reach the platform, including a data reader that cannot be made
// because the class is not registered, and handlers that do not outlive our watcher's wrapper
// (the platform keeps them and may still raise its events).
TEST(WinrtHandlers, TurnErrorsIntoTheirResultCode)
{
    FakePlatform platform;
    Radio &radio = PlatformRadio();
    auto watcher = radio.CreateWatcher();
    watcher->AddReceived([](Watcher &, AdvertisementReceivedArgs &) -> ResultCode { throw PlatformError(kNotConnected); });
    watcher->AddStopped([](Watcher &) -> ResultCode { throw std::runtime_error("not a platform error"); });
    watcher.reset();
    EXPECT_EQ(platform.watcher->RaiseReceived(L"x", 1), kNotConnected);
    EXPECT_EQ(platform.watcher->RaiseStopped(), E_FAIL);

    auto fakeCharacteristic = Make<FakeCharacteristic>(kUuid);
    fakeCharacteristic->writeOperation = Operation<bleabi::IAsyncOperation_GattCommunicationStatus>(Finish::Already, {});
    tarvolt::radio::winrt::WinrtCharacteristic characteristic(fakeCharacteristic);
    bool reached = false;
    characteristic.AddValueChanged([&](Characteristic &, ValueChangedArgs &args) {
        reached = true;
        args.UnconsumedBufferLength();
        return kOk;
    });
    platform.factories.erase(tarvolt::radio::winrt::kDataReaderClass);
    EXPECT_EQ(fakeCharacteristic->RaiseValueChanged({1}), kClassNotRegistered);
    EXPECT_TRUE(reached);
}

// Catches: a handler the platform cannot call from its own threads (not agile) or that answers
// for the wrong IID, a handler run with a null sender (it would dereference it inside the
// platform's call), a null argument let through to a handler that reads it, an empty
// notification read into a null array, an advertisement's name, address or signal strength
// misread, and a scan the platform aborted taken for a running one. The null Object argument
// of ConnectionStatusChanged is the one Windows passes, and must reach the handler.
TEST(WinrtHandlers, RefuseNullSendersAndNullArgumentsTheyWouldRead)
{
    FakePlatform platform;
    Radio &radio = PlatformRadio();
    int calls = 0;
    auto watcher = radio.CreateWatcher();
    std::vector<std::tuple<std::u16string, uint64_t, std::optional<int16_t>>> heard;
    watcher->AddReceived([&](Watcher &, AdvertisementReceivedArgs &args) {
        heard.emplace_back(args.LocalName(), args.BluetoothAddress(), args.SignalStrength());
        return kOk;
    });
    watcher->AddStopped([&](Watcher &) { return ++calls, kOk; });
    auto fakeDevice = Make<FakeDevice>(L"");
    tarvolt::radio::winrt::WinrtDevice device(fakeDevice);
    device.AddConnectionStatusChanged([&](Device &) { return ++calls, kOk; });
    auto fakeCharacteristic = Make<FakeCharacteristic>(kUuid);
    tarvolt::radio::winrt::WinrtCharacteristic characteristic(fakeCharacteristic);
    std::vector<std::vector<uint8_t>> notifications;
    characteristic.AddValueChanged([&](Characteristic &, ValueChangedArgs &args) {
        std::vector<uint8_t> bytes(args.UnconsumedBufferLength());
        args.ReadBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
        notifications.push_back(bytes);
        return kOk;
    });
    ExpectFreeThreadedHandler(platform.watcher->received.Handlers().at(0));
    ExpectFreeThreadedHandler(platform.watcher->stopped.Handlers().at(0));
    ExpectFreeThreadedHandler(fakeDevice->statusChanged.Handlers().at(0));
    ExpectFreeThreadedHandler(fakeCharacteristic->valueChanged.Handlers().at(0));

    EXPECT_EQ(platform.watcher->received.Raise(platform.watcher.Get(), static_cast<bleabi::IBluetoothLEAdvertisementReceivedEventArgs *>(nullptr)), E_POINTER);
    EXPECT_EQ(platform.watcher->received.Raise(static_cast<bleabi::IBluetoothLEAdvertisementWatcher *>(nullptr), Make<FakeReceivedArgs>(L"x", 1).Get()), E_POINTER);
    EXPECT_EQ(platform.watcher->stopped.Raise(platform.watcher.Get(), static_cast<bleabi::IBluetoothLEAdvertisementWatcherStoppedEventArgs *>(nullptr)), E_POINTER);
    EXPECT_EQ(fakeCharacteristic->valueChanged.Raise(fakeCharacteristic.Get(), static_cast<bleabi::IGattValueChangedEventArgs *>(nullptr)), E_POINTER);
    EXPECT_EQ(fakeDevice->statusChanged.Raise(static_cast<bleabi::IBluetoothLEDevice *>(nullptr), static_cast<IInspectable *>(nullptr)), E_POINTER);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(fakeDevice->RaiseStatusChanged(bleabi::BluetoothConnectionStatus::Disconnected), S_OK);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(platform.watcher->RaiseReceived(L"", 0x0102, -90), S_OK);
    EXPECT_EQ(platform.watcher->RaiseReceived(L"Rifle Q508", 0xAABBCCDDEEFFull, -47), S_OK);
    EXPECT_EQ(heard, (decltype(heard){{u"", 0x0102, -90}, {u"Rifle Q508", 0xAABBCCDDEEFFull, -47}}));
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(fakeCharacteristic->RaiseValueChanged({}), S_OK);
    EXPECT_EQ(notifications, std::vector<std::vector<uint8_t>>(1));
    platform.watcher->status = bleabi::BluetoothLEAdvertisementWatcherStatus::Aborted;
    EXPECT_EQ(watcher->Status(), WatcherStatus::Aborted);
}

// Catches: a failing apartment entry ignored (the worker would then call the platform from a
// single-threaded apartment it does not pump), or "already entered" (S_FALSE) taken as failure.
TEST(WinrtApartment, EntersTheMultithreadedApartmentAndReportsAConflict)
{
    std::thread([] {
        EXPECT_EQ(CodeOf([] { PlatformRadio().EnterApartment(); }), kOk);
        EXPECT_EQ(CodeOf([] { PlatformRadio().EnterApartment(); }), kOk);
    }).join();
    std::thread([] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        EXPECT_EQ(CodeOf([] { PlatformRadio().EnterApartment(); }), static_cast<ResultCode>(RPC_E_CHANGED_MODE));
    }).join();
}

} // namespace
