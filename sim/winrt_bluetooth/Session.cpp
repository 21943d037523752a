// What keeps a device's link and makes it quick: the device's id, its GattSession (statics
// FromDeviceIdAsync, MaintainConnection) over the radio's device, and Windows 11's preferred
// connection parameters with their requests.
#include "AsyncOperation.h"
#include "Classes.h"
#include "Gatt.h"

namespace winrt_bluetooth {

namespace {

constexpr wchar_t kDeviceIdClass[] = L"Windows.Devices.Bluetooth.BluetoothDeviceId";
constexpr wchar_t kSessionOperationClass[] =
    L"Windows.Foundation.IAsyncOperation`1<Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession>";
constexpr wchar_t kParametersClass[] = L"Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParameters";
constexpr wchar_t kRequestClass[] = L"Windows.Devices.Bluetooth.BluetoothLEPreferredConnectionParametersRequest";

class BluetoothId final : public Object<abi::IBluetoothDeviceId> {
public:
    explicit BluetoothId(UINT64 address) : Object(kDeviceIdClass), address_(address) {}
    HRESULT STDMETHODCALLTYPE get_Id(HSTRING *value) override { return NewString(DeviceId(address_), value); }
    HRESULT STDMETHODCALLTYPE get_IsClassicDevice(boolean *value) override { return Give(value, FALSE); }
    HRESULT STDMETHODCALLTYPE get_IsLowEnergyDevice(boolean *value) override { return Give(value, TRUE); }

private:
    const UINT64 address_;
};

// A session holds the radio's device open, and so keeps its link, for as long as it is open;
// with MaintainConnection on, Windows also waits for the device and connects it whenever it can
// (Microsoft Learn: GattSession.MaintainConnection). Closing it, or letting go of it, ends both.
class Session final : public Object<abi::IGattSession, abi::IClosable> {
public:
    Session(std::shared_ptr<radio::Device> device, UINT64 address)
        : Object(kGattSessionClass), device_(std::move(device)), address_(address)
    {
        ++Count().sessionsOpened;
        ++Count().sessionsOpen;
        StatsChanged();
    }
    HRESULT STDMETHODCALLTYPE get_DeviceId(abi::IBluetoothDeviceId **value) override
    {
        return Guarded([&] { return Lend(NewDeviceId(address_), value); });
    }
    // True for Bluetooth LE devices (Microsoft Learn: DeviceConnectionChangeTrigger.CanMaintainConnection).
    HRESULT STDMETHODCALLTYPE get_CanMaintainConnection(boolean *value) override { return Give(value, TRUE); }
    HRESULT STDMETHODCALLTYPE put_MaintainConnection(boolean value) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return RO_E_CLOSED;
        return Guarded([&] {
            device_->MaintainConnection(value != 0);
            if ((value != 0) != maintaining_)
                Count().sessionsMaintaining += value ? 1 : -1;
            maintaining_ = value != 0;
            StatsChanged();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_MaintainConnection(boolean *value) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return RO_E_CLOSED;
        return Give(value, maintaining_);
    }
    NOT_SERVED(get_MaxPduSize(UINT16 *))
    NOT_SERVED(get_SessionStatus(abi::GattSessionStatus *))
    NOT_SERVED(add_MaxPduSizeChanged(IUnknown *, EventRegistrationToken *))
    NOT_SERVED(remove_MaxPduSizeChanged(EventRegistrationToken))
    NOT_SERVED(add_SessionStatusChanged(IUnknown *, EventRegistrationToken *))
    NOT_SERVED(remove_SessionStatusChanged(EventRegistrationToken))
    HRESULT STDMETHODCALLTYPE Close() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            ++Count().repeatedCloses;
            return S_OK;
        }
        return Guarded([&] {
            CloseLocked();
            return S_OK;
        });
    }

private:
    ~Session() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return;
        ++Count().unclosedReleases;
        Guarded([&] {
            CloseLocked();
            return S_OK;
        });
    }
    void CloseLocked()
    {
        closed_ = true;
        --Count().sessionsOpen;
        if (maintaining_) {
            ++Count().sessionsClosedMaintaining;
            --Count().sessionsMaintaining;
            device_->MaintainConnection(false);
        }
        device_->Close();
        StatsChanged();
    }

    std::mutex mutex_;
    const std::shared_ptr<radio::Device> device_;
    const UINT64 address_;
    bool maintaining_ = false;
    bool closed_ = false;
};

