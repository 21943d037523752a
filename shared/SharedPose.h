#pragma once
// The shared pose block: the one channel between the driver and the relay program. The relay
// writes the tracked controller's pose into it; the driver's frame update reads it every frame.
// Both deliverables are built from this one definition, so the layout needs no checking at run
// time. A translation unit of the relay defines TARVOLT_OPENVR_CLIENT before including this
// header (it uses the client header; the driver uses the driver header; no unit includes both).
#if defined(TARVOLT_OPENVR_CLIENT)
#include <openvr.h>
#else
#include <openvr_driver.h>
#endif

#include "PoseLock.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarvolt {

// Layout at the start of the block: the one-byte pose lock, three bytes of padding, then the
// 80-byte client pose record, copied whole in both directions. Bytes 84 to 1023 are never used.
struct SharedPose {
    std::atomic<uint8_t> lock;
    vr::TrackedDevicePose_t pose;
};

static_assert(sizeof(std::atomic<uint8_t>) == 1, "the pose lock is one byte");
static_assert(offsetof(SharedPose, lock) == 0, "the pose lock is at offset 0");
static_assert(offsetof(SharedPose, pose) == 4, "the pose record is at offset 4");
static_assert(sizeof(vr::TrackedDevicePose_t) == 80, "the pose record is 80 bytes");
static_assert(sizeof(SharedPose) == 84, "the used part of the block is 84 bytes");
static_assert(sizeof(SharedPose) <= kSharedPoseBlockSize, "the record fits the block");

} // namespace tarvolt
