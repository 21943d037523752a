#pragma once
// A stand-in for the runtime's server process: loads the driver from a package-shaped folder,
// asks its factory for the provider, initialises it with a recording driver context, activates
// the device it announces, runs frames, then deactivates, cleans up and unloads.
#include "DriverLibrary.h"
#include "HostContext.h"
#include "HostRecorder.h"

#include <openvr_driver.h>

#include <chrono>
#include <string>

namespace sim {

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
    // Activates every device the driver announced and the host accepted, with indices 0, 1, ...
    vr::EVRInitError Activate();
    void RunFrame();
    void RunFrames(uint64_t count);
    // Runs frames at the given rate until the time is up.
    void RunFor(std::chrono::milliseconds duration, double hz = 90.0);
    void Deactivate();
    void Cleanup();
    void Unload();
    // Whatever of Deactivate, Cleanup and Unload is still due.
    void Shutdown();

    vr::IServerTrackedDeviceProvider *Provider() const { return provider_; }
    vr::ITrackedDeviceServerDriver *Device() const;
    uint64_t FramesRun() const { return frames_; }

private:
    HostRecorder recorder_;
    HostContext context_;
    DriverLibrary library_;
    FactoryFn factory_ = nullptr;
    std::string error_;
    vr::IServerTrackedDeviceProvider *provider_ = nullptr;
    bool initialised_ = false;
    bool active_ = false;
    uint64_t frames_ = 0;
};

} // namespace sim