class SessionStatics final : public Object<IActivationFactory, abi::IGattSessionStatics> {
public:
    SessionStatics() : Object(kGattSessionClass) {}
    NOT_SERVED(ActivateInstance(IInspectable **))
    // A session for a device the radio does not know (or without radio) fails with
    // ERROR_NOT_FOUND.
    HRESULT STDMETHODCALLTYPE FromDeviceIdAsync(abi::IBluetoothDeviceId *deviceId, abi::IAsyncOperation_GattSession **operation) override
    {
        if (!deviceId)
            return E_INVALIDARG;
        if (!operation)
            return E_POINTER;
        HSTRING id = nullptr;
        const HRESULT hr = deviceId->get_Id(&id);
        if (FAILED(hr))
            return hr;
        UINT32 length = 0;
        const wchar_t *raw = WindowsGetStringRawBuffer(id, &length);
        UINT64 address = 0;
        const bool named = AddressFromId(std::wstring(raw ? raw : L"", length), &address);
        WindowsDeleteString(id);
        return Lend(AsyncOperation<abi::IAsyncOperation_GattSession>::Start(
                        kSessionOperationClass,
                        [named, address]() -> abi::IGattSession * {
                            std::shared_ptr<radio::Device> device = named ? Radio().FromBluetoothAddress(address) : nullptr;
                            if (!device)
                                throw radio::PlatformError(HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
                            auto session = Make<Session>(std::move(device), address);
                            session->AddRef();
                            return session.Get();
                        }),
                    operation);
    }
};

// The three parameter sets carry no values the component serves: what Windows puts in them is
// not documented.
class Parameters final : public Object<abi::IBluetoothLEPreferredConnectionParameters> {
public:
    Parameters() : Object(kParametersClass) {}
    NOT_SERVED(get_LinkTimeout(UINT16 *))
    NOT_SERVED(get_ConnectionLatency(UINT16 *))
    NOT_SERVED(get_MinConnectionInterval(UINT16 *))
    NOT_SERVED(get_MaxConnectionInterval(UINT16 *))
};

class ParametersStatics final : public Object<IActivationFactory, abi::IBluetoothLEPreferredConnectionParametersStatics> {
public:
    ParametersStatics() : Object(kParametersClass) {}
    NOT_SERVED(ActivateInstance(IInspectable **))
    HRESULT STDMETHODCALLTYPE get_Balanced(abi::IBluetoothLEPreferredConnectionParameters **value) override { return Made(value); }
    HRESULT STDMETHODCALLTYPE get_ThroughputOptimized(abi::IBluetoothLEPreferredConnectionParameters **value) override
    {
        return Made(value);
    }
    HRESULT STDMETHODCALLTYPE get_PowerOptimized(abi::IBluetoothLEPreferredConnectionParameters **value) override { return Made(value); }

private:
    static HRESULT Made(abi::IBluetoothLEPreferredConnectionParameters **value)
    {
        return Guarded([&] { return Lend(Make<Parameters>(), value); });
    }
};

// Answered when made: Success while the device is connected, DeviceNotAvailable otherwise. The
// preference holds while the request is open; the class is IClosable (Microsoft Learn:
// BluetoothLEPreferredConnectionParametersRequest).
class Request final : public Object<abi::IBluetoothLEPreferredConnectionParametersRequest, abi::IClosable> {
public:
    using Status = abi::BluetoothLEPreferredConnectionParametersRequestStatus;
    explicit Request(Status status) : Object(kRequestClass), status_(status)
    {
        ++Count().requestsOpen;
        if (status == Status::Success)
            ++Count().requestsGranted;
        StatsChanged();
    }
    HRESULT STDMETHODCALLTYPE get_Status(Status *value) override
    {
        if (closed_.load())
            return RO_E_CLOSED;
        return Give(value, status_);
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        if (closed_.exchange(true))
            ++Count().repeatedCloses;
        else
            --Count().requestsOpen;
        StatsChanged();
        return S_OK;
    }

private:
    ~Request() override
    {
        if (closed_.exchange(true))
            return;
        --Count().requestsOpen;
        ++Count().unclosedReleases;
        StatsChanged();
    }
    const Status status_;
    std::atomic<bool> closed_{false};
};

} // namespace

ComRef<abi::IBluetoothDeviceId> NewDeviceId(UINT64 address) { return Make<BluetoothId>(address); }

ComRef<abi::IBluetoothLEPreferredConnectionParametersRequest> NewParametersRequest(radio::Device &device)
{
    const bool connected = device.GetConnectionStatus() == radio::ConnectionStatus::Connected;
    if (connected)
        device.RequestLowLatency();
    return Make<Request>(connected ? Request::Status::Success : Request::Status::DeviceNotAvailable);
}

ComRef<IActivationFactory> NewGattSessionStatics() { return Make<SessionStatics>(); }
ComRef<IActivationFactory> NewPreferredParametersStatics() { return Make<ParametersStatics>(); }

} // namespace winrt_bluetooth
