#pragma once
// What the component's objects share: the counters the control reports, the completion rule in
// force, the simulated radio they wrap, and the component's own threads.
#include "Control.h"
#include "SimRadio.h"

#include <windows.h>

#include <atomic>
#include <functional>

namespace winrt_bluetooth {

struct Counters {
    std::atomic<int> liveObjects{0};
    std::atomic<int> heldDelegates{0};
    std::atomic<int> factories{0};
    std::atomic<int> operations{0};
    std::atomic<int> canceled{0};
    std::atomic<int> completedOnComponentThread{0};
    std::atomic<int> completedInsidePutCompleted{0};
    std::atomic<int> completedInsideCancel{0};
    std::atomic<int> connectedListings{0};
    std::atomic<int> sessionsOpened{0};
    std::atomic<int> sessionsOpen{0};
    std::atomic<int> sessionsMaintaining{0};
    std::atomic<int> sessionsClosedMaintaining{0};
    std::atomic<int> requestsGranted{0};
    std::atomic<int> requestsOpen{0};
    std::atomic<int> repeatedCloses{0};
    std::atomic<int> unclosedReleases{0};
};
Counters &Count();

// What a test scripts through the control beyond the radio's own behaviour (Faults.cpp): the
// setters behind Control's, and what the objects read.
void SetWindows(WindowsVersion version);
void SetWatcherFault(WatcherFault fault, int watchers);
void AnswerUnreachable(sim::Step step, int count);
void SetCacheLacks(const sim::Guid &service);
bool Windows11();
WatcherFault TakeWatcherFault();
// True when this answer of the step is to be Unreachable (one of the count is used up).
bool TakeUnreachable(sim::Step step);
// Whether a services answer for the device lacks the service: only cached answers, until an
// uncached query has been made for the device (which the uncached query itself records).
bool CacheLacks(UINT64 address, const GUID &service, bool uncached);

Completion CurrentCompletion();

sim::SimRadio &Radio();

// Runs work on a new thread of the component's own, counted until the work has returned.
void RunOnComponentThread(std::function<void()> work);
bool WaitUntilThreadsDone(std::chrono::milliseconds limit);
int RunningThreads();

} // namespace winrt_bluetooth
