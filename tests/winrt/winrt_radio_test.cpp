// The Windows Runtime radio backend driven through its radio interface against in-process fake
// platform objects, under Wine: a whole session, then each way the platform can fail.
#include "FakePlatform.h"

#include <gtest/gtest.h>

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

} // namespace
