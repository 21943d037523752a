#pragma once
// A fake IAsyncOperation<T>: it finishes (completed, cancelled or failed) either before the
// caller looks, inside put_Completed, or on a thread of its own after put_Completed, the three
// ways the platform may finish one; or never, as an operation against a half-reachable device
// may not for tens of seconds, and then not even when it is cancelled.
#include "FakeCom.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace fakes {

enum class Finish { Already, InsidePutCompleted, OnAnotherThread, Never };
inline const char *FinishName(Finish finish)
{
    return finish == Finish::Already              ? "Already"
           : finish == Finish::InsidePutCompleted ? "InsidePutCompleted"
           : finish == Finish::OnAnotherThread    ? "OnAnotherThread"
                                                  : "Never";
}

template <class Op>
class FakeAsyncOperation final : public FakeObject<Op, IAsyncInfo> {
public:
    using Result = typename Op::Result;

    FakeAsyncOperation(Finish finish, AsyncStatus outcome, Result result, HRESULT errorCode = S_OK)
        : finish_(finish), outcome_(outcome), result_(result), errorCode_(errorCode)
    {
        if (finish_ == Finish::Already)
            status_ = outcome_;
        AddRefResult();
    }

    HRESULT STDMETHODCALLTYPE put_Completed(typename Op::Handler *handler) override
    {
        if (!handler)
            return E_POINTER;
        handler_ = ComRef<typename Op::Handler>::Borrow(handler);
        ++putCompletedCalls;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handlerGiven_ = true;
        }
        handlerGivenChanged_.notify_all();
        if (finish_ == Finish::InsidePutCompleted) {
            status_ = outcome_;
            return handler->Invoke(this, outcome_);
        }
        if (finish_ == Finish::OnAnotherThread) {
            completer_ = std::thread([this] {
                status_ = outcome_;
                handler_->Invoke(this, outcome_);
            });
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Completed(typename Op::Handler **handler) override { return Lend(handler_, handler); }
    HRESULT STDMETHODCALLTYPE GetResults(Result *results) override
    {
        if (status_ != Completed)
            return E_ILLEGAL_METHOD_CALL;
        *results = result_;
        AddRefResult();
        return S_OK;
    }

    FAKE_NOTIMPL(get_Id(UINT32 *))
    HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus *status) override
    {
        *status = status_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *code) override
    {
        *code = status_ == Error ? errorCode_ : S_OK;
        return S_OK;
    }
    // Only a request: the operation ends in its own time (a Never operation not at all) and
    // keeps its completion handler until then.
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        ++cancelCalls;
        return S_OK;
    }
    FAKE_NOTIMPL(Close())

    // Waits until the caller has attached its completion handler (it is then inside its wait).
    bool WaitForHandler(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return handlerGivenChanged_.wait_for(lock, limit, [this] { return handlerGiven_; });
    }

    // The handler the caller attached (to examine what the platform would be given).
    ComRef<typename Op::Handler> handler_;
    int putCompletedCalls = 0;
    std::atomic<int> cancelCalls{0};

private:
    ~FakeAsyncOperation() override
    {
        if (completer_.joinable())
            completer_.join();
        if constexpr (std::is_pointer_v<Result>) {
            if (result_)
                result_->Release();
        }
    }
    void AddRefResult()
    {
        if constexpr (std::is_pointer_v<Result>) {
            if (result_)
                result_->AddRef();
        }
    }

    const Finish finish_;
    const AsyncStatus outcome_;
    Result result_;
    const HRESULT errorCode_;
    std::atomic<AsyncStatus> status_{Started};
    std::thread completer_;
    std::mutex mutex_;
    std::condition_variable handlerGivenChanged_;
    bool handlerGiven_ = false;
};

template <class Op>
ComRef<Op> Operation(Finish finish, typename Op::Result result)
{
    return ComRef<Op>::Attach(new FakeAsyncOperation<Op>(finish, Completed, result));
}

} // namespace fakes
