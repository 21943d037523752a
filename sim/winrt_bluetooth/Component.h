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

// The Windows the component plays (Windows.cpp: Control::SetWindows).
void SetWindows(WindowsVersion version);
bool Windows11();
// Wakes Control::WaitForStats: called after the counters of sessions and requests change.
void StatsChanged();

Completion CurrentCompletion();

sim::SimRadio &Radio();

// Runs work on a new thread of the component's own, counted until the work has returned.
void RunOnComponentThread(std::function<void()> work);
bool WaitUntilThreadsDone(std::chrono::milliseconds limit);
int RunningThreads();

} // namespace winrt_bluetooth
