// The test component's classes checked against the Windows Runtime's documented behaviour, so
// that the whole-session tests of the shipped driver meet Windows' rules and no kinder ones:
// events on the platform's own threads, the null argument of ConnectionStatusChanged, results
// with statuses, operations that finish where Windows may finish them and can be canceled, and
// nothing kept once the caller lets go.
#include "ComponentRig.h"
#include "bluetooth/winrt/BleAbi.h"
#include "bluetooth/winrt/ComRef.h"
#include "bluetooth/winrt/WinrtResults.h"

#include <objidl.h>
#include <roapi.h>
#include <winstring.h>

#include <cstring>
#include <type_traits>

namespace {

using namespace component_test;
using tarvolt::radio::winrt::ComRef;

// A delegate a test hands to the component: it calls a function with what the platform passed,
// and records which thread called it.
template <class Iface, class... Params>
class TestDelegate final : public Iface {
public:
    using Function = std::function<HRESULT(Params...)>;
    static ComRef<TestDelegate> Create(Function function)
    {
        return ComRef<TestDelegate>::Attach(new TestDelegate(std::move(function)));
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(Iface) && iid != __uuidof(IAgileObject))
            return E_NOINTERFACE;
        *out = static_cast<Iface *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Invoke(Params... params) override
    {
        ++calls;
        lastThread = GetCurrentThreadId();
        return function_(params...);
    }

    std::atomic<int> calls{0};
    std::atomic<DWORD> lastThread{0};

private:
    explicit TestDelegate(Function function) : function_(std::move(function)) {}
    Function function_;
    std::atomic<ULONG> refs_{1};
};

namespace ble = bleabi;
using ReceivedDelegate = TestDelegate<ble::ITypedEventHandler_Watcher_Received, ble::IBluetoothLEAdvertisementWatcher *,
                                      ble::IBluetoothLEAdvertisementReceivedEventArgs *>;
using StoppedDelegate = TestDelegate<ble::ITypedEventHandler_Watcher_Stopped, ble::IBluetoothLEAdvertisementWatcher *,
                                     ble::IBluetoothLEAdvertisementWatcherStoppedEventArgs *>;
using StatusDelegate = TestDelegate<ble::ITypedEventHandler_Device_Object, ble::IBluetoothLEDevice *, IInspectable *>;
using ValueDelegate = TestDelegate<ble::ITypedEventHandler_Characteristic_ValueChanged, ble::IGattCharacteristic *,
                                   ble::IGattValueChangedEventArgs *>;
template <class Op>
using CompletedDelegate = TestDelegate<typename Op::Handler, Op *, AsyncStatus>;

using WatcherStatus = ble::BluetoothLEAdvertisementWatcherStatus;

using GetFactory = HRESULT(WINAPI *)(HSTRING, IActivationFactory **);

struct String {
    explicit String(const wchar_t *text)
    {
        WindowsCreateStringReference(text, static_cast<UINT32>(wcslen(text)), &header, &value);
    }
    HSTRING_HEADER header;
    HSTRING value = nullptr;
};

std::wstring Text(HSTRING s)
{
    UINT32 length = 0;
    const wchar_t *raw = WindowsGetStringRawBuffer(s, &length);
    std::wstring out(raw, length);
    WindowsDeleteString(s);
    return out;
}

constexpr wchar_t kWatcherClass[] = L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher";
constexpr wchar_t kDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";
constexpr wchar_t kDataReaderClass[] = L"Windows.Storage.Streams.DataReader";
constexpr wchar_t kSessionClass[] = L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession";
constexpr wchar_t kParametersClass[] = L"Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParameters";

// A manual-reset event a delegate sets.
struct Signal {
    Signal() : handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Signal() { CloseHandle(handle); }
    bool Wait() const { return WaitForSingleObject(handle, static_cast<DWORD>(kLimit / 1ms)) == WAIT_OBJECT_0; }
    HANDLE handle;
};

// The errors of a watcher's Stopped events.
struct StoppedLog {
    std::vector<ble::BluetoothError> Errors()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return errors;
    }
    std::mutex mutex;
    std::vector<ble::BluetoothError> errors;
    Signal signal;
    ComRef<StoppedDelegate> delegate = StoppedDelegate::Create([this](auto *, auto *args) {
        ble::BluetoothError error{};
        args->get_Error(&error);
        std::lock_guard<std::mutex> lock(mutex);
        errors.push_back(error);
        SetEvent(signal.handle);
        return S_OK;
    });
};

