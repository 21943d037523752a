#pragma once
// The objects we hand to the platform: event handlers and completion handlers. They are
// free-threaded (IAgileObject), so the platform calls them directly on its own threads; they
// keep what they use alive by counted reference; and nothing they run may throw across the
// platform's call: any error becomes the HRESULT that Invoke returns.
#include "ComRef.h"

#include <asyncinfo.h>
#include <objidl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <new>

namespace tarvolt::radio::winrt {

// Runs a handler body and turns whatever it throws into a result code for the platform.
template <class Body>
HRESULT Guarded(Body &&body) noexcept
{
    try {
        return body();
    } catch (const PlatformError &e) {
        return FAILED(e.Code()) ? e.Code() : E_FAIL;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// Delegate objects of ours that are alive, wherever their references are: once the worker has
// ended, the platform's. The library must not be unloaded while it may still release or call
// one (DeviceProvider::Cleanup keeps it loaded then).
inline std::atomic<int32_t> liveDelegates{0};

// IUnknown for a delegate interface plus the IAgileObject marker. The identity (IUnknown) is
// the delegate interface; anything else is E_NOINTERFACE.
template <class Iface>
class AgileObject : public Iface, public IAgileObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == __uuidof(Iface) || iid == __uuidof(IUnknown))
            *out = static_cast<Iface *>(this);
        else if (iid == __uuidof(IAgileObject))
            *out = static_cast<IAgileObject *>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
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

protected:
    AgileObject() { ++liveDelegates; }
    virtual ~AgileObject() { --liveDelegates; }

private:
    std::atomic<ULONG> refs_{1};
};

// Whether the platform may raise an event with a null argument. Each place that creates a
// delegate says which, beside the event's rule as Microsoft documents it.
enum class NullArgs { Refused, Accepted };

// A TypedEventHandler<Sender, Args> that calls a function. The function owns (by counted
// reference) whatever it refers to; the platform owns the delegate. A null sender leaves
// nothing to act on and is refused; a null argument is refused only for events whose argument
// is always an object, and otherwise reaches the function, which must not read it.
template <class Iface, NullArgs nullArgs>
class EventDelegate final : public AgileObject<Iface> {
public:
    using Sender = typename Iface::Sender;
    using Args = typename Iface::Args;
    using Function = std::function<HRESULT(Sender, Args)>;

    static ComRef<Iface> Create(Function function)
    {
        return ComRef<Iface>::Attach(new EventDelegate(std::move(function)));
    }

    HRESULT STDMETHODCALLTYPE Invoke(Sender sender, Args args) override
    {
        if (!sender || (!args && nullArgs == NullArgs::Refused))
            return E_POINTER;
        return Guarded([&] { return function_(sender, args); });
    }

private:
    explicit EventDelegate(Function function) : function_(std::move(function)) {}
    Function function_;
};

// AsyncOperationCompletedHandler<T>: records the final status and sets a manual-reset event
// that it owns, so the event stays valid for as long as the platform holds the handler.
// Completed: once, on any thread, even inside put_Completed if already finished; asyncInfo unread.
template <class Operation>
class CompletionHandler final : public AgileObject<typename Operation::Handler> {
public:
    static ComRef<CompletionHandler> Create()
    {
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!event)
            Check(HRESULT_FROM_WIN32(GetLastError()));
        return ComRef<CompletionHandler>::Attach(new CompletionHandler(event));
    }

    HRESULT STDMETHODCALLTYPE Invoke(Operation *, AsyncStatus status) override
    {
        status_.store(status);
        return SetEvent(event_) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }

    // Blocks until Invoke has run or `stop` (an event; may be null) is set, whichever comes
    // first; returns the status Invoke recorded, or Started when the stop came first.
    AsyncStatus Wait(HANDLE stop)
    {
        const HANDLE handles[2] = {event_, stop};
        // The completion first: when both are set, the finished operation's result counts.
        const DWORD woken = WaitForMultipleObjects(stop ? 2 : 1, handles, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0 + 1)
            return AsyncStatus::Started;
        if (woken != WAIT_OBJECT_0)
            Check(HRESULT_FROM_WIN32(GetLastError()));
        return status_.load();
    }

private:
    explicit CompletionHandler(HANDLE event) : event_(event) {}
    ~CompletionHandler() override { CloseHandle(event_); }
    HANDLE event_;
    std::atomic<AsyncStatus> status_{AsyncStatus::Started};
};

} // namespace tarvolt::radio::winrt
