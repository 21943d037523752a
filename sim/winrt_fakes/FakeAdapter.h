#pragma once
// The machine's Bluetooth adapter and its radio as the Windows Runtime reports them: a default
// adapter or none, with or without Bluetooth LE, its radio on, off or disabled. Each lookup is an
// asynchronous operation finished the way a test chose.
#include "FakeAsync.h"

namespace fakes {

namespace abi = bleabi;

class FakeRadio final : public FakeObject<abi::IRadio> {
public:
    explicit FakeRadio(abi::RadioState state) : state_(state) {}
    FAKE_NOTIMPL(SetStateAsync(abi::RadioState, IInspectable **))
    FAKE_NOTIMPL(add_StateChanged(IUnknown *, EventRegistrationToken *))
    FAKE_NOTIMPL(remove_StateChanged(EventRegistrationToken))
    HRESULT STDMETHODCALLTYPE get_State(abi::RadioState *value) override
    {
        *value = state_;
        return S_OK;
    }
    FAKE_NOTIMPL(get_Name(HSTRING *))
    FAKE_NOTIMPL(get_Kind(INT32 *))

private:
    abi::RadioState state_;
};

class FakeAdapter final : public FakeObject<abi::IBluetoothAdapter> {
public:
    FAKE_NOTIMPL(get_DeviceId(HSTRING *))
    FAKE_NOTIMPL(get_BluetoothAddress(UINT64 *))
    FAKE_NOTIMPL(get_IsClassicSupported(boolean *))
    HRESULT STDMETHODCALLTYPE get_IsLowEnergySupported(boolean *value) override
    {
        *value = lowEnergy ? 1 : 0;
        return S_OK;
    }
    FAKE_NOTIMPL(get_IsPeripheralRoleSupported(boolean *))
    FAKE_NOTIMPL(get_IsCentralRoleSupported(boolean *))
    FAKE_NOTIMPL(get_IsAdvertisementOffloadSupported(boolean *))
    HRESULT STDMETHODCALLTYPE GetRadioAsync(abi::IAsyncOperation_Radio **operation) override
    {
        return Lend(radioOperation, operation);
    }

    bool lowEnergy = true;
    ComRef<abi::IAsyncOperation_Radio> radioOperation =
        Operation<abi::IAsyncOperation_Radio>(Finish::OnAnotherThread, Make<FakeRadio>(abi::RadioState::On).Get());
};

class FakeAdapterStatics final : public FakeObject<abi::IBluetoothAdapterStatics> {
public:
    FAKE_NOTIMPL(GetDeviceSelector(HSTRING *))
    FAKE_NOTIMPL(FromIdAsync(HSTRING, abi::IAsyncOperation_BluetoothAdapter **))
    HRESULT STDMETHODCALLTYPE GetDefaultAsync(abi::IAsyncOperation_BluetoothAdapter **operation) override
    {
        ++lookups;
        return Lend(defaultOperation, operation);
    }

    // Windows' default adapter; a machine without one gives a completed operation with null.
    ComRef<FakeAdapter> adapter = Make<FakeAdapter>();
    ComRef<abi::IAsyncOperation_BluetoothAdapter> defaultOperation =
        Operation<abi::IAsyncOperation_BluetoothAdapter>(Finish::OnAnotherThread, adapter.Get());
    std::atomic<int> lookups{0};
};

} // namespace fakes
