#pragma once
// In-process stand-ins for Windows Runtime objects: a base that implements IUnknown and
// IInspectable for any set of declared interfaces and counts live objects, so tests see
// leaked or over-released references.
#include "bluetooth/winrt/BleAbi.h"
#include "bluetooth/winrt/ComRef.h"
#include "bluetooth/winrt/WinrtResults.h"

#include <atomic>
#include <tuple>

namespace fakes {

using tarvolt::radio::winrt::ComRef;

inline std::atomic<int> liveObjects{0};

#define FAKE_NOTIMPL(signature) \
    HRESULT STDMETHODCALLTYPE signature override { return E_NOTIMPL; }

template <class... Ifaces>
class FakeObject : public Ifaces... {
    using First = std::tuple_element_t<0, std::tuple<Ifaces...>>;

public:
    FakeObject() { ++liveObjects; }
    FakeObject(const FakeObject &) = delete;
    FakeObject &operator=(const FakeObject &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable))
            *out = static_cast<IInspectable *>(static_cast<First *>(this));
        else
            ((iid == __uuidof(Ifaces) ? (*out = static_cast<Ifaces *>(this), true) : false) || ...);
        if (!*out)
            return E_NOINTERFACE;
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
    FAKE_NOTIMPL(GetIids(ULONG *, IID **))
    FAKE_NOTIMPL(GetRuntimeClassName(HSTRING *))
    FAKE_NOTIMPL(GetTrustLevel(TrustLevel *))

protected:
    virtual ~FakeObject() { --liveObjects; }

private:
    std::atomic<ULONG> refs_{1};
};

template <class T, class... Args>
ComRef<T> Make(Args &&...args)
{
    return ComRef<T>::Attach(new T(std::forward<Args>(args)...));
}

// Hands out a counted reference as an out parameter.
template <class T, class U>
HRESULT Lend(const ComRef<T> &ref, U **out)
{
    *out = ref.Get();
    if (*out)
        (*out)->AddRef();
    return S_OK;
}

} // namespace fakes
