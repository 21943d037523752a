#pragma once
// The control entry point of the test-only Windows Runtime Bluetooth component (a DLL of its
// own, registered by class id in the test Wine prefix, never shipped). The component serves the
// Bluetooth LE classes the shipped driver activates, over the simulated radio of sim/radio: a
// test or the demo scripts the peripherals through Radio() exactly as for the driver built with
// the simulated radio, and reads here what the component saw of its caller.
#include "RadioControl.h"

#include <chrono>

namespace winrt_bluetooth {

inline constexpr const char *kControlExport = "TarvoltWinrtBluetooth";
inline constexpr const char *kComponentFile = "winrt_bluetooth.dll";

// When an asynchronous operation tells its caller that it has finished. Windows does any of
// these, as timing has it; a test picks one to make it certain.
enum class Completion {
    AsItComes,           // on the operation's own thread, or inside put_Completed when that comes later
    BeforeReturning,     // already finished when the ...Async call returns
    OnComponentThread,   // on the operation's own thread, always after put_Completed
    InsidePutCompleted,  // inside put_Completed, on the caller's thread
};

struct ComponentStats {
    int liveObjects = 0;       // Windows Runtime objects of the component not released yet
    int heldDelegates = 0;     // the caller's delegates the component still holds
    int runningThreads = 0;    // the component's operation threads still running
    int factories = 0;         // activation factories handed out
    int operations = 0;        // asynchronous operations started
    int canceled = 0;          // operations canceled before they finished
    int completedOnComponentThread = 0;
    int completedInsidePutCompleted = 0;
    int completedInsideCancel = 0;
};

class Control {
public:
    virtual sim::RadioControl &Radio() = 0;
    virtual void SetCompletion(Completion completion) = 0;
    virtual ComponentStats Stats() = 0;
    // Waits until every radio event raised so far has been delivered and no operation thread
    // runs any more.
    virtual bool WaitUntilIdle(std::chrono::milliseconds limit) = 0;

protected:
    ~Control() = default;
};

using ControlEntry = Control *(*)();

} // namespace winrt_bluetooth
