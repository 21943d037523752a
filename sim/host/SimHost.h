#pragma once
// A stand-in for the runtime's server process: loads the driver from a package-shaped folder,
// asks its factory for the provider, initialises it with a recording driver context, activates
// the device it announces, runs frames, then deactivates, cleans up and unloads.
//
// It is as strict as SteamVR where a driver can go wrong unnoticed: frames run between Init and
// Activate and between Deactivate and Cleanup, a paced run may be irregular, Deactivate and
// Cleanup are watched (ShutdownWatchdog), an input or pose call for a device that is not active
// is a violation (HostContext), and the library is unloaded without any help from the host.
#include "DriverLibrary.h"
#include "HostContext.h"
#include "HostRecorder.h"
#include "TrackedDevicePublisher.h"

#include <openvr_driver.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {

// How RunFor paces its frames:
// - Steady: on the grid of the rate, each frame as late as the server's frame thread wakes after
//   its wait (a few tens of microseconds, now and then a few hundred); the common case.
// - Irregular: as a loaded compositor does (each frame interval between a quarter and
//   twice the period, and now and then a stall of several frames).
// - Paused: steady, but the frames stop for a second after every two seconds of frames.
enum class Pacing { Steady, Irregular, Paused };

// The frame thread's usual lateness after its wait, on average (Steady and Paused).
inline constexpr std::chrono::microseconds kFrameWakeLateness{40};

// The interval before each next frame at a rate, paced as given; seeded, so that a run can be
// repeated. `lateness` is the frame thread's mean lateness (zero: frames exactly on the grid).
class FramePacer {
public:
    FramePacer(double hz, Pacing pacing, uint32_t seed = 1, std::chrono::microseconds lateness = kFrameWakeLateness);
    Clock::duration Next();

private:
    std::chrono::duration<double> period_;
    Pacing pacing_;
    std::mt19937 random_;
    double lateness_;      // mean, seconds
    double lastLate_ = 0;  // the last frame's lateness on its grid time, seconds
    uint64_t frames_ = 0;
};

// Frames the runtime runs between Init and Activate, and between Deactivate and Cleanup.
inline constexpr uint64_t kFramesBetweenSteps = 3;

class SimHost {
public:
    SimHost();
    ~SimHost();
    SimHost(const SimHost &) = delete;
    SimHost &operator=(const SimHost &) = delete;

    HostRecorder &Recorder() { return recorder_; }
    HostContext &Context() { return context_; }
    const std::string &Error() const { return error_; }

    // The package root that the build made next to this program: <build>/pkg, or <build>/pkg-sim
    // for the driver built with the simulated radio.
    static std::string DefaultPackageRoot(bool simulatedRadio = false);

    using FactoryFn = void *(*)(const char *, int *);

    bool Load(const std::string &packageRoot);
    // Uses a factory linked into this program instead of a loaded library (in-process tests).
    void UseFactory(FactoryFn factory) { factory_ = factory; }
    void *CallFactory(const char *interfaceName, int *returnCode);
    void *Symbol(const char *name) const { return library_.Symbol(name); }

    // Factory for the provider, then Init with the recording context.
    vr::EVRInitError Init();
    // Runs kFramesBetweenSteps frames, then activates every device the driver announced and the
    // host accepted, with indices 0, 1, ...
    vr::EVRInitError Activate();
    void RunFrame();
    void RunFrames(uint64_t count);
    // Runs frames at the given rate until the time is up, paced as SetPacing says.
    void RunFor(std::chrono::milliseconds duration, double hz = 90.0);
    void SetPacing(Pacing pacing, uint32_t seed = 1);
    // Deactivates every active device (each call watched), then runs kFramesBetweenSteps frames.
    void Deactivate();
    // Cleanup, watched.
    void Cleanup();
    // Unloads the library as the runtime does: nothing of the driver is called or stopped first.
    void Unload();
    // Whatever of Deactivate, Cleanup and Unload is still due.
    void Shutdown();

    // Lists the driver's devices among the tracked devices that client programs see, as the
    // runtime lists every device it tracks: from activation on, each in the table's first free
    // slot with the class it was announced with and its role hint (Prop_ControllerRoleHint_Int32)
    // as its role, and after every frame with the pose the driver last published for it, until
    // deactivation. Call before Activate; the publisher must outlive the host. The driver's
    // settings are then the table's, which client programs read as well.
    void ListDevicesIn(TrackedDevicePublisher *devices)
    {
        listing_ = devices;
        context_.UseSettingsOf(devices != nullptr ? devices->Table() : nullptr);
    }

    vr::IServerTrackedDeviceProvider *Provider() const { return provider_; }
    vr::ITrackedDeviceServerDriver *Device() const;
    uint64_t FramesRun() const { return frames_; }

private:
    struct ListedDevice {
        uint32_t index;  // the driver's device index
        uint32_t slot;   // in the client programs' table
    };
    void ListDevice(uint32_t index, vr::ETrackedDeviceClass deviceClass, const std::string &serial);
    void UpdateListedPoses();

    HostRecorder recorder_;
    HostContext context_;
    DriverLibrary library_;
    FactoryFn factory_ = nullptr;
    std::string error_;
    vr::IServerTrackedDeviceProvider *provider_ = nullptr;
    bool initialised_ = false;
    bool active_ = false;
    uint64_t frames_ = 0;
    Pacing pacing_ = Pacing::Steady;
    uint32_t seed_ = 1;
    TrackedDevicePublisher *listing_ = nullptr;
    std::vector<ListedDevice> listed_;
};

} // namespace sim
