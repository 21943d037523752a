#pragma once
// Blocks the calling thread until a Windows Runtime asynchronous operation has finished, with
// no time limit, and returns its result. A cancelled operation raises PlatformError(kCanceled);
// one that ended in error raises PlatformError with its error code.
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
        // The handler may run inside put_Completed when the operation finishes meanwhile;
        // the event it sets then simply ends the wait at once.
        ComRef<CompletionHandler<Operation>> handler = CompletionHandler<Operation>::Create();
        Check(operation->put_Completed(handler.Get()));
        status = handler->Wait();
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
