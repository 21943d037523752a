// The device's work for one runtime frame: pending input events become button pulses of the
// length the settings gave at activation, then the pose is copied out of the shared pose block, converted and published. Runs
// on the runtime's frame thread: no allocation, no logging, no sleep, and a wait of about a
// millisecond at most for the lock.
#include "ControllerDriver.h"

#include "ConvertPose.h"
#include "DriverState.h"
#include "RelaySupervisor.h"
#include "SharedPose.h"
#include "WellFormedPose.h"

#include <cstring>

namespace tarvolt {

namespace {

// One button's pulse for this update. valueHandle is the fire button's scalar, null for the
// others. Without the input interface the pulse still runs; only the reports are skipped.
void StepPulse(vr::IVRDriverInput *input, int32_t pressFrames, std::atomic<bool> &flag, ButtonPulse &pulse,
               vr::VRInputComponentHandle_t clickHandle, const vr::VRInputComponentHandle_t *valueHandle)
{
    const bool pending = flag.load();
    if (pulse.active) {
        // An event during a pulse is dropped: it neither prolongs this pulse nor starts another.
        if (pending)
            flag.exchange(false);
        if (++pulse.frames <= pressFrames)
            return;
        pulse.active = false;
        pulse.frames = 0;
        if (input != nullptr) {
            input->UpdateBooleanComponent(clickHandle, false, 0.0);
            if (valueHandle != nullptr)
                input->UpdateScalarComponent(*valueHandle, 0.0f, 0.0);
        }
        return;
    }
    if (!pending)
        return;
    flag.exchange(false);
    pulse.active = true;
    if (input != nullptr) {
        input->UpdateBooleanComponent(clickHandle, true, 0.0);
        if (valueHandle != nullptr)
            input->UpdateScalarComponent(*valueHandle, 1.0f, 0.0);
    }
}

} // namespace

void ControllerDriver::UpdateFrame()
{
    // Sequentially consistent on both sides: either Deactivate sees this update inside and waits
    // for it, or this update sees the device inactive and calls nothing.
    framesInside.fetch_add(1);
    if (active.load()) {
        UpdatePulses();
        UpdatePose();
    }
    framesInside.fetch_sub(1);
}

void ControllerDriver::UpdatePulses()
{
    vr::IVRDriverInput *input = vr::VRDriverInput();
    StepPulse(input, pressFrames, fire, firePulse, fireClickHandle, &fireValueHandle);
    StepPulse(input, pressFrames, eject_mag, ejectMagPulse, ejectMagClickHandle, nullptr);
    StepPulse(input, pressFrames, load_mag, loadMagPulse, loadMagClickHandle, nullptr);
    StepPulse(input, pressFrames, load_bullet, loadBulletPulse, loadBulletClickHandle, nullptr);
    StepPulse(input, pressFrames, unload_bullet, unloadBulletPulse, unloadBulletClickHandle, nullptr);
}

void ControllerDriver::UpdatePose()
{
    SharedPose *block = poseBlockView;
    if (block == nullptr)
        return;
    vr::TrackedDevicePose_t record = NeverWrittenRecord();
    // While the relay has ended and its block is taken back, its last record is not the
    // controller's any more: the rifle shows as not tracking instead.
    if (BeginBlockRead()) {
        // A lock held past the brief wait skips this frame's pose; the last published one stays.
        const bool locked = AcquirePoseLockBriefly(block->lock, poseLockWait);
        if (locked) {
            std::memcpy(&record, &block->pose, sizeof record);
            ReleasePoseLock(block->lock);
            frameClock.Stamp(FrameClockOf(*block), MonotonicTicks());
        }
        EndBlockRead();
        if (!locked)
            return;
    }

    // Whatever the record holds, the pose is one the runtime can take; a faulty record is logged
    // by the relay's supervision, not here.
    RecordFault fault = RecordFault::None;
    pose = WellFormedPose(record, mounting, fault);
    if (fault != RecordFault::None)
        NoteRecordFault(fault);
    if (vr::IVRServerDriverHost *host = vr::VRServerDriverHost())
        host->TrackedDevicePoseUpdated(deviceIndex, pose, sizeof(vr::DriverPose_t));
}

} // namespace tarvolt
