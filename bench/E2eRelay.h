#pragma once
// The end-to-end measurements that need the relay program; each in a process of its own.

#include <string>

namespace bench {

// Age of the published pose, the relay's passes per second and its processor share.
int MeasurePoseAge();
// Frame updates that waited on the pose lock, and the longest one, per 100,000 frames.
int MeasureLockWaits();
// SteamVR's shutdown: the server's quit request to the relay's disconnect and to its end, and to
// the driver's unloading; with vistrel, and with a relay that ignores the request. Each
// shutdown runs in a process of its own (this program with quit_once).
int MeasureQuit();
// One shutdown with the relay of the given package root; prints one QUIT line.
int MeasureOneQuit(const std::string &packageRoot);

} // namespace bench
