// The Windows Runtime radio backend driven through its radio interface against in-process fake
// platform objects, under Wine: a whole session, then each way the platform can fail.
#include "FakePlatform.h"

#include "bluetooth/winrt/WinrtObjects.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tarvolt::radio;
using namespace fakes;

namespace {

constexpr GUID kServiceUuid{0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kCharacteristicUuid{0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kOtherUuid{0x00001800, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr uint64_t kAddress = 0xAABBCCDDEEFFull;

template <class I, class T>
ComRef<I> Up(const ComRef<T> &object)
{
    return ComRef<I>::Borrow(object.Get());
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

class WinrtSession : public testing::TestWithParam<Finish> {};

// Catches: wrong vtable slots or IIDs in our declarations, a scan without Active mode, events
// that never reach the link (a connection status raised with Windows' null argument included),
// addresses, names or signal strengths garbled on the way, a completion wait that
// returns early or never, services or characteristics skipped, a descriptor write of the wrong
// value, notification bytes lost or misread, a Close that never reaches the device, and
// references leaked or released once too often (every fake must be gone at the end).
TEST_P(WinrtSession, ScanConnectSubscribeNotifyAndLoseTheLink)
{
    const Finish finish = GetParam();
    auto sentinel = std::make_shared<int>(0);
    {
        FakePlatform platform;
        auto device = Make<FakeDevice>(L"Rifle Q508");
        auto otherService = Make<FakeService>(kOtherUuid), targetService = Make<FakeService>(kServiceUuid);
        auto otherCharacteristic = Make<FakeCharacteristic>(kOtherUuid);
        auto targetCharacteristic = Make<FakeCharacteristic>(kCharacteristicUuid);
        platform.deviceStatics->deviceOperation = Operation<bleabi::IAsyncOperation_BluetoothLEDevice>(finish, device.Get());
        device->servicesOperation = Operation<bleabi::IAsyncOperation_GattDeviceServicesResult>(finish,
            Make<FakeServicesResult>(bleabi::GattCommunicationStatus::Success,
                std::vector{Up<bleabi::IGattDeviceService>(otherService), Up<bleabi::IGattDeviceService>(targetService)}).Get());
        targetService->characteristicsOperation = Operation<bleabi::IAsyncOperation_GattCharacteristicsResult>(finish,
            Make<FakeCharacteristicsResult>(bleabi::GattCommunicationStatus::Success,
                std::vector{Up<bleabi::IGattCharacteristic>(otherCharacteristic), Up<bleabi::IGattCharacteristic>(targetCharacteristic)}).Get());
        targetCharacteristic->writeOperation =
            Operation<bleabi::IAsyncOperation_GattCommunicationStatus>(finish, bleabi::GattCommunicationStatus::Success);

        Radio &radio = PlatformRadio();
        radio.EnterApartment();

        // Scan: Active mode, both events, a named advertisement, the handler stops the scan.
        auto watcher = radio.CreateWatcher();
        watcher->SetScanningMode(ScanningMode::Active);
        EXPECT_EQ(platform.watcher->scanningMode, bleabi::BluetoothLEScanningMode::Active);
        std::vector<std::pair<std::u16string, uint64_t>> advertisements;
        std::vector<std::optional<int16_t>> strengths;
        watcher->AddReceived([&, sentinel](Watcher &sender, AdvertisementReceivedArgs &args) {
            advertisements.emplace_back(args.LocalName(), args.BluetoothAddress());
            strengths.push_back(args.SignalStrength());
            sender.Stop();
            return kOk;
        });
        int stops = 0;
        watcher->AddStopped([&](Watcher &) { return ++stops, kOk; });
        watcher->Start();
        EXPECT_EQ(platform.watcher->starts, 1);
        ExpectFreeThreadedHandler(platform.watcher->received.Handlers().at(0));
        ExpectFreeThreadedHandler(platform.watcher->stopped.Handlers().at(0));
        watcher.reset();  // the platform's watcher and our handlers outlive the wrapper
        EXPECT_EQ(platform.watcher->RaiseReceived(L"", 1, -90), S_OK);
        EXPECT_EQ(platform.watcher->RaiseReceived(L"Rifle Q508", kAddress, -47), S_OK);
        EXPECT_EQ(platform.watcher->RaiseStopped(), S_OK);
        const decltype(advertisements) expected{{u"", 1}, {u"Rifle Q508", kAddress}};
        EXPECT_EQ(advertisements, expected);
        EXPECT_EQ(strengths, (std::vector<std::optional<int16_t>>{-90, -47}));
        EXPECT_EQ(platform.watcher->stops, 2);
        EXPECT_EQ(stops, 1);

        // Connect and watch the connection status.
        auto connected = radio.FromBluetoothAddress(kAddress);
        ASSERT_TRUE(connected);
        EXPECT_EQ(platform.deviceStatics->addresses, std::vector<UINT64>{kAddress});
        std::vector<std::pair<ConnectionStatus, std::u16string>> statuses;
        connected->AddConnectionStatusChanged([&](Device &sender) {
            statuses.emplace_back(sender.GetConnectionStatus(), sender.Name());
            return kOk;
        });
        ExpectFreeThreadedHandler(device->statusChanged.Handlers().at(0));
        EXPECT_EQ(connected->Name(), u"Rifle Q508");

        // Services and characteristics, in index order, with their UUIDs.
        ServicesResult services = connected->GetGattServices();
        ASSERT_EQ(services.status, CommunicationStatus::Success);
        ASSERT_EQ(services.services.size(), 2u);
        EXPECT_EQ(radio.GuidToString(services.services[0]->Uuid()), u"{00001800-0000-1000-8000-00805F9B34FB}");
        EXPECT_EQ(radio.GuidToString(services.services[1]->Uuid()), u"{0000FFF0-0000-1000-8000-00805F9B34FB}");
        CharacteristicsResult characteristics = services.services[1]->GetCharacteristics();
        ASSERT_EQ(characteristics.status, CommunicationStatus::Success);
        ASSERT_EQ(characteristics.characteristics.size(), 2u);
        auto characteristic = characteristics.characteristics[1];
        EXPECT_EQ(radio.GuidToString(characteristic->Uuid()), u"{0000FFF1-0000-1000-8000-00805F9B34FB}");

        // Subscribe, then notifications read through the data reader.
        std::vector<std::vector<uint8_t>> notifications;
        characteristic->AddValueChanged([&](Characteristic &, ValueChangedArgs &args) {
            std::vector<uint8_t> bytes(args.UnconsumedBufferLength());
            args.ReadBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
            notifications.push_back(bytes);
            return kOk;
        });
        ExpectFreeThreadedHandler(targetCharacteristic->valueChanged.Handlers().at(0));
        EXPECT_EQ(characteristic->WriteClientCharacteristicConfigurationDescriptor(CccdValue::Notify), CommunicationStatus::Success);
        EXPECT_EQ(targetCharacteristic->written, std::vector{bleabi::GattClientCharacteristicConfigurationDescriptorValue::Notify});
        for (std::vector<BYTE> bytes : {std::vector<BYTE>{0x5B, 1, 2, 3, 4, 0x5D}, std::vector<BYTE>{}})
            EXPECT_EQ(targetCharacteristic->RaiseValueChanged(bytes), S_OK);
        const decltype(notifications) expectedBytes{{0x5B, 1, 2, 3, 4, 0x5D}, {}};
        EXPECT_EQ(notifications, expectedBytes);

        // Connection status events (with the null argument Windows passes), then Close.
        for (auto status : {bleabi::BluetoothConnectionStatus::Connected, bleabi::BluetoothConnectionStatus::Disconnected})
            EXPECT_EQ(device->RaiseStatusChanged(status), S_OK);
        const decltype(statuses) expectedStatuses{{ConnectionStatus::Connected, u"Rifle Q508"}, {ConnectionStatus::Disconnected, u"Rifle Q508"}};
        EXPECT_EQ(statuses, expectedStatuses);
        connected->Close();
        EXPECT_EQ(device->closes, 1);

        // A completion handler given to the platform is free-threaded too.
        auto *operation = static_cast<FakeAsyncOperation<bleabi::IAsyncOperation_BluetoothLEDevice> *>(platform.deviceStatics->deviceOperation.Get());
        EXPECT_EQ(operation->putCompletedCalls, finish == Finish::Already ? 0 : 1);
        if (finish != Finish::Already)
            ExpectFreeThreadedHandler(operation->handler_);
    }
    EXPECT_EQ(liveObjects, 0);
    EXPECT_EQ(sentinel.use_count(), 1) << "a handler given to the platform was never released";
}

INSTANTIATE_TEST_SUITE_P(Finishing, WinrtSession,
                         testing::Values(Finish::Already, Finish::InsidePutCompleted, Finish::OnAnotherThread),
                         [](const testing::TestParamInfo<Finish> &info) { return std::string(FinishName(info.param)); });

ResultCode CodeOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const PlatformError &e) {
        return e.Code();
    }
    return kOk;
}

// Catches: connected devices not asked of Windows at all (a rifle that no longer advertises is
// never found), the wrong selector, ids lost on the way to FromIdAsync, a device that could not
// be opened (a null device, an error) taken as found or spoiling the whole list, and a worker's
// stop swallowed instead of ending the call.
TEST(WinrtConnectedDevices, OpensEachConnectedDeviceByIdAndLeavesOutThoseThatCannotBeOpened)
{
    {
        FakePlatform platform;
        auto rifle = Make<FakeDevice>(L"Rifle Q508");
        std::vector<ComRef<bleabi::IDeviceInformation>> found;
        for (const wchar_t *id : {L"gone", L"rifle", L"failing"})
            found.push_back(Make<FakeDeviceInformation>(id));
        platform.informationStatics->findOperation = Operation<bleabi::IAsyncOperation_DeviceInformationCollection>(Finish::OnAnotherThread,
            Make<FakeVectorView<bleabi::IVectorView_DeviceInformation, bleabi::IDeviceInformation>>(found).Get());
        auto &byId = platform.deviceStatics->byId;
        byId[L"gone"] = Operation<bleabi::IAsyncOperation_BluetoothLEDevice>(Finish::OnAnotherThread, nullptr);
        byId[L"rifle"] = Operation<bleabi::IAsyncOperation_BluetoothLEDevice>(Finish::OnAnotherThread, rifle.Get());
        byId[L"failing"] = ComRef<bleabi::IAsyncOperation_BluetoothLEDevice>::Attach(new FakeAsyncOperation<bleabi::IAsyncOperation_BluetoothLEDevice>(
            Finish::OnAnotherThread, Error, nullptr, HRESULT_FROM_WIN32(ERROR_NOT_FOUND)));

        auto devices = PlatformRadio().ConnectedDevices();
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0]->Name(), u"Rifle Q508");
        EXPECT_EQ(platform.informationStatics->filters, std::vector<std::wstring>{L"connected-selector"});
        EXPECT_EQ(platform.deviceStatics->ids, (std::vector<std::wstring>{L"gone", L"rifle", L"failing"}));

        byId[L"rifle"] = ComRef<bleabi::IAsyncOperation_BluetoothLEDevice>::Attach(
            new FakeAsyncOperation<bleabi::IAsyncOperation_BluetoothLEDevice>(Finish::OnAnotherThread, Canceled, nullptr));
        EXPECT_EQ(CodeOf([] { PlatformRadio().ConnectedDevices(); }), kCanceled);
    }
    EXPECT_EQ(liveObjects, 0);
}

struct KeepCase {
    const char *name;
    bool hasDeviceId;   // IBluetoothLEDevice4 (Windows 10 1709 and later)
    boolean canMaintain;
    HRESULT putResult;  // of put_MaintainConnection
    bool offBeforeClose;
    std::vector<std::string> trail;  // after MaintainConnection(true) twice, (false if asked), Close
    ResultCode raised;               // by MaintainConnection(true)
    size_t sessionsOpened;
};
void PrintTo(const KeepCase &c, std::ostream *out) { *out << c.name; }

class WinrtKeepLink : public testing::TestWithParam<KeepCase> {};

// Catches: MaintainConnection not asked of Windows (the link is not restored after a drop), a
// session opened for another device's id, a session left with MaintainConnection on (our own
// holder would keep the rifle's link for ever), a session closed twice or never, closed before
// MaintainConnection is off, or after the device, and a session that cannot maintain the link
// kept open.
TEST_P(WinrtKeepLink, SessionOnWhileConnectedOffThenClosedOnceBeforeTheDevice)
{
    const KeepCase &c = GetParam();
    {
        FakePlatform platform;
        auto fake = Make<FakeDevice>(L"Rifle Q508");
        fake->hasDeviceId = c.hasDeviceId;
        platform.sessionStatics->session->canMaintain = c.canMaintain;
        platform.sessionStatics->session->putResult = c.putResult;
        tarvolt::radio::winrt::WinrtDevice device(fake);
        EXPECT_EQ(CodeOf([&] { device.MaintainConnection(true); }), c.raised);
        EXPECT_EQ(CodeOf([&] { device.MaintainConnection(true); }), c.raised);  // once on, nothing more
        if (c.offBeforeClose)
            device.MaintainConnection(false);
        device.MaintainConnection(false);
        device.Close();
        EXPECT_EQ(trail, c.trail);
        EXPECT_EQ(platform.sessionStatics->ids.size(), c.sessionsOpened);
        for (const std::wstring &id : platform.sessionStatics->ids)
            EXPECT_EQ(id, fake->id->id);
    }
    EXPECT_EQ(liveObjects, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, WinrtKeepLink, testing::Values(
    KeepCase{"OnThenOff", true, TRUE, S_OK, true, {"session on", "session off", "session closed", "device closed"}, kOk, 1},
    KeepCase{"LeftOnUntilClose", true, TRUE, S_OK, false, {"session on", "session off", "session closed", "device closed"}, kOk, 1},
    KeepCase{"CannotMaintain", true, FALSE, S_OK, true,
             {"session off", "session closed", "session off", "session closed", "device closed"}, kOk, 2},
    KeepCase{"OnRefused", true, TRUE, E_ACCESSDENIED, true,
             {"session on", "session off", "session closed", "session on", "session off", "session closed", "device closed"},
             static_cast<ResultCode>(E_ACCESSDENIED), 2},
    KeepCase{"BeforeWindows1709", false, TRUE, S_OK, true, {"device closed"}, kOk, 0}),
    [](const testing::TestParamInfo<KeepCase> &info) { return std::string(info.param.name); });

struct LatencyCase {
    const char *name;
    bool apiInformation;  // the class can be activated
    bool windows11;       // ApiInformation says so and the device has IBluetoothLEDevice6
    FakeRequest::Status status;
    bool granted;
    std::vector<std::string> trail;  // after two requests and Close
};
void PrintTo(const LatencyCase &c, std::ostream *out) { *out << c.name; }

class WinrtLowLatency : public testing::TestWithParam<LatencyCase> {};

// Catches: ThroughputOptimized parameters not asked on Windows 11 (presses wait a long connection
// interval), Windows 11's API called on Windows 10 or where ApiInformation is missing (an error
// where it should be skipped silently), a refused request taken as granted or kept, a granted one
// released at once (its preference would lapse) or kept after the device is closed, and a new
// request that leaves the old one open.
TEST_P(WinrtLowLatency, AskedOnWindows11OnlyAndHeldUntilTheDeviceCloses)
{
    const LatencyCase &c = GetParam();
    {
        FakePlatform platform;
        if (!c.apiInformation)
            platform.factories.erase(tarvolt::radio::winrt::kApiInformationClass);
        platform.apiInformation->windows11 = c.windows11;
        auto fake = Make<FakeDevice>(L"Rifle Q508");
        fake->windows11 = c.windows11;
        fake->requestStatus = c.status;
        tarvolt::radio::winrt::WinrtDevice device(fake);
        EXPECT_EQ(device.RequestLowLatency(), c.granted);
        EXPECT_EQ(device.RequestLowLatency(), c.granted);
        device.Close();
        EXPECT_EQ(trail, c.trail);
        const std::vector<bleabi::IBluetoothLEPreferredConnectionParameters *> throughput(
            c.windows11 && c.apiInformation ? 2 : 0, platform.parametersStatics->throughputOptimized.Get());
        EXPECT_EQ(fake->requested, throughput);
    }
    EXPECT_EQ(liveObjects, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, WinrtLowLatency, testing::Values(
    LatencyCase{"Windows11", true, true, FakeRequest::Status::Success, true, {"request closed", "request closed", "device closed"}},
    LatencyCase{"Windows11Declined", true, true, FakeRequest::Status::DeviceNotAvailable, false,
                {"request closed", "request closed", "device closed"}},
    LatencyCase{"Windows10", true, false, FakeRequest::Status::Success, false, {"device closed"}},
    LatencyCase{"NoApiInformation", false, true, FakeRequest::Status::Success, false, {"device closed"}}),
    [](const testing::TestParamInfo<LatencyCase> &info) { return std::string(info.param.name); });

} // namespace
