#pragma once
// Stands in for class activation: while one FakePlatform lives, the backend's activation seam
// hands out its fake objects by class name, after the failures a test scripted.
#include "FakeAdapter.h"
#include "FakeBle.h"
#include "bluetooth/winrt/Activation.h"

#include <deque>

namespace fakes {

class FakePlatform {
public:
    FakePlatform()
    {
        current_ = this;
        saved_ = tarvolt::radio::winrt::Activation();
        tarvolt::radio::winrt::Activation() = {&GetFactory, &Activate, &IncrementMtaUsage};
        factories[tarvolt::radio::winrt::kDeviceClass] = deviceStatics.As<IInspectable>();
        factories[tarvolt::radio::winrt::kDataReaderClass] = Make<FakeDataReaderStatics>().As<IInspectable>();
        instances[tarvolt::radio::winrt::kWatcherClass] = watcher.As<IInspectable>();
        factories[tarvolt::radio::winrt::kAdapterClass] = adapterStatics.As<IInspectable>();
        factories[tarvolt::radio::winrt::kDeviceInformationClass] = informationStatics.As<IInspectable>();
        factories[tarvolt::radio::winrt::kGattSessionClass] = sessionStatics.As<IInspectable>();
        factories[tarvolt::radio::winrt::kPreferredParametersClass] = parametersStatics.As<IInspectable>();
        factories[tarvolt::radio::winrt::kApiInformationClass] = apiInformation.As<IInspectable>();
        // No device connected, unless a test lists some.
        informationStatics->findOperation = Operation<abi::IAsyncOperation_DeviceInformationCollection>(Finish::Already,
            Make<FakeVectorView<abi::IVectorView_DeviceInformation, abi::IDeviceInformation>>(std::vector<ComRef<abi::IDeviceInformation>>{}).Get());
        trail.clear();
    }
    ~FakePlatform()
    {
        tarvolt::radio::winrt::Activation() = saved_;
        current_ = nullptr;
    }

    ComRef<FakeWatcher> watcher = Make<FakeWatcher>();
    ComRef<FakeDeviceStatics> deviceStatics = Make<FakeDeviceStatics>();
    ComRef<FakeAdapterStatics> adapterStatics = Make<FakeAdapterStatics>();
    ComRef<FakeDeviceInformationStatics> informationStatics = Make<FakeDeviceInformationStatics>();
    ComRef<FakeSessionStatics> sessionStatics = Make<FakeSessionStatics>();
    ComRef<FakeParametersStatics> parametersStatics = Make<FakeParametersStatics>();
    ComRef<FakeApiInformation> apiInformation = Make<FakeApiInformation>();

    // Results the next activation requests give before the normal answer, in order.
    std::deque<HRESULT> failures;
    // Class names asked for, one entry per request.
    std::vector<std::wstring> requests;
    int mtaIncrements = 0;
    std::map<std::wstring, ComRef<IInspectable>> factories;
    std::map<std::wstring, ComRef<IInspectable>> instances;

private:
    HRESULT Next(HSTRING name, std::map<std::wstring, ComRef<IInspectable>> &from, REFIID iid, void **out)
    {
        UINT32 length = 0;
        const wchar_t *raw = WindowsGetStringRawBuffer(name, &length);
        requests.emplace_back(raw, length);
        if (!failures.empty()) {
            const HRESULT hr = failures.front();
            failures.pop_front();
            return hr;
        }
        auto found = from.find(requests.back());
        if (found == from.end())
            return REGDB_E_CLASSNOTREG;
        return found->second->QueryInterface(iid, out);
    }
    static HRESULT WINAPI GetFactory(HSTRING name, REFIID iid, void **factory)
    {
        return current_->Next(name, current_->factories, iid, factory);
    }
    static HRESULT WINAPI Activate(HSTRING name, IInspectable **instance)
    {
        return current_->Next(name, current_->instances, __uuidof(IInspectable), reinterpret_cast<void **>(instance));
    }
    static HRESULT WINAPI IncrementMtaUsage(CO_MTA_USAGE_COOKIE *cookie)
    {
        ++current_->mtaIncrements;
        *cookie = reinterpret_cast<CO_MTA_USAGE_COOKIE>(1);
        return S_OK;
    }

    static inline FakePlatform *current_ = nullptr;
    tarvolt::radio::winrt::ActivationFunctions saved_{};
};

} // namespace fakes
