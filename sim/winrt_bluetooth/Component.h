#pragma once
// What the component's objects share: the counters the control reports, the completion rule in
// force, the simulated radio they wrap, and the component's own threads.
#include "Control.h"
#include "SimRadio.h"

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
};
Counters &Count();

Completion CurrentCompletion();

sim::SimRadio &Radio();

// Runs work on a new thread of the component's own, counted until the work has returned.
void RunOnComponentThread(std::function<void()> work);
bool WaitUntilThreadsDone(std::chrono::milliseconds limit);
int RunningThreads();

} // namespace winrt_bluetooth
