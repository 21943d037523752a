// The pass timer on Windows. The clock is QueryPerformanceCounter. The wait is a waitable timer:
// a high-resolution one where the system has it (Windows 10 1803 and later; earlier versions
// refuse the flag), otherwise an ordinary one, whose wakes follow the system's timer period (up to
// 15.6 ms), with that period raised to 1 ms for as long as the timer lives (timeBeginPeriod; the
// system drops the request itself when the process ends, even by TerminateProcess). Wine 8 takes
// the high-resolution flag without complaint and wakes at its own resolution.
//
// A waitable timer's due time is in 100 ns units, negative for a wait relative to now; a positive
// one is a date on the system clock, which the user or time service may move. The wait is
// therefore given relative to the performance counter, and repeated until that clock has reached
// the deadline, so that it never ends early whatever the timer's own clock did. While a server is
// watched, the wait is on the timer and the server's process handle together.
#include "PassPacer.h"

#include <windows.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tarvolt {

namespace {

using TimerPeriodFn = UINT(WINAPI *)(UINT);

class Win32PassTimer final : public PassTimer {
public:
    explicit Win32PassTimer(PassTimerKind kind)
    {
        QueryPerformanceFrequency(&frequency_);
        if (kind == PassTimerKind::Finest)
            timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        if (timer_ == nullptr) {
            RaiseTimerPeriod();
            timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }
    }

    ~Win32PassTimer() override
    {
        if (timer_ != nullptr)
            CloseHandle(timer_);
        if (endPeriod_ != nullptr)
            endPeriod_(1);
        if (winmm_ != nullptr)
            FreeLibrary(winmm_);
    }

    PassClockTime Now() override
    {
        LARGE_INTEGER count;
        QueryPerformanceCounter(&count);
        // Whole seconds and the rest apart, so that the product never overflows.
        const int64_t f = frequency_.QuadPart;
        return count.QuadPart / f * 1000000000 + count.QuadPart % f * 1000000000 / f;
    }

    void WaitUntil(PassClockTime deadline) override
    {
        for (PassClockTime remaining; (remaining = deadline - Now()) > 0; ++wakeUps_) {
            LARGE_INTEGER due;
            due.QuadPart = -((remaining + 99) / 100);
            if (timer_ != nullptr && SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
                const HANDLE handles[2] = {timer_, server_};
                const DWORD woke = WaitForMultipleObjects(server_ != nullptr ? 2 : 1, handles, FALSE, INFINITE);
                if (woke == WAIT_OBJECT_0 + 1) {
                    ++wakeUps_;
                    return;  // the server has ended
                }
                if (woke == WAIT_OBJECT_0)
                    continue;
            }
            // No timer to wait on: the thread's own sleep, or a wait on the server with a time-out.
            const DWORD milliseconds = static_cast<DWORD>((remaining + 999999) / 1000000);
            if (server_ == nullptr) {
                Sleep(milliseconds);
            } else if (WaitForSingleObject(server_, milliseconds) == WAIT_OBJECT_0) {
                ++wakeUps_;
                return;
            }
        }
    }

    void EndWaitsOn(const ServerProcess &server) override { server_ = reinterpret_cast<HANDLE>(server.handle); }

private:
    // winmm.dll only where it is needed, and only from the system's folder.
    void RaiseTimerPeriod()
    {
        winmm_ = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (winmm_ == nullptr)
            return;
        auto begin = reinterpret_cast<TimerPeriodFn>(reinterpret_cast<void *>(GetProcAddress(winmm_, "timeBeginPeriod")));
        auto end = reinterpret_cast<TimerPeriodFn>(reinterpret_cast<void *>(GetProcAddress(winmm_, "timeEndPeriod")));
        if (begin != nullptr && end != nullptr && begin(1) == 0 /* TIMERR_NOERROR */)
            endPeriod_ = end;
    }

    LARGE_INTEGER frequency_{};
    HANDLE timer_ = nullptr;
    HANDLE server_ = nullptr;
    HMODULE winmm_ = nullptr;
    TimerPeriodFn endPeriod_ = nullptr;
};

} // namespace

std::unique_ptr<PassTimer> OpenPassTimer(PassTimerKind kind) { return std::make_unique<Win32PassTimer>(kind); }

} // namespace tarvolt