WatcherStatus StatusOf(const ComRef<ble::IBluetoothLEAdvertisementWatcher> &watcher)
{
    WatcherStatus status{};
    EXPECT_EQ(watcher->get_Status(&status), S_OK);
    return status;
}

template <class Info>
HRESULT ErrorCodeOf(const Info &op)
{
    HRESULT code = S_OK;
    EXPECT_EQ(op.template As<IAsyncInfo>()->get_ErrorCode(&code), S_OK);
    return code;
}

class ComponentClasses : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(component.Control(), nullptr) << component.Error();
        getFactory = reinterpret_cast<GetFactory>(component.Symbol("DllGetActivationFactory"));
        ASSERT_NE(getFactory, nullptr);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }
    // Catches: objects the component keeps alive, or delegates it keeps, once the caller has let
    // go of everything (each test releases all it made before it ends).
    void TearDown() override
    {
        for (int id : held)
            radio().Release(id, sim::Step::Connect);
        radio().SetRadioAvailable(true);
        ASSERT_TRUE(component.Control()->WaitUntilIdle(kLimit));
        const winrt_bluetooth::ComponentStats stats = component.Control()->Stats();
        EXPECT_EQ(stats.liveObjects, 0);
        EXPECT_EQ(stats.heldDelegates, 0);
    }

    sim::RadioControl &radio() { return component.Radio(); }

    template <class T>
    ComRef<T> Factory(const wchar_t *className)
    {
        String name(className);
        ComRef<IActivationFactory> factory;
        EXPECT_EQ(getFactory(name.value, factory.Put()), S_OK);
        return factory ? factory.template As<T>() : ComRef<T>();
    }
    ComRef<ble::IBluetoothLEAdvertisementWatcher> NewWatcher()
    {
        ComRef<IInspectable> instance;
        EXPECT_EQ(Factory<IActivationFactory>(kWatcherClass)->ActivateInstance(instance.Put()), S_OK);
        return instance.As<ble::IBluetoothLEAdvertisementWatcher>();
    }
    ComRef<ble::IAsyncOperation_BluetoothLEDevice> Lookup(uint64_t address)
    {
        ComRef<ble::IAsyncOperation_BluetoothLEDevice> op;
        EXPECT_EQ(Factory<ble::IBluetoothLEDeviceStatics>(kDeviceClass)->FromBluetoothAddressAsync(address, op.Put()), S_OK);
        return op;
    }
    // Waits for the operation through its completion handler; its status, and the result when
    // it completed.
    template <class Op>
    AsyncStatus Await(const ComRef<Op> &op, typename Op::Result *result = nullptr)
    {
        Signal done;
        std::atomic<AsyncStatus> reported{AsyncStatus::Started};
        auto handler = CompletedDelegate<Op>::Create([&](Op *, AsyncStatus status) {
            reported = status;
            SetEvent(done.handle);
            return S_OK;
        });
        EXPECT_EQ(op->put_Completed(handler.Get()), S_OK);
        EXPECT_TRUE(done.Wait());
        if (result != nullptr && reported == AsyncStatus::Completed) {
            EXPECT_EQ(op->GetResults(result), S_OK);
        }
        return reported;
    }
    // The object an operation completed with.
    template <class Op>
    auto Completed(const ComRef<Op> &op)
    {
        typename Op::Result raw = nullptr;
        EXPECT_EQ(Await(op, &raw), AsyncStatus::Completed);
        return ComRef<std::remove_pointer_t<typename Op::Result>>::Attach(raw);
    }
    ComRef<ble::IBluetoothLEDevice> Open(uint64_t address) { return Completed(Lookup(address)); }
    Component component;
    GetFactory getFactory = nullptr;
    std::vector<int> held;
};

