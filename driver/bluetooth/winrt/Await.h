#pragma once
// Blocks the calling thread until a Windows Runtime asynchronous operation has finished, and
// returns its result. A cancelled operation raises PlatformError(kCanceled); one that ended in
// error raises PlatformError with its error code. The wait also ends when the worker's stop
// signal is raised (the device is being deactivated): the operation is then cancelled and the
// call fails as for a cancelled operation, without waiting for the platform to confirm it (an
// operation against a half-reachable device may take tens of seconds to give up).
#include "../StopSignal.h"
#include "Delegates.h"

#include <asyncinfo.h>

namespace tarvolt::radio::winrt {

// For object results the caller owns the one reference returned (wrap it with Attach).
template <class Operation>
typename Operation::Result Await(const ComRef<Operation> &operation)
{
    if (!operation)
        throw PlatformError(static_cast<ResultCode>(E_POINTER));
    ComRef<IAsyncInfo> info = operation.template As<IAsyncInfo>();
    AsyncStatus status = AsyncStatus::Started;
    Check(info->get_Status(&status));
    if (status == AsyncStatus::Started) {
        StopSignal &stop = WorkerStop();
        if (!stop.Raised()) {
            // The handler may run inside put_Completed when the operation finishes meanwhile;
            // the event it sets then simply ends the wait at once.
            ComRef<CompletionHandler<Operation>> handler = CompletionHandler<Operation>::Create();
            Check(operation->put_Completed(handler.Get()));
            status = handler->Wait(static_cast<HANDLE>(stop.PlatformEvent()));
        }
        if (status == AsyncStatus::Started) {
            // Its result no longer matters; the platform ends it in its own time and releases
            // the handler then (the handler owns what it touches).
            info->Cancel();
            throw PlatformError(kCanceled);
        }
    }
    if (status == AsyncStatus::Canceled)
        throw PlatformError(kCanceled);
    if (status == AsyncStatus::Error) {
        HRESULT code = E_FAIL;
        Check(info->get_ErrorCode(&code));
        throw PlatformError(static_cast<ResultCode>(FAILED(code) ? code : E_FAIL));
    }
    typename Operation::Result result{};
    Check(operation->GetResults(&result));
    return result;
}

} // namespace tarvolt::radio::winrt
