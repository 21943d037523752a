// Ctrl-C on Windows: a console control handler, which Windows calls on a thread of its own.
// Ctrl-C and Ctrl-Break only ask the probe to stop. Closing the console window, logging off and
// shutting down end the process as soon as the handler returns (or after 5 s for the window,
// Windows' limit), so the handler waits there until the probe has released the rifle.
#include "StopRequest.h"

#include <windows.h>

#include <atomic>

namespace tarvolt::probe {

namespace {

// What the handler reaches; the handler is process-wide, as is the console.
std::atomic<StopRequest *> current{nullptr};
HANDLE finished = nullptr;  // set once the probe is done (manual reset)

constexpr DWORD kCloseWaitMs = 4500;  // inside Windows' 5 s for a console that is closed

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    StopRequest *stop = current.load();
    if (stop == nullptr)
        return FALSE;  // not ours: Windows' default (the process ends)
    stop->Request(StopReason::Interrupted);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(finished, kCloseWaitMs);
    return TRUE;
}

} // namespace

int HandleConsoleEvent(unsigned long event) { return OnConsoleEvent(event); }

struct InterruptWatch::Platform {};

InterruptWatch::InterruptWatch(StopRequest &stop) : platform_(nullptr)
{
    if (finished == nullptr)
        finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ResetEvent(finished);
    current.store(&stop);
    SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

void InterruptWatch::Finished()
{
    if (finished != nullptr)
        SetEvent(finished);
}

InterruptWatch::~InterruptWatch()
{
    Finished();
    SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
    // A handler already running keeps its request object until the process ends with it; the
    // probe's stop request lives as long as main.
    current.store(nullptr);
}

} // namespace tarvolt::probe
