#pragma once
// The base of the component's Windows Runtime objects: IUnknown and IInspectable for a set of
// declared interfaces, IAgileObject (every Bluetooth class is agile, so callers use its objects
// from any thread), the runtime class name Windows reports, and a count of live objects so that
// tests see what a caller leaks.
#include "Component.h"
#include "bluetooth/winrt/BleAbi.h"
#include "bluetooth/winrt/ComRef.h"
#include "bluetooth/winrt/WinrtResults.h"

#include <objidl.h>

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <tuple>

// A slot the driver never calls and the component does not serve.
#define NOT_SERVED(signature) \
    HRESULT STDMETHODCALLTYPE signature override { return E_NOTIMPL; }

namespace winrt_bluetooth {

namespace abi = bleabi;
namespace radio = tarvolt::radio;
using tarvolt::radio::winrt::ComRef;

template <class... Ifaces>
class Object : public Ifaces..., public IAgileObject {
    using First = std::tuple_element_t<0, std::tuple<Ifaces...>>;

public:
    explicit Object(const wchar_t *className) : className_(className) { ++Count().liveObjects; }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable))
            *out = static_cast<IInspectable *>(static_cast<First *>(this));
        else if (iid == __uuidof(IAgileObject))
            *out = static_cast<IAgileObject *>(this);
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
    // A reference from a holder that must not keep the object alive: fails once the object's
    // last reference has gone.
    bool TryAddRef()
    {
        ULONG refs = refs_.load();
        while (refs != 0)
            if (refs_.compare_exchange_weak(refs, refs + 1))
                return true;
        return false;
    }

    HRESULT STDMETHODCALLTYPE GetIids(ULONG *count, IID **iids) override
    {
        if (!count || !iids)
            return E_POINTER;
        const IID all[] = {__uuidof(Ifaces)...};
        *iids = static_cast<IID *>(CoTaskMemAlloc(sizeof all));
        if (!*iids)
            return E_OUTOFMEMORY;
        std::copy(std::begin(all), std::end(all), *iids);
        *count = static_cast<ULONG>(sizeof...(Ifaces));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING *name) override
    {
        if (!name)
            return E_POINTER;
        return WindowsCreateString(className_, static_cast<UINT32>(wcslen(className_)), name);
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel *level) override
    {
        if (!level)
            return E_POINTER;
        *level = BaseTrust;
        return S_OK;
    }

protected:
    virtual ~Object() { --Count().liveObjects; }

private:
    const wchar_t *className_;
    std::atomic<ULONG> refs_{1};
};

template <class T, class... Args>
ComRef<T> Make(Args &&...args)
{
    return ComRef<T>::Attach(new T(std::forward<Args>(args)...));
}

// Hands out a counted reference through an out parameter.
template <class T, class U>
HRESULT Lend(const ComRef<T> &ref, U **out)
{
    if (!out)
        return E_POINTER;
    *out = ref.Get();
    if (*out)
        (*out)->AddRef();
    return S_OK;
}

// A delegate of the caller that the component holds (an event handler, a completion handler),
// counted: once the caller has let go of everything, the component must hold none, or the
// caller's library could not be unloaded safely.
template <class Delegate>
class HeldDelegate {
public:
    explicit HeldDelegate(Delegate *delegate) : delegate_(ComRef<Delegate>::Borrow(delegate)) { ++Count().heldDelegates; }
    ~HeldDelegate() { --Count().heldDelegates; }
    HeldDelegate(const HeldDelegate &) = delete;
    HeldDelegate &operator=(const HeldDelegate &) = delete;
    Delegate *Get() const { return delegate_.Get(); }

private:
    ComRef<Delegate> delegate_;
};

// How a handler registered on a simulated object reaches the Windows Runtime object that wraps
// it, which the event names as its sender: only while that object lives, so that the
// registration does not keep it alive.
template <class T>
class Anchor {
public:
    explicit Anchor(T *object) : object_(object) {}
    ComRef<T> Lock()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (object_ && object_->TryAddRef())
            return ComRef<T>::Attach(object_);
        return {};
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        object_ = nullptr;
    }

private:
    std::mutex mutex_;
    T *object_;
};

// Writes a value through an out parameter.
template <class T, class V>
HRESULT Give(T *out, V value)
{
    if (!out)
        return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
}

// A new HSTRING holding the text (a null HSTRING for empty text, as Windows returns it).
HRESULT NewString(const std::u16string &text, HSTRING *out);

// Runs a call into the simulated radio and turns what it raises into a result code.
template <class Body>
HRESULT Guarded(Body &&body) noexcept
{
    try {
        return body();
    } catch (const radio::PlatformError &e) {
        return FAILED(e.Code()) ? e.Code() : E_FAIL;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace winrt_bluetooth
