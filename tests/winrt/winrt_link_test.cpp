// The driver's Bluetooth link over the Windows Runtime backend, under Wine, against fake platform
// objects that raise their events as Windows does: from threads of their own, a connection
// status with a null argument, asynchronous operations finished in each of the ways Windows may
// finish them. The test plays the worker's passes (without their sleep).
#include "DriverState.h"
#include "FakePlatform.h"
#include "LinkTestSupport.h"
#include "bluetooth/BluetoothWorker.h"
#include "bluetooth/Discovery.h"

namespace {

using namespace link_test;
using namespace fakes;
using Lines = std::vector<std::string>;
namespace abi = bleabi;

constexpr GUID kServiceUuid{0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kCharacteristicUuid{0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

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

class WinrtLink : public testing::TestWithParam<Finish> {
protected:
    void SetUp() override
    {
        InitHost(host);
        const Finish finish = GetParam();
        device->address = kRifleAddress;
        platform.deviceStatics->deviceOperation = Operation<abi::IAsyncOperation_BluetoothLEDevice>(finish, device.Get());
        device->servicesOperation = Operation<abi::IAsyncOperation_GattDeviceServicesResult>(finish,
            Make<FakeServicesResult>(abi::GattCommunicationStatus::Success,
                std::vector{Up<abi::IGattDeviceService>(service)}).Get());
        service->characteristicsOperation = Operation<abi::IAsyncOperation_GattCharacteristicsResult>(finish,
            Make<FakeCharacteristicsResult>(abi::GattCommunicationStatus::Success,
                std::vector{Up<abi::IGattCharacteristic>(characteristic)}).Get());
        characteristic->writeOperation =
            Operation<abi::IAsyncOperation_GattCommunicationStatus>(finish, abi::GattCommunicationStatus::Success);
        tarvolt::radio::PlatformRadio().EnterApartment();
        tarvolt::CreateAdvertisementWatcher(context);
    }
    void TearDown() override
    {
        if (!ended)
            tarvolt::EndWorker(context);
    }

    int32_t State() const { return context.linkState.load(); }
    size_t Mark() { return host.Recorder().LogTexts().size(); }
    Lines Since(size_t mark) { return WorkerLines(host.Recorder(), mark); }
    size_t Count(const std::string &line) { return host.Recorder().CountLog(line); }

    sim::SimHost host;
    FakePlatform platform;
    ComRef<FakeDevice> device = Make<FakeDevice>(L"Rifle Q508");
    ComRef<FakeService> service = Make<FakeService>(kServiceUuid);
    ComRef<FakeCharacteristic> characteristic = Make<FakeCharacteristic>(kCharacteristicUuid);
    tarvolt::LinkContext context;
    bool ended = false;
};

// Catches: a connection-status delegate that refuses Windows' null argument (the link would
// stay Connected with a lost rifle until SteamVR restarts), a handler the platform cannot call
// from its own threads (not agile) or that answers for the wrong IID, a scan without Active
// mode, an empty notification read into a null array, an advertisement or notification that
// does not reach the link from the platform's thread, a completion that is missed when it
// comes inside put_Completed, a lost
// device that keeps its handlers or is not kept (with its GattSession on) for Windows to restore
// the link, a restored link not taken again, and a teardown that does not turn the session off
// before closing it and the device, each once.
TEST_P(WinrtLink, ConnectsReceivesLosesTheLinkAndHasItRestored)
{
    tarvolt::WorkerPass(context);
    ASSERT_EQ(State(), tarvolt::Scanning);
    EXPECT_EQ(platform.watcher->starts, 1);
    EXPECT_EQ(platform.watcher->scanningMode, abi::BluetoothLEScanningMode::Active);
    ExpectFreeThreadedHandler(platform.watcher->received.Handlers().at(0));
    ExpectFreeThreadedHandler(platform.watcher->stopped.Handlers().at(0));
    EXPECT_EQ(platform.watcher->RaiseReceived(L"Rifle Q508", kRifleAddress), S_OK);
    EXPECT_EQ(platform.watcher->RaiseStopped(), S_OK);
    ASSERT_EQ(State(), tarvolt::TargetFound);

    const size_t connecting = Mark();
    tarvolt::WorkerPass(context);
    ASSERT_EQ(State(), tarvolt::Connected);
    EXPECT_EQ(Since(connecting).back(), "Device successfully connected.");
    EXPECT_EQ(platform.deviceStatics->addresses, std::vector<UINT64>{kRifleAddress});
    EXPECT_EQ(characteristic->written, std::vector{abi::GattClientCharacteristicConfigurationDescriptorValue::Notify});
    ExpectFreeThreadedHandler(device->statusChanged.Handlers().at(0));
    ExpectFreeThreadedHandler(characteristic->valueChanged.Handlers().at(0));
    auto *lookup = static_cast<FakeAsyncOperation<abi::IAsyncOperation_BluetoothLEDevice> *>(
        platform.deviceStatics->deviceOperation.Get());
    EXPECT_EQ(lookup->putCompletedCalls, GetParam() == Finish::Already ? 0 : 1);
    if (GetParam() != Finish::Already)
        ExpectFreeThreadedHandler(lookup->handler_);

    EXPECT_EQ(device->RaiseStatusChanged(abi::BluetoothConnectionStatus::Connected), S_OK);
    EXPECT_EQ(Count("Connected to device: Rifle Q508"), 1u);
    EXPECT_EQ(State(), tarvolt::Connected);

    tarvolt::eject_mag = false;
    EXPECT_EQ(characteristic->RaiseValueChanged({0x5C, 0x00, 0x5C, 0x5D}), S_OK);
    EXPECT_TRUE(tarvolt::eject_mag.exchange(false));
    EXPECT_EQ(Count("Received data: 92 0 92 93 END"), 1u);
    EXPECT_EQ(characteristic->RaiseValueChanged({}), S_OK);
    EXPECT_EQ(Count("Received data: END"), 1u);

    EXPECT_EQ(device->RaiseStatusChanged(abi::BluetoothConnectionStatus::Disconnected), S_OK);
    EXPECT_EQ(Count("Disconnected from device: Rifle Q508"), 1u);
    ASSERT_EQ(State(), tarvolt::ConnectionLost);
    const size_t lost = Mark();
    tarvolt::WorkerPass(context);
    EXPECT_EQ(Since(lost), Lines{"Device connection lost."});
    EXPECT_EQ(State(), tarvolt::StartScanning);
    EXPECT_EQ(trail, std::vector<std::string>{"session on"});
    EXPECT_TRUE(device->statusChanged.Handlers().empty());
    EXPECT_TRUE(characteristic->valueChanged.Handlers().empty());

    device->status = abi::BluetoothConnectionStatus::Connected;
    for (int pass = 0; pass < 3 && State() != tarvolt::Connected; ++pass)
        tarvolt::WorkerPass(context);
    ASSERT_EQ(State(), tarvolt::Connected);
    EXPECT_EQ(Count("The system restored the connection."), 1u);
    EXPECT_EQ(characteristic->written.size(), 2u);
    tarvolt::EndWorker(context);
    ended = true;
    EXPECT_EQ(trail, (std::vector<std::string>{"session on", "request closed", "session off", "session closed",
                                               "request closed", "device closed"}));
    EXPECT_TRUE(platform.watcher->received.Handlers().empty());
}

INSTANTIATE_TEST_SUITE_P(Finishing, WinrtLink,
                         testing::Values(Finish::Already, Finish::InsidePutCompleted, Finish::OnAnotherThread),
                         [](const testing::TestParamInfo<Finish> &info) { return std::string(FinishName(info.param)); });

} // namespace
