#pragma once
// What the rifle's pose is made of, whatever the shared pose block holds. The runtime takes a pose
// as it is given: a tracking result that ETrackingResult does not define, a number that is not
// finite or a rotation that is not a unit quaternion goes on to every application. The block,
// though, is written by another process and holds what that process left: nothing yet (all
// zero), a record of a controller that is not there, or, from a broken writer, anything at all.
#include "ConvertPose.h"

#include <cstdint>

namespace tarvolt {

// Why a record could not be published as it was. The record is then published as not valid.
enum class RecordFault : uint8_t {
    None = 0,
    NotFinite,     // a number of the matrix or the velocities is infinite or not a number
    NotARotation,  // a record that claims to be valid, whose rotation part is no rotation
    NotAStatus,    // a tracking result outside ETrackingResult, or a flag that is neither 0 nor 1
};
inline constexpr int kRecordFaults = 4;

// The driver's log line for a fault.
const char *RecordFaultLine(RecordFault fault);

// The pose to publish for a record taken from the block:
// - a good record (finite, a known result and flags, a rotation): ConvertPose's conversion, bit
//   for bit (its quaternion is then a unit one to within a few parts in ten million);
// - a record that was never written (all zero): as the relay's record for no controller
//   (Uninitialized, not valid, connected), so that the rifle looks the same before the relay's
//   first record as with no controller on;
// - a record that says it is not valid and whose rotation part is none (the relay's record for no
//   controller holds a zero matrix): the same, with the controller's rotation taken as the
//   identity, so that only the mounting turn shows;
// - a faulty record: not valid, Uninitialized, the identity for the controller's rotation, zero
//   for its position and velocities; `fault` says why.
// Every quaternion published is a unit one. No allocation; a hot-path function.
vr::DriverPose_t WellFormedPose(const vr::TrackedDevicePose_t &record, const Mounting &mounting, RecordFault &fault);

// The record of a block that was never written (all zero), which the frame update also uses when
// the relay has ended and its last record is no longer the controller's.
const vr::TrackedDevicePose_t &NeverWrittenRecord();

} // namespace tarvolt
