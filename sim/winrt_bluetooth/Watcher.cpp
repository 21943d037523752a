// Windows.Devices.Bluetooth.Advertisement: the watcher and what its two events carry, over a
// watcher of the simulated radio.
#include "Classes.h"
#include "SimObjects.h"

namespace winrt_bluetooth {

namespace {

constexpr wchar_t kAdvertisementClass[] = L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisement";
constexpr wchar_t kReceivedClass[] = L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementReceivedEventArgs";
constexpr wchar_t kStoppedClass[] = L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcherStoppedEventArgs";
constexpr INT16 kSignalStrength = -60;  // dBm, every advertisement

// The time now as a Windows DateTime: 100 ns units since 1601-01-01.
abi::DateTime Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return {static_cast<INT64>((static_cast<UINT64>(now.dwHighDateTime) << 32) | now.dwLowDateTime)};
}

class Advertisement final : public Object<abi::IBluetoothLEAdvertisement> {
public:
    explicit Advertisement(std::u16string name) : Object(kAdvertisementClass), name_(std::move(name)) {}
    NOT_SERVED(get_Flags(IInspectable **))
    NOT_SERVED(put_Flags(IInspectable *))
    // An advertisement without a name gives an empty one.
    HRESULT STDMETHODCALLTYPE get_LocalName(HSTRING *value) override { return NewString(name_, value); }
    NOT_SERVED(put_LocalName(HSTRING))
    NOT_SERVED(get_ServiceUuids(IInspectable **))
    NOT_SERVED(get_ManufacturerData(IInspectable **))
    NOT_SERVED(get_DataSections(IInspectable **))
    NOT_SERVED(GetManufacturerDataByCompanyId(UINT16, IInspectable **))
    NOT_SERVED(GetSectionsByType(BYTE, IInspectable **))

private:
    const std::u16string name_;
};

class ReceivedArgs final : public Object<abi::IBluetoothLEAdvertisementReceivedEventArgs> {
public:
    ReceivedArgs(const std::u16string &name, UINT64 address)
        : Object(kReceivedClass), advertisement_(Make<Advertisement>(name)), address_(address), time_(Now())
    {
    }
    HRESULT STDMETHODCALLTYPE get_RawSignalStrengthInDBm(INT16 *value) override { return Give(value, kSignalStrength); }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) override { return Give(value, address_); }
    HRESULT STDMETHODCALLTYPE get_AdvertisementType(abi::BluetoothLEAdvertisementType *value) override
    {
        return Give(value, abi::BluetoothLEAdvertisementType{});  // ConnectableUndirected
    }
    HRESULT STDMETHODCALLTYPE get_Timestamp(abi::DateTime *value) override { return Give(value, time_); }
    HRESULT STDMETHODCALLTYPE get_Advertisement(abi::IBluetoothLEAdvertisement **value) override
    {
        return Lend(advertisement_, value);
    }

private:
    ComRef<Advertisement> advertisement_;
    const UINT64 address_;
    const abi::DateTime time_;
};

class StoppedArgs final : public Object<abi::IBluetoothLEAdvertisementWatcherStoppedEventArgs> {
public:
    explicit StoppedArgs(int32_t error) : Object(kStoppedClass), error_(error) {}
    HRESULT STDMETHODCALLTYPE get_Error(abi::BluetoothError *value) override
    {
        return Give(value, static_cast<abi::BluetoothError>(error_));
    }

private:
    const int32_t error_;
};

class Watcher final : public Object<abi::IBluetoothLEAdvertisementWatcher> {
public:
    explicit Watcher(std::shared_ptr<radio::Watcher> watcher)
        : Object(kWatcherClass), watcher_(std::move(watcher)), anchor_(std::make_shared<Anchor<Watcher>>(this))
    {
    }