// Catches: a registration that the Windows Runtime does not find, or that makes it load a second
// copy of the component (the test's scripts would not reach the driver's radio), and a class
// served under the wrong name, without its statics, or activatable where Windows' is not.
TEST_F(ComponentClasses, AreWhatTheWindowsRuntimeActivatesForTheBluetoothClasses)
{
    ASSERT_TRUE(ClassesRegistered()) << "run the tests through tools/wine-session.sh";
    const int before = component.Control()->Stats().factories;
    String watcherName(kWatcherClass);
    ComRef<IInspectable> watcher;
    ASSERT_EQ(RoActivateInstance(watcherName.value, watcher.Put()), S_OK);
    HSTRING className = nullptr;
    ASSERT_EQ(watcher->GetRuntimeClassName(&className), S_OK);
    EXPECT_EQ(Text(className), kWatcherClass);
    EXPECT_TRUE(watcher.As<ble::IBluetoothLEAdvertisementWatcher>());

    // Wine's own DeviceInformation and ApiInformation give way to the component's.
    const std::pair<const wchar_t *, IID> statics[] = {
        {kDeviceClass, __uuidof(ble::IBluetoothLEDeviceStatics)},
        {kDataReaderClass, __uuidof(ble::IDataReaderStatics)},
        {L"Windows.Devices.Enumeration.DeviceInformation", __uuidof(ble::IDeviceInformationStatics)},
        {L"Windows.Foundation.Metadata.ApiInformation", __uuidof(ble::IApiInformationStatics)},
        {kSessionClass, __uuidof(ble::IGattSessionStatics)},
        {kParametersClass, __uuidof(ble::IBluetoothLEPreferredConnectionParametersStatics)}};
    for (const auto &[name, iid] : statics) {
        String text(name);
        ComRef<IInspectable> factory;
        ASSERT_EQ(RoGetActivationFactory(text.value, iid, reinterpret_cast<void **>(factory.Put())), S_OK) << name;
        ComRef<IInspectable> instance;
        if (name == kDeviceClass) {
            EXPECT_TRUE(FAILED(factory.As<IActivationFactory>()->ActivateInstance(instance.Put())))
                << "BluetoothLEDevice has no constructor";
        }
    }
    EXPECT_EQ(component.Control()->Stats().factories, before + 7) << "the Windows Runtime loaded another copy";

    String other(L"Windows.Devices.Bluetooth.BluetoothDevice");
    ComRef<IActivationFactory> none;
    EXPECT_EQ(getFactory(other.value, none.Put()), CLASS_E_CLASSNOTAVAILABLE);
}

