#pragma once
// The end-to-end measurements that need the relay program; each in a process of its own.

#include <string>

namespace bench {

// Age of the published pose, the relay's passes per second and its processor share.
int MeasurePoseAge();
// Frame updates longer than 1 ms per 10 million, and the longest one, with vistrel or with a
// stress relay that takes the pose lock flat out.
int MeasureLockWaits(bool stress);
// vistrel.exe's passes per second and processor share under Wine, through the Windows build's
// bench-wine/vrserver.exe; the caller runs this inside a Wine session of that build.
int MeasureUnderWine(const std::string &windowsBuild);
// SteamVR's shutdown: the server's quit request to the relay's disconnect and to its end, and to
// the driver's unloading; with vistrel, and with a relay that ignores the request. Each
// shutdown runs in a process of its own (this program with quit_once).
int MeasureQuit();
// One shutdown with the relay of the given package root; prints one QUIT line.
int MeasureOneQuit(const std::string &packageRoot);

} // namespace bench
