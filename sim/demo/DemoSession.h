#pragma once
// One demo session in the simulated server: the driver built with the simulated radio loaded
// from its package folder (where it finds and starts vistrel), or, in the Windows build under
// Wine, the shipped driver over the test-only Windows Runtime Bluetooth component (whose radio
// is the same simulated one); the tracked devices published
// for vistrel with a right-hand controller moving on a circle, a few Bluetooth devices around
// and the rifle among them, frames at 90 per second, the live status view, and at the end the
// shutdown and a summary.
//
// The frame loop runs on the thread that calls Run. The script (or, interactively, the keys)
// acts on the radio from another thread and waits for what the driver does, each wait bounded
// by a generous limit that only a broken driver reaches.
#include "FrameGate.h"
#include "HostRecorder.h"
#include "RadioControl.h"
#include "SimHost.h"
#include "StatusView.h"
#include "TrackedDevicePublisher.h"

#if defined(TARVOLT_DEMO_BLUEZ)
#include "FakeBluez.h"
#include "PrivateBus.h"
#endif

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace demo {

struct Options {
    bool interactive = false;
    bool plain = false;    // plain lines even on a terminal
    // The shipped driver (pkg) over the Windows Runtime Bluetooth classes of the test component,
    // which the test Wine prefix registers; otherwise the driver built with the simulated radio.
    bool windowsRuntime = false;
    bool bluez = false;    // the shipped driver through its BlueZ radio, against a fake bluetoothd
    std::string root;      // package root; empty: the build's pkg-sim, or pkg with windowsRuntime or bluez
};

// Exit codes of the demo.
enum ExitCode : int { kExitOk = 0, kExitExpectationFailed = 1, kExitCannotStart = 2, kExitUsage = 64 };

inline constexpr std::chrono::seconds kStepLimit{30};
inline constexpr uint32_t kRightHandIndex = 1;  // in the tracked-device table
inline constexpr uint32_t kLeftHandIndex = 2;

class DemoSession {
public:
    explicit DemoSession(const Options &options);
    ~DemoSession();
    DemoSession(const DemoSession &) = delete;
    DemoSession &operator=(const DemoSession &) = delete;

    int Run();

    // For the script and the keys (any thread).
    sim::HostRecorder &Recorder() { return host_.Recorder(); }
    sim::RadioControl &Radio() { return *radio_; }
    int Rifle() const { return rifle_; }
    FrameGate &Gate() { return gate_; }
    void Note(const std::string &text);
    void SetStep(const std::string &text);
    void DropLink();  // the rifle's link breaks; the reconnection is timed
    // The user edits the driver's poseSource in SteamVR's settings while it runs.
    void SetPoseSource(const char *value);
    void EndSession();
    bool Ending() const { return ending_; }

private:
    bool Start(std::string &error);
    bool FindRadio(const std::string &root, std::string &error);
    void FrameLoop();
    void Drain();
    void Refresh(bool force);
    void PrintNewUpdates();
    void PrintSummary(double seconds);
    std::string CheckEnd();  // what the shutdown should have done; "" when it did
    void HandleKey(int key);

    bool StartBluez(std::string &error);

    Options options_;
    sim::TrackedDevicePublisher devices_;
    sim::DriverLibrary component_;  // the Windows Runtime Bluetooth component, when in use
#if defined(TARVOLT_DEMO_BLUEZ)
    // Declared before the host, so that they end after the driver that talks to them.
    std::unique_ptr<sim::PrivateBus> bus_;
    std::unique_ptr<sim::FakeBluez> bluez_;
#endif
    sim::SimHost host_;
    sim::RadioControl *radio_ = nullptr;
    int rifle_ = -1;
    FrameGate gate_;
    std::unique_ptr<StatusView> view_;
    Status status_;
    std::atomic<bool> ending_{false};
    std::atomic<bool> userEnded_{false};

    // Filled on other threads, taken by the frame loop.
    std::mutex mutex_;
    struct PendingNote {
        size_t logsBefore;  // driver log lines recorded before it: they are shown first
        std::string text;
    };
    std::deque<std::string> pendingLogs_;
    std::deque<PendingNote> pendingNotes_;
    size_t logsShown_ = 0;
    std::string step_;
    sim::Clock::time_point dropTime_{};
    bool dropPending_ = false;
    double reconnectSeconds_ = -1.0;

    size_t updatesShown_ = 0;
    uint64_t lastPlainPoseFrame_ = 0;
    std::deque<sim::Clock::time_point> frameTimes_;  // of the last second, for the rate
    // The relay's passes (its pose queries): the first seen and the last before the shutdown.
    uint64_t relayFirstPasses_ = 0, relayLastPasses_ = 0;
    sim::Clock::time_point relayFirstTime_{}, relayLastTime_{};
    // The server's quit request at the shutdown, and what vistrel made of it.
    sim::QuitResult quit_;
};

int RunDemo(const Options &options);

} // namespace demo