// Catches: events raised on the caller's thread or inside add_, a Stop inside Received that does
// not end the scan with a Stopped event, statuses that do not follow Start and Stop, the scanning
// mode not reaching the radio, and delegates kept after their removal; then a radio gone without
// the running scan being aborted with RadioNotAvailable, a Start without radio that fails by its
// result instead of aborting, and a Stop of an aborted watcher that raises an event.
TEST_F(ComponentClasses, WatcherRaisesItsEventsOnItsOwnThreadStopsAsAskedAndAbortsWithoutTheRadio)
{
    AddRifleAmongOthers(radio());
    auto watcher = NewWatcher();
    EXPECT_EQ(StatusOf(watcher), WatcherStatus::Created);
    EXPECT_EQ(watcher->put_ScanningMode(ble::BluetoothLEScanningMode::Active), S_OK);
    EXPECT_EQ(watcher->put_ScanningMode(static_cast<ble::BluetoothLEScanningMode>(7)), E_INVALIDARG);
    EXPECT_EQ(radio().Stats().activeScanning, 1);

    std::mutex mutex;
    std::vector<std::wstring> names;
    UINT64 rifleAddress = 0;
    auto received = ReceivedDelegate::Create([&](ble::IBluetoothLEAdvertisementWatcher *sender,
                                                 ble::IBluetoothLEAdvertisementReceivedEventArgs *args) {
        ComRef<ble::IBluetoothLEAdvertisement> advertisement;
        HSTRING name = nullptr;
        UINT64 address = 0;
        if (FAILED(args->get_Advertisement(advertisement.Put())) || FAILED(advertisement->get_LocalName(&name)) ||
            FAILED(args->get_BluetoothAddress(&address)))
            return E_FAIL;
        const std::wstring text = Text(name);
        std::lock_guard<std::mutex> lock(mutex);
        names.push_back(text);
        if (text != L"Rifle Q508")
            return S_OK;
        rifleAddress = address;
        return sender->Stop();
    });
    StoppedLog stopped;
    EventRegistrationToken receivedToken{}, stoppedToken{};
    ASSERT_EQ(watcher->add_Received(received.Get(), &receivedToken), S_OK);
    ASSERT_EQ(watcher->add_Stopped(stopped.delegate.Get(), &stoppedToken), S_OK);
    ASSERT_EQ(watcher->Start(), S_OK);
    EXPECT_EQ(StatusOf(watcher), WatcherStatus::Started);
    ASSERT_TRUE(stopped.signal.Wait());

    EXPECT_NE(received->lastThread.load(), GetCurrentThreadId());
    EXPECT_NE(stopped.delegate->lastThread.load(), GetCurrentThreadId());
    EXPECT_EQ(stopped.Errors(), std::vector<ble::BluetoothError>{ble::BluetoothError::Success});
    EXPECT_EQ(StatusOf(watcher), WatcherStatus::Stopped);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(rifleAddress, kRifleAddress);
        EXPECT_NE(std::find(names.begin(), names.end(), L""), names.end()) << "the nameless device's empty name";
        EXPECT_NE(std::find(names.begin(), names.end(), L"Phone 7"), names.end());
    }
    ASSERT_TRUE(component.Control()->WaitUntilIdle(kLimit));
    EXPECT_EQ(component.Control()->Stats().heldDelegates, 2);
    EXPECT_EQ(watcher->remove_Received(receivedToken), S_OK);
    EXPECT_EQ(component.Control()->Stats().heldDelegates, 1);

    ASSERT_EQ(watcher->Start(), S_OK);
    radio().SetRadioAvailable(false);
    ASSERT_TRUE(component.Control()->WaitUntilIdle(kLimit));
    EXPECT_EQ(StatusOf(watcher), WatcherStatus::Aborted);
    EXPECT_EQ(watcher->Start(), S_OK);
    EXPECT_EQ(watcher->Stop(), S_OK);  // aborted: no effect
    ASSERT_TRUE(component.Control()->WaitUntilIdle(kLimit));
    EXPECT_EQ(StatusOf(watcher), WatcherStatus::Aborted);
    const auto notAvailable = static_cast<ble::BluetoothError>(1);  // RadioNotAvailable
    EXPECT_EQ(stopped.Errors(), (std::vector<ble::BluetoothError>{ble::BluetoothError::Success, notAvailable, notAvailable}))
        << "one Stopped with RadioNotAvailable for the running scan, one for the refused start";

    radio().SetRadioAvailable(true);
    EXPECT_EQ(watcher->Start(), S_OK);
    EXPECT_EQ(StatusOf(watcher), WatcherStatus::Started);
    EXPECT_EQ(watcher->Stop(), S_OK);
    EXPECT_EQ(watcher->remove_Stopped(stoppedToken), S_OK);
}

