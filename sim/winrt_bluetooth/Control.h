#pragma once
// The control entry point of the test-only Windows Runtime Bluetooth component (a DLL of its
// own, registered by class id in the test Wine prefix, never shipped). The component serves the
// Bluetooth LE classes the shipped driver activates, over the simulated radio of sim/radio: a
// test or the demo scripts the peripherals through Radio() exactly as for the driver built with
// the simulated radio, and reads here what the component saw of its caller.
#include "RadioControl.h"

#include <chrono>
#include <functional>

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

// Which Windows the component plays. Windows 11 (10.0.22000 and later), the default as most
// machines that run SteamVR have it, has IBluetoothLEDevice6 and the preferred connection
// parameters; Windows 10 has neither, and ApiInformation says so.
enum class WindowsVersion { Windows10, Windows11 };

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
    int connectedListings = 0;   // DeviceInformation.FindAllAsync with the connected-devices selector
    int sessionsOpened = 0;      // GattSession.FromDeviceIdAsync that gave a session
    int sessionsOpen = 0;        // sessions not closed yet (a release without Close counts as one)
    int sessionsMaintaining = 0;  // open sessions with MaintainConnection on
    int sessionsClosedMaintaining = 0;  // sessions closed or released with MaintainConnection still on
    int requestsGranted = 0;     // preferred connection parameters requests answered Success
    int requestsOpen = 0;        // requests not closed yet
    int repeatedCloses = 0;      // Close on a device, service, session or request closed before
    int unclosedReleases = 0;    // sessions and requests let go of without Close
};

class Control {
public:
    virtual sim::RadioControl &Radio() = 0;
    virtual void SetCompletion(Completion completion) = 0;
    virtual ComponentStats Stats() = 0;
    // Waits until every radio event raised so far has been delivered and no operation thread
    // runs any more.
    virtual bool WaitUntilIdle(std::chrono::milliseconds limit) = 0;
    virtual void SetWindows(WindowsVersion version) = 0;
    // Waits until the counters of sessions and requests satisfy `done` (other counters are read
    // as they are when those change).
    virtual bool WaitForStats(const std::function<bool(const ComponentStats &)> &done, std::chrono::milliseconds limit) = 0;

protected:
    ~Control() = default;
};

using ControlEntry = Control *(*)();

} // namespace winrt_bluetooth
