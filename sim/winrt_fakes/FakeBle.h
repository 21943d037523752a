#pragma once
// Fake Bluetooth LE objects of the Windows Runtime, implementing the declared interfaces. Each
// records what the backend asked of it, and raises its events as Windows does: on a thread of
// the platform's own, with the arguments Windows passes (see each Raise... below).
#include "FakeAsync.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fakes {

namespace abi = bleabi;

inline HSTRING NewString(const std::wstring &text)
{
    HSTRING s = nullptr;
    if (!text.empty())
        WindowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), &s);
    return s;
}

// The delegates added to one event, by token.
template <class Handler>
class FakeEvent {
public:
    HRESULT Add(Handler *handler, EventRegistrationToken *token)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        token->value = ++next_;
        handlers_[token->value] = ComRef<Handler>::Borrow(handler);
        return S_OK;
    }
    HRESULT Remove(EventRegistrationToken token)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return handlers_.erase(token.value) ? S_OK : E_INVALIDARG;
    }
    std::vector<ComRef<Handler>> Handlers()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<ComRef<Handler>> out;
        for (auto &entry : handlers_)
            out.push_back(entry.second);
        return out;
    }
    // Raises the event as the platform does: on a thread of its own, never the caller's (the
    // classes are agile and their events come from the thread pool). Returns once every handler
    // has returned, with the last handler's result, so that a test sees the handlers' effects.
    template <class Sender, class Args>
    HRESULT Raise(Sender sender, Args args)
    {
        HRESULT hr = S_OK;
        std::thread([&] {
            for (auto &handler : Handlers())
                hr = handler->Invoke(sender, args);
        }).join();
        return hr;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handlers_.clear();
    }

private:
    std::mutex mutex_;
    INT64 next_ = 0;
    std::map<INT64, ComRef<Handler>> handlers_;
};

class FakeAdvertisement final : public FakeObject<abi::IBluetoothLEAdvertisement> {
public:
    explicit FakeAdvertisement(std::wstring name) : name_(std::move(name)) {}
    FAKE_NOTIMPL(get_Flags(IInspectable **))
    FAKE_NOTIMPL(put_Flags(IInspectable *))
    HRESULT STDMETHODCALLTYPE get_LocalName(HSTRING *value) override
    {
        *value = NewString(name_);
        return S_OK;
    }
    FAKE_NOTIMPL(put_LocalName(HSTRING))
    FAKE_NOTIMPL(get_ServiceUuids(IInspectable **))
    FAKE_NOTIMPL(get_ManufacturerData(IInspectable **))
    FAKE_NOTIMPL(get_DataSections(IInspectable **))
    FAKE_NOTIMPL(GetManufacturerDataByCompanyId(UINT16, IInspectable **))
    FAKE_NOTIMPL(GetSectionsByType(BYTE, IInspectable **))

private:
    std::wstring name_;
};