// Catches, along a whole connection: a connection event raised with an argument where Windows
// passes null or on the caller's thread, services or characteristics that cannot be walked by
// index (or an index past the end that does not fail), a descriptor write whose status is lost,
// a notification whose bytes do not come back through the DataReader statics, a reader that
// reads past its end, a notification the platform could not read that looks readable, and a
// closed device that still answers.
TEST_F(ComponentClasses, ADeviceSessionAsWindowsRaisesIt)
{
    const int rifle = radio().AddPeripheral(sim::RifleScript(kRifleAddress));
    auto device = Open(kRifleAddress);
    ASSERT_TRUE(device);
    HSTRING name = nullptr;
    ASSERT_EQ(device->get_Name(&name), S_OK);
    EXPECT_EQ(Text(name), L"Rifle Q508");

    std::mutex mutex;
    std::vector<std::pair<ble::BluetoothConnectionStatus, bool>> statuses;  // status, argument null
    auto statusChanged = StatusDelegate::Create([&](ble::IBluetoothLEDevice *sender, IInspectable *arg) {
        ble::BluetoothConnectionStatus now{};
        HRESULT hr = sender->get_ConnectionStatus(&now);
        std::lock_guard<std::mutex> lock(mutex);
        statuses.emplace_back(now, arg == nullptr);
        return hr;
    });
    EventRegistrationToken statusToken{};
    ASSERT_EQ(device->add_ConnectionStatusChanged(statusChanged.Get(), &statusToken), S_OK);

    ComRef<ble::IAsyncOperation_GattDeviceServicesResult> servicesOp;
    ASSERT_EQ(device.As<ble::IBluetoothLEDevice3>()->GetGattServicesAsync(servicesOp.Put()), S_OK);
    auto services = Completed(servicesOp);
    ComRef<ble::IVectorView_GattDeviceService> serviceView;
    ASSERT_EQ(services->get_Services(serviceView.Put()), S_OK);
    ComRef<ble::IGattDeviceService> service;
    EXPECT_EQ(serviceView->GetAt(2, service.Put()), E_BOUNDS);
    ASSERT_EQ(serviceView->GetAt(1, service.Put()), S_OK);
    GUID uuid{};
    ASSERT_EQ(service->get_Uuid(&uuid), S_OK);
    EXPECT_EQ(uuid.Data1, 0x0000FFF0u);

    ComRef<ble::IAsyncOperation_GattCharacteristicsResult> characteristicsOp;
    ASSERT_EQ(service.As<ble::IGattDeviceService3>()->GetCharacteristicsAsync(characteristicsOp.Put()), S_OK);
    ComRef<ble::IVectorView_GattCharacteristic> characteristicView;
    ASSERT_EQ(Completed(characteristicsOp)->get_Characteristics(characteristicView.Put()), S_OK);
    ComRef<ble::IGattCharacteristic> notifying;
    ASSERT_EQ(characteristicView->GetAt(1, notifying.Put()), S_OK);
    ASSERT_EQ(notifying->get_Uuid(&uuid), S_OK);
    EXPECT_EQ(uuid.Data1, 0x0000FFF1u);

    auto readerStatics = Factory<ble::IDataReaderStatics>(kDataReaderClass);
    std::vector<std::vector<BYTE>> values;
    std::vector<HRESULT> failures;
    Signal notified;
    auto valueChanged = ValueDelegate::Create([&](ble::IGattCharacteristic *, ble::IGattValueChangedEventArgs *args) {
        ComRef<ble::IBuffer> buffer;
        ComRef<ble::IDataReader> reader;
        UINT32 length = 0;
        HRESULT hr = args->get_CharacteristicValue(buffer.Put());
        if (SUCCEEDED(hr))
            hr = readerStatics->FromBuffer(buffer.Get(), reader.Put());
        if (SUCCEEDED(hr))
            hr = reader->get_UnconsumedBufferLength(&length);
        std::vector<BYTE> bytes(length + 1);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(reader->ReadBytes(length + 1, bytes.data()), E_BOUNDS);
            EXPECT_EQ(reader->ReadBytes(1, nullptr), E_POINTER);
            hr = reader->ReadBytes(length, bytes.data());
        }
        bytes.resize(length);
        std::lock_guard<std::mutex> lock(mutex);
        if (SUCCEEDED(hr))
            values.push_back(bytes);
        else
            failures.push_back(hr);
        SetEvent(notified.handle);
        return hr;
    });
    EventRegistrationToken valueToken{};
    ASSERT_EQ(notifying->add_ValueChanged(valueChanged.Get(), &valueToken), S_OK);
    ComRef<ble::IAsyncOperation_GattCommunicationStatus> writeOp;
    ASSERT_EQ(notifying->WriteClientCharacteristicConfigurationDescriptorAsync(
                  ble::GattClientCharacteristicConfigurationDescriptorValue::Notify, writeOp.Put()),
              S_OK);
    ble::GattCommunicationStatus written = ble::GattCommunicationStatus::Unreachable;
    ASSERT_EQ(Await(writeOp, &written), AsyncStatus::Completed);
    EXPECT_EQ(written, ble::GattCommunicationStatus::Success);

    radio().Notify(rifle, {0x5C, 0x01, 0x5D, 0x5D});
    ASSERT_TRUE(notified.Wait());
    ResetEvent(notified.handle);
    radio().NotifyFailing(rifle, static_cast<sim::ResultCode>(0x80070015u));  // ERROR_NOT_READY
    ASSERT_TRUE(notified.Wait());
    radio().Drop(rifle);
    ASSERT_TRUE(component.Control()->WaitUntilIdle(kLimit));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(values, (std::vector<std::vector<BYTE>>{{0x5C, 0x01, 0x5D, 0x5D}}));
        EXPECT_EQ(failures, (std::vector<HRESULT>{static_cast<HRESULT>(0x80070015u)}));
        using Status = ble::BluetoothConnectionStatus;
        EXPECT_EQ(statuses, (std::vector<std::pair<Status, bool>>{{Status::Connected, true}, {Status::Disconnected, true}}));
    }
    EXPECT_NE(statusChanged->lastThread.load(), GetCurrentThreadId());
    EXPECT_NE(valueChanged->lastThread.load(), GetCurrentThreadId());

    EXPECT_EQ(notifying->remove_ValueChanged(valueToken), S_OK);
    EXPECT_EQ(device->remove_ConnectionStatusChanged(statusToken), S_OK);
    ASSERT_EQ(device.As<ble::IClosable>()->Close(), S_OK);
    ble::BluetoothConnectionStatus after{};
    EXPECT_EQ(device->get_ConnectionStatus(&after), RO_E_CLOSED);
    EXPECT_EQ(radio().Stats().closes, 1);
}

