#pragma once
// The driver's side of the shared pose block's life: it creates (or re-uses) and zeroes the
// block when the device is activated and releases it when the device is deactivated. The handle
// and view live in poseBlockMapping and poseBlockView (DriverState.h).

namespace tarvolt {

// Creates or opens the named section, maps it and zeroes the record with its lock, so that the
// relay program started next finds the lock free. Logs "Failed to create file mapping object."
// and/or "Failed to map view of file." and leaves no block when the platform refuses.
void CreateSharedPoseBlock();

// Unmaps and closes a mapped block, removes its name (POSIX) and sets both values to null; does
// nothing without one.
void ReleaseSharedPoseBlock();

} // namespace tarvolt