    NOT_SERVED(get_MinSamplingInterval(abi::TimeSpan *))
    NOT_SERVED(get_MaxSamplingInterval(abi::TimeSpan *))
    NOT_SERVED(get_MinOutOfRangeTimeout(abi::TimeSpan *))
    NOT_SERVED(get_MaxOutOfRangeTimeout(abi::TimeSpan *))
    HRESULT STDMETHODCALLTYPE get_Status(abi::BluetoothLEAdvertisementWatcherStatus *value) override
    {
        std::lock_guard<std::mutex> lock(Radio().Mutex());
        return Give(value, static_cast<abi::BluetoothLEAdvertisementWatcherStatus>(Sim().status));
    }
    HRESULT STDMETHODCALLTYPE get_ScanningMode(abi::BluetoothLEScanningMode *value) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return Give(value, mode_);
    }
    HRESULT STDMETHODCALLTYPE put_ScanningMode(abi::BluetoothLEScanningMode value) override
    {
        if (value != abi::BluetoothLEScanningMode::Passive && value != abi::BluetoothLEScanningMode::Active &&
            value != abi::BluetoothLEScanningMode::None)
            return E_INVALIDARG;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            mode_ = value;
        }
        // The simulated radio knows passive and active scanning; None (no scan requests, for
        // extended advertisements only) counts as passive there.
        return Guarded([&] {
            watcher_->SetScanningMode(value == abi::BluetoothLEScanningMode::Active ? radio::ScanningMode::Active
                                                                                   : radio::ScanningMode::Passive);
            return S_OK;
        });
    }
    NOT_SERVED(get_SignalStrengthFilter(IInspectable **))
    NOT_SERVED(put_SignalStrengthFilter(IInspectable *))
    NOT_SERVED(get_AdvertisementFilter(IInspectable **))
    NOT_SERVED(put_AdvertisementFilter(IInspectable *))
    // Start fails, or leaves the status Created, as the radio's watcher does (a disabled
    // adapter: ERROR_DEVICE_NOT_AVAILABLE); without a radio the watcher is aborted and raises
    // Stopped (Microsoft Learn: BluetoothLEAdvertisementWatcher.Start).
    HRESULT STDMETHODCALLTYPE Start() override
    {
        return Guarded([&] {
            watcher_->Start();
            return S_OK;
        });
    }
    // Stop: Stopping, then Stopped with its event on the radio's thread; no effect when the
    // watcher is not scanning.
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        return Guarded([&] {
            watcher_->Stop();
            return S_OK;
        });
    }

    // Received: on the radio's thread while the watcher scans, never inside add_Received; the
    // arguments are an object made for each advertisement, never null.
    HRESULT STDMETHODCALLTYPE add_Received(abi::ITypedEventHandler_Watcher_Received *handler,
                                           EventRegistrationToken *token) override
    {
        if (!handler || !token)
            return E_INVALIDARG;
        auto held = std::make_shared<HeldDelegate<abi::ITypedEventHandler_Watcher_Received>>(handler);
        return Guarded([&] {
            token->value = watcher_->AddReceived(
                [held, anchor = anchor_](radio::Watcher &, radio::AdvertisementReceivedArgs &advert) -> radio::ResultCode {
                    ComRef<Watcher> sender = anchor->Lock();
                    if (!sender)
                        return radio::kOk;  // the watcher is gone: no event names it
                    auto args = Make<ReceivedArgs>(advert.LocalName(), advert.BluetoothAddress());
                    return held->Get()->Invoke(sender.Get(), args.Get());
                });
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE remove_Received(EventRegistrationToken token) override
    {
        return Guarded([&] {
            watcher_->RemoveReceived(token.value);
            return S_OK;
        });
    }
    // Stopped: on the radio's thread after a Stop, or when the platform ends or refuses the scan;
    // never inside add_Stopped; the arguments carry the error, never null.
    HRESULT STDMETHODCALLTYPE add_Stopped(abi::ITypedEventHandler_Watcher_Stopped *handler,
                                          EventRegistrationToken *token) override
    {
        if (!handler || !token)
            return E_INVALIDARG;
        auto held = std::make_shared<HeldDelegate<abi::ITypedEventHandler_Watcher_Stopped>>(handler);
        return Guarded([&] {
            token->value = watcher_->AddStopped([held, anchor = anchor_](radio::Watcher &stopped) -> radio::ResultCode {
                ComRef<Watcher> sender = anchor->Lock();
                if (!sender)
                    return radio::kOk;
                auto args = Make<StoppedArgs>(static_cast<sim::SimWatcher &>(stopped).stoppedError);
                return held->Get()->Invoke(sender.Get(), args.Get());
            });
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE remove_Stopped(EventRegistrationToken token) override
    {
        return Guarded([&] {
            watcher_->RemoveStopped(token.value);
            return S_OK;
        });
    }

private:
    ~Watcher() override { anchor_->Clear(); }
    sim::SimWatcher &Sim() { return static_cast<sim::SimWatcher &>(*watcher_); }

    const std::shared_ptr<radio::Watcher> watcher_;  // its handlers hold the caller's delegates
    const std::shared_ptr<Anchor<Watcher>> anchor_;
    std::mutex mutex_;
    abi::BluetoothLEScanningMode mode_ = abi::BluetoothLEScanningMode::Passive;
};

class WatcherFactory final : public Object<IActivationFactory> {
public:
    WatcherFactory() : Object(kWatcherClass) {}
    // The watcher's default constructor: a watcher of the radio, passive, not started.
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **instance) override
    {
        if (!instance)
            return E_POINTER;
        *instance = nullptr;
        return Guarded([&] {
            auto watcher = Make<Watcher>(Radio().CreateWatcher());
            *instance = static_cast<IInspectable *>(static_cast<abi::IBluetoothLEAdvertisementWatcher *>(watcher.Get()));
            watcher->AddRef();
            return S_OK;
        });
    }
};

} // namespace

ComRef<IActivationFactory> NewWatcherFactory() { return Make<WatcherFactory>(); }

} // namespace winrt_bluetooth