// Catches: a Cancel that waits for the radio (a caller canceling at shutdown would hang with the
// operation), a canceled operation whose handler is called twice, never, or with another status,
// results handed out after a cancellation, and a late result that is never released.
TEST_F(ComponentClasses, CancelEndsARunningOperationAtOnceAndDropsItsLateResult)
{
    const int rifle = radio().AddPeripheral(sim::RifleScript(kRifleAddress));
    radio().Hold(rifle, sim::Step::Connect);
    held.push_back(rifle);
    auto op = Lookup(kRifleAddress);
    ASSERT_TRUE(radio().WaitUntilHeld(rifle, sim::Step::Connect, kLimit));
    ComRef<IAsyncInfo> info = op.As<IAsyncInfo>();
    EXPECT_EQ(info->Close(), E_ILLEGAL_STATE_CHANGE);

    using Handler = CompletedDelegate<ble::IAsyncOperation_BluetoothLEDevice>;
    std::atomic<AsyncStatus> reported{AsyncStatus::Started};
    auto handler = Handler::Create([&](auto *, AsyncStatus s) { return reported = s, S_OK; });
    ASSERT_EQ(op->put_Completed(handler.Get()), S_OK);
    ASSERT_EQ(info->Cancel(), S_OK);  // the radio still holds the lookup
    EXPECT_EQ(handler->calls.load(), 1);
    EXPECT_EQ(reported.load(), AsyncStatus::Canceled);
    AsyncStatus status{};
    ASSERT_EQ(info->get_Status(&status), S_OK);
    EXPECT_EQ(status, AsyncStatus::Canceled);
    EXPECT_EQ(ErrorCodeOf(op), HRESULT_FROM_WIN32(ERROR_CANCELLED));
    ble::IBluetoothLEDevice *device = nullptr;
    EXPECT_EQ(op->GetResults(&device), E_ILLEGAL_METHOD_CALL);
    EXPECT_EQ(info->Cancel(), S_OK);
    EXPECT_EQ(component.Control()->Stats().canceled, 1);

    // Canceled before anyone asked: put_Completed tells at once.
    auto early = Lookup(kRifleAddress);
    ASSERT_EQ(early.As<IAsyncInfo>()->Cancel(), S_OK);
    auto lateHandler = Handler::Create([&](auto *, AsyncStatus s) { return reported = s, S_OK; });
    reported = AsyncStatus::Started;
    ASSERT_EQ(early->put_Completed(lateHandler.Get()), S_OK);
    EXPECT_EQ(lateHandler->calls.load(), 1);
    EXPECT_EQ(reported.load(), AsyncStatus::Canceled);

    radio().Release(rifle, sim::Step::Connect);
    ASSERT_TRUE(component.Control()->WaitUntilIdle(kLimit));
    EXPECT_EQ(handler->calls.load(), 1);
    ASSERT_EQ(info->get_Status(&status), S_OK);
    EXPECT_EQ(status, AsyncStatus::Canceled);
    EXPECT_EQ(info->Close(), S_OK);
}

