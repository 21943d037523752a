// What the backend asks of Windows to keep a device's link and make it quick: a GattSession with
// MaintainConnection on, Windows 11's preferred connection parameters, and the order in which
// they and the device are let go.
#include "Activation.h"
#include "Await.h"
#include "HString.h"
#include "WinrtObjects.h"

#include <exception>

namespace tarvolt::radio::winrt {

namespace {

// Closes an object through IClosable and lets it go, whatever the close answers.
template <class T>
void CloseAndRelease(ComRef<T> object)
{
    ComRef<bleabi::IClosable> closable;
    HRESULT hr = object->QueryInterface(__uuidof(bleabi::IClosable), reinterpret_cast<void **>(closable.Put()));
    if (SUCCEEDED(hr))
        hr = closable->Close();
    Check(hr);
}

// Another interface of the device, or none when this Windows does not have it (E_NOINTERFACE).
template <class T>
ComRef<T> Optional(const ComRef<bleabi::IBluetoothLEDevice> &device)
{
    ComRef<T> out;
    const HRESULT hr = device->QueryInterface(__uuidof(T), reinterpret_cast<void **>(out.Put()));
    if (hr != E_NOINTERFACE)
        Check(hr);
    return out;
}

// Whether this Windows has the preferred connection parameters (Windows 11, 10.0.22000): asked
// of ApiInformation, as Microsoft advises for an API newer than the oldest Windows a program
// runs on. Where ApiInformation itself cannot be had, the API is taken as absent.
bool PreferredParametersPresent()
{
    try {
        auto statics = GetActivationFactory<bleabi::IApiInformationStatics>(kApiInformationClass);
        const StringReference type(kDeviceClass), method(L"RequestPreferredConnectionParameters");
        boolean present = 0;
        Check(statics->IsMethodPresent(type.Get(), method.Get(), &present));
        return present != 0;
    } catch (const PlatformError &) {
        return false;
    }
}

// Runs each step, all of them even when one fails, then raises the first failure.
template <class... Steps>
void AllThenRaise(Steps &&...steps)
{
    std::exception_ptr first;
    auto run = [&](auto &step) {
        try {
            step();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    };
    (run(steps), ...);
    if (first)
        std::rethrow_exception(first);
}

} // namespace

WinrtDevice::~WinrtDevice()
{
    try {
        ReleaseRequest();
    } catch (...) {
    }
    try {
        ReleaseSession();
    } catch (...) {
    }
}

void WinrtDevice::ReleaseSession()
{
    ComRef<bleabi::IGattSession> session = std::move(session_);  // gone from here on, whatever fails
    if (!session)
        return;
    // Our own session is one more holder of the link: off first, so that closing it cannot
    // leave Windows keeping the link for a session nobody holds.
    AllThenRaise([&] { Check(session->put_MaintainConnection(FALSE)); }, [&] { CloseAndRelease(std::move(session)); });
}

void WinrtDevice::ReleaseRequest()
{
    ComRef<bleabi::IBluetoothLEPreferredConnectionParametersRequest> request = std::move(request_);
    if (request)
        CloseAndRelease(std::move(request));
}

void WinrtDevice::MaintainConnection(bool on)
{
    if (!on) {
        ReleaseSession();
        return;
    }
    if (session_)
        return;  // maintained already
    auto device4 = Optional<bleabi::IBluetoothLEDevice4>(device_);
    if (!device4)
        return;  // before Windows 10 1709: no device id to open a session with
    ComRef<bleabi::IBluetoothDeviceId> id;
    Check(device4->get_BluetoothDeviceId(id.Put()));
    if (!id)
        Check(E_POINTER);
    auto statics = GetActivationFactory<bleabi::IGattSessionStatics>(kGattSessionClass);
    ComRef<bleabi::IAsyncOperation_GattSession> operation;
    Check(statics->FromDeviceIdAsync(id.Get(), operation.Put()));
    session_ = ComRef<bleabi::IGattSession>::Attach(Await(operation));
    if (!session_)
        Check(E_POINTER);
    try {
        boolean can = 0;
        Check(session_->get_CanMaintainConnection(&can));
        if (can)
            Check(session_->put_MaintainConnection(TRUE));
        else
            ReleaseSession();
    } catch (...) {
        // A session that does not maintain the link is of no use: closed at once.
        try {
            ReleaseSession();
        } catch (...) {
        }
        throw;
    }
}

bool WinrtDevice::RequestLowLatency()
{
    ReleaseRequest();
    if (!PreferredParametersPresent())
        return false;
    auto device6 = Optional<bleabi::IBluetoothLEDevice6>(device_);
    if (!device6)
        return false;
    auto statics = GetActivationFactory<bleabi::IBluetoothLEPreferredConnectionParametersStatics>(kPreferredParametersClass);
    ComRef<bleabi::IBluetoothLEPreferredConnectionParameters> parameters;
    Check(statics->get_ThroughputOptimized(parameters.Put()));
    if (!parameters)
        Check(E_POINTER);
    Check(device6->RequestPreferredConnectionParameters(parameters.Get(), request_.Put()));
    if (!request_)
        Check(E_POINTER);
    using Status = bleabi::BluetoothLEPreferredConnectionParametersRequestStatus;
    Status status = Status::Unspecified;
    Check(request_->get_Status(&status));
    if (status == Status::Success)
        return true;
    ReleaseRequest();  // declined (not connected, access denied): nothing in force to hold
    return false;
}

void WinrtDevice::Close()
{
    AllThenRaise([&] { ReleaseRequest(); }, [&] { ReleaseSession(); },
                 [&] { Check(device_.As<bleabi::IClosable>()->Close()); });
}

} // namespace tarvolt::radio::winrt
