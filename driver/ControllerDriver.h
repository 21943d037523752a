#pragma once
// The one tracked device of the driver: a controller whose buttons come from the Bluetooth rifle
// and whose pose comes from the relay program through the shared pose block.
#include <openvr_driver.h>

#include "ConvertPose.h"
#include "FrameClock.h"
#include "PoseLock.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace tarvolt {

// Serial number of the device; the same string is its controller type.
inline constexpr const char *kSerialNumber = "aaa_tarvolt_rq508_controller";
inline constexpr const char *kControllerType = "aaa_tarvolt_rq508_controller";
inline constexpr const char *kInputProfilePath =
    "{tarvolt_rq508}/input/tarvolt_rq508_controller_profile.json";
inline constexpr int32_t kHandSelectionPriority = 999999;

// A button pulse stays on for this many frame updates after the one that began it, so the
// runtime sees every press for 21 updates.
inline constexpr int32_t kPulseFrames = 20;

// Per-button pulse state: the rifle reports only the moment of a press, so the driver reports the
// button pressed for a fixed number of frames and then releases it itself.
struct ButtonPulse {
    bool active = false;
    int32_t frames = 0;
};

class ControllerDriver final : public vr::ITrackedDeviceServerDriver {
public:
    vr::EVRInitError Activate(uint32_t unObjectId) override;
    void Deactivate() override;
    void EnterStandby() override;
    void *GetComponent(const char *pchComponentNameAndVersion) override;
    void DebugRequest(const char *pchRequest, char *pchResponseBuffer,
                      uint32_t unResponseBufferSize) override;
    vr::DriverPose_t GetPose() override;

    // The device's work for one runtime frame (button pulses, then the pose).
    void UpdateFrame();

    // Stops (clears the run flag, raises the stop signal) and joins a worker that is still
    // attached.
    void StopWorker();

    // For Cleanup: deactivates a device that the runtime did not deactivate (its relay, block
    // and worker would otherwise outlive it), and otherwise only makes sure no worker is left.
    void TearDown();

    vr::TrackedDeviceIndex_t deviceIndex = 0;
    vr::VRInputComponentHandle_t fireClickHandle = 0;
    vr::VRInputComponentHandle_t fireValueHandle = 0;
    vr::VRInputComponentHandle_t ejectMagClickHandle = 0;
    vr::VRInputComponentHandle_t loadMagClickHandle = 0;
    vr::VRInputComponentHandle_t loadBulletClickHandle = 0;
    vr::VRInputComponentHandle_t unloadBulletClickHandle = 0;
    std::thread workerThread;
    ButtonPulse firePulse;
    ButtonPulse ejectMagPulse;
    ButtonPulse loadMagPulse;
    ButtonPulse loadBulletPulse;
    ButtonPulse unloadBulletPulse;
    vr::DriverPose_t pose{};

    // From the user's settings, read at Activate: how the rifle sits on the controller, and how
    // many frame updates a press stays reported after the one that began it. Built-in until then.
    Mounting mounting;
    int32_t pressFrames = kPulseFrames;

    // Set last in Activate and cleared first in Deactivate: the frame update does nothing for a
    // device that is not active. A device must not call the runtime after its Deactivate has
    // returned (a pulse still running then would otherwise end with an input update), and before
    // its Activate it has no index to publish under.
    std::atomic<bool> active{false};
    // Frame updates under way; Deactivate waits for one that saw the device still active.
    std::atomic<int32_t> framesInside{0};
    // The frame update's wait for the pose lock: it never sleeps inside SteamVR's frame callback
    // (a 10 ms sleep there is a missed frame). The relay holds the lock for one 80-byte copy;
    // a lock still held after the brief wait (about 1 ms) belongs to a relay that is not running
    // or died holding it, and the frame keeps the pose it published last. Tests replace the
    // clock, pause and yield.
    PoseLockWait poseLockWait = kPoseLockBriefWait;
    // Stamps the block's frame clock after each copy of the pose, so that the relay can time its
    // passes to the frames.
    FrameClockWriter frameClock;

private:
    // Without a property interface the SDK's helpers would call through a null pointer, so
    // properties are skipped and components go onto the invalid container.
    void DeclareProperties(vr::PropertyContainerHandle_t container);
    void CreateComponents(vr::PropertyContainerHandle_t container);
    // Makes later frame updates do nothing and waits for one under way.
    void StopFrames();
    // Lets go of the shared pose block and ends the relay program.
    void ReleaseBlockAndRelay();
    // The frame update's two halves.
    void UpdatePulses();
    void UpdatePose();
};

} // namespace tarvolt