// Catches: a connected rifle missing from the connected devices' listing (the link would wait
// for an advertisement that never comes), a bystander listed that is not connected, an id that
// FromIdAsync does not open as the same device, and an id of another form accepted; then a
// session that does not reach the radio's device (MaintainConnection lost), one that forgets
// MaintainConnection when closed with it on (our own session would keep the link), a closed
// session that still answers, a second Close not counted (each object closes once), and a
// session opened for an id of no device.
TEST_F(ComponentClasses, ConnectedDevicesAreListedOpenedByTheirIdAndKeptBySessionsUntilClosed)
{
    const int rifle = AddRifleAmongOthers(radio());
    radio().SetOtherHolder(rifle, true);
    auto statics = Factory<ble::IBluetoothLEDeviceStatics>(kDeviceClass);
    HSTRING selector = nullptr;
    ASSERT_EQ(statics.As<ble::IBluetoothLEDeviceStatics2>()->GetDeviceSelectorFromConnectionStatus(
                  ble::BluetoothConnectionStatus::Connected, &selector),
              S_OK);
    auto information = Factory<ble::IDeviceInformationStatics>(L"Windows.Devices.Enumeration.DeviceInformation");
    ComRef<ble::IAsyncOperation_DeviceInformationCollection> find;
    ASSERT_EQ(information->FindAllAsyncAqsFilter(selector, find.Put()), S_OK);
    WindowsDeleteString(selector);
    auto found = Completed(find);
    UINT32 size = 0;
    ASSERT_EQ(found->get_Size(&size), S_OK);
    ASSERT_EQ(size, 1u);
    ComRef<ble::IDeviceInformation> listed;
    ASSERT_EQ(found->GetAt(0, listed.Put()), S_OK);
    HSTRING name = nullptr, text = nullptr;
    ASSERT_EQ(listed->get_Name(&name), S_OK);
    EXPECT_EQ(Text(name), L"Rifle Q508");
    ASSERT_EQ(listed->get_Id(&text), S_OK);
    ComRef<ble::IAsyncOperation_BluetoothLEDevice> open;
    ASSERT_EQ(statics->FromIdAsync(text, open.Put()), S_OK);
    WindowsDeleteString(text);
    auto device = Completed(open);
    ASSERT_TRUE(device);
    UINT64 address = 0;
    EXPECT_EQ(device->get_BluetoothAddress(&address), S_OK);
    EXPECT_EQ(address, kRifleAddress);
    String notAnId(L"USB#VID_1234");
    ComRef<ble::IAsyncOperation_BluetoothLEDevice> refused;
    ASSERT_EQ(statics->FromIdAsync(notAnId.value, refused.Put()), S_OK);
    EXPECT_EQ(Await(refused), AsyncStatus::Error);
    EXPECT_EQ(ErrorCodeOf(refused), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    radio().SetOtherHolder(rifle, false);

    ComRef<ble::IBluetoothDeviceId> id;
    ASSERT_EQ(device.As<ble::IBluetoothLEDevice4>()->get_BluetoothDeviceId(id.Put()), S_OK);
    auto sessions = Factory<ble::IGattSessionStatics>(kSessionClass);
    ComRef<ble::IAsyncOperation_GattSession> op;
    ASSERT_EQ(sessions->FromDeviceIdAsync(id.Get(), op.Put()), S_OK);
    auto session = Completed(op);
    boolean can = FALSE, on = FALSE;
    ASSERT_EQ(session->get_CanMaintainConnection(&can), S_OK);
    EXPECT_TRUE(can);
    ASSERT_EQ(session->put_MaintainConnection(TRUE), S_OK);
    ASSERT_EQ(session->get_MaintainConnection(&on), S_OK);
    EXPECT_TRUE(on);
    EXPECT_EQ(component.Control()->Stats().sessionsMaintaining, 1);
    for (int close = 0; close < 2; ++close)
        ASSERT_EQ(session.As<ble::IClosable>()->Close(), S_OK);
    EXPECT_EQ(session->put_MaintainConnection(FALSE), RO_E_CLOSED);
    const winrt_bluetooth::ComponentStats stats = component.Control()->Stats();
    EXPECT_EQ(stats.sessionsOpened, 1);
    EXPECT_EQ(stats.sessionsOpen, 0);
    EXPECT_EQ(stats.sessionsMaintaining, 0);
    EXPECT_EQ(stats.sessionsClosedMaintaining, 1);
    EXPECT_EQ(stats.repeatedCloses, 1);

    device.Reset();
    radio().SetRadioAvailable(false);  // no device for the id any more
    ASSERT_EQ(sessions->FromDeviceIdAsync(id.Get(), op.Put()), S_OK);
    EXPECT_EQ(Await(op), AsyncStatus::Error);
}

} // namespace
