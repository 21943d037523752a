#pragma once
// Delegates a test hands to the component: each calls a function with what the platform passed,
// and records which thread called it.
#include "bluetooth/winrt/BleAbi.h"
#include "bluetooth/winrt/ComRef.h"
#include "bluetooth/winrt/WinrtResults.h"

#include <objidl.h>

#include <atomic>
#include <functional>

namespace component_test {

using tarvolt::radio::winrt::ComRef;

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

} // namespace component_test
