#pragma once
// vistrel: copies the pose of the device mounted on the rifle (the right-hand controller unless
// the setting poseSource names another, PoseSource.h) into the shared pose block,
// pass after pass, for as long as the runtime's server process lives or until the server asks
// its clients to quit (SteamVR shutting down); then it lets go of OpenVR and waits for the end.
#include "SharedPose.h"  // the relay is built with TARVOLT_OPENVR_CLIENT: the client header
#include "PassPacer.h"
#include "PoseSource.h"
#include "ServerProcess.h"

#include <cstdint>
#include <functional>

namespace tarvolt {

// Pause between two attempts to initialise OpenVR.
inline constexpr uint32_t kInitRetryMs = 3000;
// The pose lock has no owner: a driver that died holding it would hold it for ever. A pass
// therefore waits for it at most this many retry pauses (0.5 s) before it looks again whether
// the server has ended; it never writes without the lock.
inline constexpr uint32_t kLockWaitSleeps = 50;

// Exit codes.
inline constexpr int kExitServerEnded = 0;
inline constexpr int kExitNoBlock = 1;
inline constexpr int kExitNoServer = 2;

// Working storage of a pass, reused from pass to pass.
struct PassStorage {
    vr::TrackedDevicePose_t poses[vr::k_unMaxTrackedDeviceCount];
    vr::TrackedDeviceIndex_t controllers[vr::k_unMaxTrackedDeviceCount];
    vr::TrackedDevicePose_t selected;
};

// What a pass writes when the source's device is not found: all zero (a zero matrix), the
// result Uninitialized, not valid, but connected.
vr::TrackedDevicePose_t DefaultPoseRecord();

// One pass's reading: the poses of all slots in raw tracking space, and the pose of the source's
// device, or the default record. For a hand: the last controller of that role in the sorted
// controller list. For a serial number: the device at serialIndex (FindDeviceBySerial, looked up
// when the setting is read, not in every pass), none when it is invalid. Returns storage.selected.
const vr::TrackedDevicePose_t &SelectPose(vr::IVRSystem &system, PassStorage &storage, const PoseSource &source,
                                          vr::TrackedDeviceIndex_t serialIndex);
// The same for the right hand.
const vr::TrackedDevicePose_t &SelectRightHandPose(vr::IVRSystem &system, PassStorage &storage);

// Copies the record into the block under the pose lock. Gives up only when the server has ended
// while the lock was held; returns whether the record was written.
bool WritePoseRecord(SharedPose &block, const vr::TrackedDevicePose_t &record, const ServerProcess &server);

// Reads the runtime's events after a pass, as many as are queued: true at VREvent_Quit, with which
// the server asks its clients to disconnect before it shuts down; every other event is ignored.
bool QuitRequested(vr::IVRSystem &system);

// How a pass ended: its record written; or the server's quit request read after it; or the
// server found ended while the pass waited for the pose lock.
enum class PassEnd { Written, QuitRequested, ServerEnded };

// The pose loop: before each pass a zero-time look whether the server has ended, then the pass,
// then the pacer's wait for the next pass's deadline (about a frame; the wait ends early when the
// server ends). Returns true when a pass saw the quit request, false when the server ended;
// either way at once, without a further wait.
bool RunPoseLoop(PassPacer &pacer, const std::function<bool()> &serverEnded, const std::function<PassEnd()> &pass);

// Initialises OpenVR as a background application until it succeeds, printing one line per failed
// attempt and pausing kInitRetryMs through sleep after each. The server started the relay (its
// driver did), so once serverRunning says it is gone no runtime will ever come: then it gives up
// and returns null rather than retry for ever after SteamVR has ended.
vr::IVRSystem *InitializeOpenVr(const std::function<void(uint32_t)> &sleep,
                                const std::function<bool()> &serverRunning);

// How the passes are paced: one per frame, timed by the driver's frame clock (vistrel); or the
// earlier fixed 1,000 passes a second, which make bench measures beside it.
enum class RelayPace { Frames, Fixed };

// The whole program; returns its exit code. A report function, when given, is handed the pacing
// when the pose loop ends (make bench reads the margin that way).
int RunRelay(RelayPace pace = RelayPace::Frames, void (*report)(const FramePacing &) = nullptr);

} // namespace tarvolt