class FakeReceivedArgs final : public FakeObject<abi::IBluetoothLEAdvertisementReceivedEventArgs> {
public:
    FakeReceivedArgs(std::wstring name, UINT64 address, INT16 rssi = -60)
        : advertisement_(Make<FakeAdvertisement>(std::move(name))), address_(address), rssi_(rssi)
    {
    }
    HRESULT STDMETHODCALLTYPE get_RawSignalStrengthInDBm(INT16 *value) override
    {
        *value = rssi_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddress(UINT64 *value) override
    {
        *value = address_;
        return S_OK;
    }
    FAKE_NOTIMPL(get_AdvertisementType(abi::BluetoothLEAdvertisementType *))
    FAKE_NOTIMPL(get_Timestamp(abi::DateTime *))
    HRESULT STDMETHODCALLTYPE get_Advertisement(abi::IBluetoothLEAdvertisement **value) override { return Lend(advertisement_, value); }

private:
    ComRef<FakeAdvertisement> advertisement_;
    UINT64 address_;
    INT16 rssi_;
};

class FakeStoppedArgs final : public FakeObject<abi::IBluetoothLEAdvertisementWatcherStoppedEventArgs> {
public:
    FAKE_NOTIMPL(get_Error(abi::BluetoothError *))
};

class FakeWatcher final : public FakeObject<abi::IBluetoothLEAdvertisementWatcher> {
public:
    FAKE_NOTIMPL(get_MinSamplingInterval(abi::TimeSpan *))
    FAKE_NOTIMPL(get_MaxSamplingInterval(abi::TimeSpan *))
    FAKE_NOTIMPL(get_MinOutOfRangeTimeout(abi::TimeSpan *))
    FAKE_NOTIMPL(get_MaxOutOfRangeTimeout(abi::TimeSpan *))
    HRESULT STDMETHODCALLTYPE get_Status(abi::BluetoothLEAdvertisementWatcherStatus *value) override
    {
        *value = status;
        return S_OK;
    }
    FAKE_NOTIMPL(get_ScanningMode(abi::BluetoothLEScanningMode *))
    HRESULT STDMETHODCALLTYPE put_ScanningMode(abi::BluetoothLEScanningMode value) override
    {
        scanningMode = value;
        return S_OK;
    }
    FAKE_NOTIMPL(get_SignalStrengthFilter(IInspectable **))
    FAKE_NOTIMPL(put_SignalStrengthFilter(IInspectable *))
    FAKE_NOTIMPL(get_AdvertisementFilter(IInspectable **))
    FAKE_NOTIMPL(put_AdvertisementFilter(IInspectable *))
    HRESULT STDMETHODCALLTYPE Start() override
    {
        {
            std::lock_guard<std::mutex> lock(startMutex_);
            ++starts;
        }
        started_.notify_all();
        if (SUCCEEDED(startResult))
            status = abi::BluetoothLEAdvertisementWatcherStatus::Started;
        return startResult;
    }
    // Waits until Start has been called `count` times in all.
    bool WaitForStarts(int count, std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(startMutex_);
        return started_.wait_for(lock, limit, [&] { return starts >= count; });
    }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        ++stops;
        status = abi::BluetoothLEAdvertisementWatcherStatus::Stopped;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_Received(abi::ITypedEventHandler_Watcher_Received *h, EventRegistrationToken *t) override { return received.Add(h, t); }
    HRESULT STDMETHODCALLTYPE remove_Received(EventRegistrationToken t) override { return received.Remove(t); }
    HRESULT STDMETHODCALLTYPE add_Stopped(abi::ITypedEventHandler_Watcher_Stopped *h, EventRegistrationToken *t) override { return stopped.Add(h, t); }
    HRESULT STDMETHODCALLTYPE remove_Stopped(EventRegistrationToken t) override { return stopped.Remove(t); }

    // One advertisement: the arguments are an object made for the event.
    HRESULT RaiseReceived(const std::wstring &name, UINT64 address, INT16 rssi = -60)
    {
        return received.Raise(static_cast<abi::IBluetoothLEAdvertisementWatcher *>(this),
                              Make<FakeReceivedArgs>(name, address, rssi).Get());
    }
    HRESULT RaiseStopped() { return stopped.Raise(static_cast<abi::IBluetoothLEAdvertisementWatcher *>(this), Make<FakeStoppedArgs>().Get()); }

    std::atomic<abi::BluetoothLEScanningMode> scanningMode{abi::BluetoothLEScanningMode::Passive};
    std::atomic<int> starts{0}, stops{0};
    std::atomic<abi::BluetoothLEAdvertisementWatcherStatus> status{abi::BluetoothLEAdvertisementWatcherStatus::Created};
    HRESULT startResult = S_OK;

private:
    std::mutex startMutex_;
    std::condition_variable started_;

public:
    FakeEvent<abi::ITypedEventHandler_Watcher_Received> received;
    FakeEvent<abi::ITypedEventHandler_Watcher_Stopped> stopped;
};

} // namespace fakes

#include "FakeGatt.h"
