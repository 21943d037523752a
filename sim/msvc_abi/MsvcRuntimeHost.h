#pragma once
// A runtime host whose half of every boundary call is compiled for the MSVC ABI, as SteamVR's
// vrserver.exe is: it loads a built driver library from its package folder, hands the provider
// the MSVC-ABI driver context, and makes every call into the provider and the device through the
// MSVC-ABI objects (MsvcDriverRuntime.cpp). What the driver calls back is decoded there and
// recorded here by the simulated runtime's HostContext, so the tests read it as they read the
// simulated host's records, and what SteamVR would not tolerate fails the test (HostViolations).
// One host at a time per process.
#include "DriverLibrary.h"
#include "HostContext.h"
#include "HostRecorder.h"
#include "MsvcSeam.h"

#include <openvr_driver.h>

#include <cstdint>
#include <memory>
#include <string>

namespace msvc_abi {

class MsvcRuntimeHost {
public:
    MsvcRuntimeHost();
    ~MsvcRuntimeHost();
    MsvcRuntimeHost(const MsvcRuntimeHost &) = delete;
    MsvcRuntimeHost &operator=(const MsvcRuntimeHost &) = delete;

    sim::HostRecorder &Recorder() { return recorder_; }
    sim::HostContext &Context() { return context_; }
    const std::string &Error() const { return error_; }

    // Loads driver_tarvolt_rq508 from <build>/pkg, or <build>/pkg-sim (the simulated radio).
    bool Load(bool simulatedRadio);
    void *Symbol(const char *name) const { return library_->Symbol(name); }

    void *CallFactory(const char *interfaceName, int32_t *returnCode);
    // Factory for the provider, then Init with the MSVC-ABI context.
    vr::EVRInitError Init();
    void *Provider() const { return provider_; }
    // The device the driver announced, as the runtime received it (null before).
    void *Device() const;
    vr::EVRInitError Activate(uint32_t objectId = 0);
    void RunFrame();
    void RunFrames(uint64_t count);
    uint64_t FramesRun() const { return frames_; }
    // GetPose as the runtime calls it. Returns whether the device object kept its vtable pointer;
    // when it did not, the driver is abandoned: nothing calls into it again, not even on shutdown.
    bool GetPose(vr::DriverPose_t &pose);
    bool Abandoned() const { return abandoned_; }
    void Deactivate();
    void Cleanup();
    // Whatever of Deactivate, Cleanup and unloading is still due.
    void Shutdown();

private:
    sim::HostRecorder recorder_;
    sim::HostContext context_;
    // Let go of, never closed, once the driver is abandoned: its threads still run its code.
    std::unique_ptr<sim::DriverLibrary> library_ = std::make_unique<sim::DriverLibrary>();
    std::string error_;
    void *provider_ = nullptr;
    bool initialised_ = false;
    bool active_ = false;
    uint32_t deviceIndex_ = 0;  // the active device's index
    bool abandoned_ = false;
    uint64_t frames_ = 0;
};

} // namespace msvc_abi
