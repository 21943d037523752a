#include "Activation.h"
#include "HString.h"

namespace tarvolt::radio::winrt {

ActivationFunctions &Activation()
{
    static ActivationFunctions functions{&RoGetActivationFactory, &RoActivateInstance, &CoIncrementMTAUsage};
    return functions;
}

namespace {

// Makes one activation request for the class, and repeats it once from inside the
// multithreaded apartment when the thread was in no apartment at all.
template <class Request>
void WithApartmentRetry(const wchar_t *className, Request request)
{
    const StringReference name(className);
    HRESULT hr = request(name.Get());
    if (hr == CO_E_NOTINITIALIZED) {
        // The usage is never given back: the process keeps its apartment for as long as the
        // driver may still call into the platform, and CoDecrementMTAUsage must not run while
        // the library unloads.
        CO_MTA_USAGE_COOKIE cookie = nullptr;
        Check(Activation().incrementMtaUsage(&cookie));
        hr = request(name.Get());
    }
    Check(hr);
}

} // namespace

void GetActivationFactory(const wchar_t *className, REFIID iid, void **factory)
{
    *factory = nullptr;
    WithApartmentRetry(className, [&](HSTRING name) { return Activation().getActivationFactory(name, iid, factory); });
    if (!*factory)
        Check(E_POINTER);
}

ComRef<IInspectable> ActivateInstance(const wchar_t *className)
{
    ComRef<IInspectable> instance;
    WithApartmentRetry(className, [&](HSTRING name) { return Activation().activateInstance(name, instance.Put()); });
    if (!instance)
        Check(E_POINTER);
    return instance;
}

} // namespace tarvolt::radio::winrt
