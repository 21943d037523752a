#pragma once
// IAsyncOperation<T> as the platform's operations behave: the work starts on a thread of the
// component's own as soon as the operation is made; the completion handler is called exactly
// once, on that thread or inside put_Completed (see Completion); Cancel ends a running
// operation as Canceled at once, whatever its work is still doing, and a result that comes
// later is dropped; Close is refused while the operation runs.
#include "Object.h"

#include <asyncinfo.h>

#include <condition_variable>
#include <memory>
#include <type_traits>

namespace winrt_bluetooth {

template <class Op>
class AsyncOperation final : public Object<Op, IAsyncInfo> {
public:
    using Result = typename Op::Result;
    using Handler = typename Op::Handler;
    // Returns the result; for an object, one reference that the operation takes over.
    using Work = std::function<Result()>;

    static ComRef<Op> Start(const wchar_t *className, Work work)
    {
        auto op = ComRef<AsyncOperation>::Attach(new AsyncOperation(className, CurrentCompletion()));
        ++Count().operations;
        ComRef<AsyncOperation> self = op;
        RunOnComponentThread([self, work = std::move(work)]() mutable { self->Run(work); });
        if (op->completion_ == Completion::BeforeReturning) {
            std::unique_lock<std::mutex> lock(op->mutex_);
            op->changed_.wait(lock, [&] { return op->status_ != AsyncStatus::Started; });
        }
        return op;
    }

    // Completed: once; a second assignment is refused, as the platform refuses it.
    HRESULT STDMETHODCALLTYPE put_Completed(Handler *handler) override
    {
        if (!handler)
            return E_POINTER;
        std::unique_lock<std::mutex> lock(mutex_);
        if (closed_)
            return E_ILLEGAL_METHOD_CALL;
        if (handler_)
            return E_ILLEGAL_DELEGATE_ASSIGNMENT;
        handler_ = std::make_shared<HeldDelegate<Handler>>(handler);
        if (completion_ == Completion::InsidePutCompleted && status_ == AsyncStatus::Started) {
            waitingInPut_ = true;
            changed_.wait(lock, [&] { return ready_ || status_ != AsyncStatus::Started; });
            waitingInPut_ = false;
            if (status_ == AsyncStatus::Started)
                status_ = outcome_;
        }
        changed_.notify_all();
        auto claimed = ClaimLocked();
        lock.unlock();
        if (claimed) {
            ++Count().completedInsidePutCompleted;
            claimed->Get()->Invoke(this, status_.load());
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Completed(Handler **handler) override
    {
        if (!handler)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        *handler = handler_ ? handler_->Get() : nullptr;
        if (*handler)
            (*handler)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResults(Result *results) override
    {
        if (!results)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return E_ILLEGAL_METHOD_CALL;
        if (status_ == AsyncStatus::Error)
            return error_;
        if (status_ != AsyncStatus::Completed)
            return E_ILLEGAL_METHOD_CALL;
        *results = result_;
        if constexpr (std::is_pointer_v<Result>) {
            if (result_)
                result_->AddRef();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) override
    {
        if (!id)
            return E_POINTER;
        *id = id_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus *status) override
    {
        if (!status)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return E_ILLEGAL_METHOD_CALL;
        *status = status_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *code) override
    {
        if (!code)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return E_ILLEGAL_METHOD_CALL;
        *code = status_ == AsyncStatus::Error      ? error_
                : status_ == AsyncStatus::Canceled ? HRESULT_FROM_WIN32(ERROR_CANCELLED)
                                                   : S_OK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (closed_)
            return E_ILLEGAL_METHOD_CALL;
        if (status_ != AsyncStatus::Started)
            return S_OK;  // finished already: nothing to cancel
        status_ = AsyncStatus::Canceled;
        ++Count().canceled;
        changed_.notify_all();
        // A put_Completed waiting for the work reports the cancellation itself.
        auto claimed = waitingInPut_ ? nullptr : ClaimLocked();
        lock.unlock();
        if (!claimed)
            return S_OK;
        if (completion_ == Completion::OnComponentThread) {
            ComRef<AsyncOperation> self = ComRef<AsyncOperation>::Borrow(this);
            RunOnComponentThread([self, claimed] {
                ++Count().completedOnComponentThread;
                claimed->Get()->Invoke(self.Get(), AsyncStatus::Canceled);
            });
        } else {
            ++Count().completedInsideCancel;
            claimed->Get()->Invoke(this, AsyncStatus::Canceled);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return S_OK;
        if (status_ == AsyncStatus::Started)
            return E_ILLEGAL_STATE_CHANGE;
        closed_ = true;
        return S_OK;
    }

private:
    AsyncOperation(const wchar_t *className, Completion completion)
        : Object<Op, IAsyncInfo>(className), completion_(completion), id_(++nextId_)
    {
    }
    ~AsyncOperation() override
    {
        if constexpr (std::is_pointer_v<Result>) {
            if (result_)
                result_->Release();
        }
    }

    // On the operation's thread.
    void Run(Work &work)
    {
        Result result{};
        const HRESULT hr = Guarded([&] {
            result = work();
            return S_OK;
        });
        work = nullptr;  // what the work held goes before the caller hears of the end
        std::unique_lock<std::mutex> lock(mutex_);
        result_ = result;  // kept (and released with the operation) even when it came too late
        error_ = hr;
        outcome_ = SUCCEEDED(hr) ? AsyncStatus::Completed : AsyncStatus::Error;
        ready_ = true;
        changed_.notify_all();
        if (status_ != AsyncStatus::Started || completion_ == Completion::InsidePutCompleted)
            return;  // canceled already, or put_Completed reports the end
        if (completion_ == Completion::OnComponentThread) {
            changed_.wait(lock, [&] { return handler_ || status_ != AsyncStatus::Started; });
            if (status_ != AsyncStatus::Started)
                return;
        }
        status_ = outcome_;
        changed_.notify_all();
        auto claimed = ClaimLocked();
        lock.unlock();
        if (claimed) {
            ++Count().completedOnComponentThread;
            claimed->Get()->Invoke(this, outcome_);
        }
    }

    // The handler to call now, when there is one, the operation has ended and nobody called it
    // yet; the caller then calls it, without the lock.
    std::shared_ptr<HeldDelegate<Handler>> ClaimLocked()
    {
        if (!handler_ || invoked_ || status_ == AsyncStatus::Started)
            return nullptr;
        invoked_ = true;
        return handler_;
    }

    static inline std::atomic<UINT32> nextId_{0};

    std::mutex mutex_;
    std::condition_variable changed_;
    const Completion completion_;
    const UINT32 id_;
    std::atomic<AsyncStatus> status_{AsyncStatus::Started};
    AsyncStatus outcome_ = AsyncStatus::Started;  // what the work ended with
    bool ready_ = false;                          // the work has ended
    Result result_{};
    HRESULT error_ = S_OK;
    std::shared_ptr<HeldDelegate<Handler>> handler_;
    bool invoked_ = false;
    bool waitingInPut_ = false;
    bool closed_ = false;
};

} // namespace winrt_bluetooth
