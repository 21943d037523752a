// On Windows the signal is also a manual-reset event, so that a wait for an operation's
// completion (WaitForMultipleObjects) ends on either.
#include "StopSignal.h"

#include <windows.h>

namespace tarvolt::radio {

void StopSignal::CreatePlatformEvent() { event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); }

void StopSignal::DestroyPlatformEvent()
{
    if (event_ != nullptr)
        CloseHandle(static_cast<HANDLE>(event_));
    event_ = nullptr;
}

void StopSignal::SetPlatformEvent(bool raised)
{
    if (event_ == nullptr)
        return;
    if (raised)
        SetEvent(static_cast<HANDLE>(event_));
    else
        ResetEvent(static_cast<HANDLE>(event_));
}

} // namespace tarvolt::radio
