#pragma once
// The end-to-end measurements that need the relay program; each in a process of its own.

#include "SimHost.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One run of the pose path: the pace vistrel keeps, how the frames run, and for how long.
//   <fixed|frames> <rate> <steady|irregular|paused> <seconds>
struct PoseRun {
    bool fixedPace = false;  // the earlier 1,000 passes a second, whatever the frames do
    double hz = 90.0;
    sim::Pacing pacing = sim::Pacing::Steady;
    int seconds = 30;
};
bool ParsePoseRun(int argc, char **argv, int first, PoseRun &run);
// "frames at 90 Hz, steady; vistrel in step with the frames" and the like.
std::string Describe(const PoseRun &run);

// What a run of the pose path gave: vistrel's passes and processor time, the age of each frame's
// pose, the frames that published the record the frame before them had published, and what the
// relay's pacing said at the end (its margin; empty for the fixed pace).
struct PoseFigures {
    double seconds = 0;
    uint64_t passes = 0;
    double cpuShare = 0;  // of one core
    double wineserverShare = -1;  // under Wine
    std::vector<double> agesUs;
    uint64_t frames = 0;
    uint64_t reused = 0;
    std::string pacing;  // the relay's PACING line
};
void PoseRows(const PoseRun &run, const PoseFigures &figures, bool underWine);

// The pose path with vistrel's code (bench/relay_paced) at the run's pace and frames: age of the
// published pose, passes per second, processor share, records published twice, the margin.
int MeasurePoseAge(const PoseRun &run);
// Frame updates longer than 1 ms per 10 million, and the longest one, with vistrel, with vistrel
// at the earlier fixed pace, or with a stress relay that takes the pose lock flat out.
enum class LockWriter { Vistrel, FixedPace, Stress };
int MeasureLockWaits(LockWriter writer);
// The same figures for vistrel.exe under Wine, through the Windows build's bench-wine/vrserver.exe,
// which stands in for the server and runs the frames; the caller runs this inside a Wine session
// of that build.
int MeasureUnderWine(const std::string &windowsBuild, const PoseRun &run);
// SteamVR's shutdown: the server's quit request to the relay's disconnect and to its end, and to
// the driver's unloading; with vistrel, and with a relay that ignores the request. Each
// shutdown runs in a process of its own (this program with quit_once).
int MeasureQuit();
// One shutdown with the relay of the given package root; prints one QUIT line.
int MeasureOneQuit(const std::string &packageRoot);

} // namespace bench
