#pragma once
// A counted reference to a COM / Windows Runtime object, and the rule that turns a failing
// result code into PlatformError.
#include "../Radio.h"

#include <windows.h>
#include <unknwn.h>

#include <type_traits>
#include <utility>

namespace tarvolt::radio::winrt {

inline void Check(HRESULT hr)
{
    if (FAILED(hr))
        throw PlatformError(static_cast<ResultCode>(hr));
}

template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef &other) : p_(other.p_) { AddRef(); }
    ComRef(ComRef &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    // From a reference to a derived interface or object.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U *, T *>>>
    ComRef(const ComRef<U> &other) : p_(other.Get()) { AddRef(); }
    ~ComRef() { Reset(); }
    ComRef &operator=(ComRef other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a reference the caller already owns (an out parameter's result).
    static ComRef Attach(T *p)
    {
        ComRef r;
        r.p_ = p;
        return r;
    }
    // Adds a reference of its own (a pointer the platform lends for the length of a call).
    static ComRef Borrow(T *p)
    {
        ComRef r;
        r.p_ = p;
        r.AddRef();
        return r;
    }

    T *Get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: drops what was held and hands out the slot.
    T **Put()
    {
        Reset();
        return &p_;
    }
    void Reset()
    {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }

    // Another interface of the same object; a missing interface raises PlatformError.
    template <class U>
    ComRef<U> As() const
    {
        ComRef<U> other;
        Check(p_ ? p_->QueryInterface(__uuidof(U), reinterpret_cast<void **>(other.Put())) : E_POINTER);
        return other;
    }

private:
    void AddRef()
    {
        if (p_)
            p_->AddRef();
    }
    T *p_ = nullptr;
};

} // namespace tarvolt::radio::winrt
