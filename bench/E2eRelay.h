#pragma once
// The end-to-end measurements that need the relay program; each in a process of its own.

namespace bench {

// Age of the published pose, the relay's passes per second and its processor share.
int MeasurePoseAge();
// Frame updates that waited on the pose lock, and the longest one, per 100,000 frames.
int MeasureLockWaits();

} // namespace bench
