#pragma once
// The frame update's surroundings for timing it in this process: the controller device with its
// component handles, the minimal runtime context, and a pose block in this process's own memory
// (the whole 1024 bytes, record, lock and frame clock; not the system-wide named section, so that
// timing runs never meet a driver or test elsewhere on the machine).
#include "BenchContext.h"
#include "ControllerDriver.h"
#include "DriverState.h"
#include "SharedPose.h"

#include <cmath>
#include <initializer_list>

namespace bench {

// A tracked controller as the relay writes it: turned 40 degrees about y, somewhere in the room.
inline vr::TrackedDevicePose_t SamplePose()
{
    vr::TrackedDevicePose_t pose{};
    const float c = std::cos(0.6981317f);
    const float s = std::sin(0.6981317f);
    const float m[3][4] = {{c, 0.0f, s, 0.31f}, {0.0f, 1.0f, 0.0f, 1.12f}, {-s, 0.0f, c, -0.47f}};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 4; ++k)
            pose.mDeviceToAbsoluteTracking.m[r][k] = m[r][k];
    pose.vVelocity = {{0.01f, -0.02f, 0.03f}};
    pose.vAngularVelocity = {{0.1f, 0.0f, -0.1f}};
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = true;
    pose.bDeviceIsConnected = true;
    return pose;
}

struct FrameFixture {
    FrameFixture()
    {
        context.Install();
        block.lock.store(0);
        block.pose = SamplePose();
        tarvolt::poseBlockView = &block;
        controller.deviceIndex = 0;
        controller.fireClickHandle = 1;
        controller.fireValueHandle = 2;
        controller.ejectMagClickHandle = 3;
        controller.loadMagClickHandle = 4;
        controller.loadBulletClickHandle = 5;
        controller.unloadBulletClickHandle = 6;
        controller.active = true;  // as after Activate: the frame update works only for an active device
    }
    ~FrameFixture() { tarvolt::poseBlockView = nullptr; }

    BenchContext context;
    struct alignas(8) WholeBlock {
        tarvolt::SharedPose record;
        unsigned char rest[tarvolt::kSharedPoseBlockSize - sizeof(tarvolt::SharedPose)];
    } whole{};
    tarvolt::SharedPose &block = whole.record;
    tarvolt::ControllerDriver controller;
};

// The five pulses all on their last pressed update: the next update releases every button.
inline void ArmFivePulsesEnding(tarvolt::ControllerDriver &c)
{
    for (tarvolt::ButtonPulse *p : {&c.firePulse, &c.ejectMagPulse, &c.loadMagPulse, &c.loadBulletPulse,
                                    &c.unloadBulletPulse}) {
        p->active = true;
        p->frames = tarvolt::kPulseFrames;
    }
}

} // namespace bench
