// End-to-end figures of the pose path with the real relay program: the simulated host runs the
// shipped driver, whose activation starts vistrel next to it in the build's package.
#include "E2eRelay.h"

#include "E2eSupport.h"
#include "DriverLibrary.h"
#include "RelayHost.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cinttypes>
#include <thread>

namespace bench {

namespace {

constexpr int kAgeFrames = 900;              // ten seconds at 90 Hz
constexpr uint64_t kLockFrames = 5000000;  // frames run back to back with the relay writing
constexpr auto kLockWallLimit = std::chrono::seconds(60);
// A frame update that found the pose lock held slept at least this long (one retry).
constexpr auto kLockRetry = std::chrono::milliseconds(10);
constexpr int kQuitRuns = 5;  // shutdowns with vistrel; one with the relay that ignores the request

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct QuitSample {
    double disconnect = 0;  // quit request to the relay's VR_Shutdown (or its kill)
    double end = 0;         // quit request to the relay's process end
    double shutdown = 0;    // quit request to the driver unloaded
    unsigned killed = 0;
};

// Runs this program with quit_once for a package root and reads its QUIT line.
bool RunOneQuit(const std::string &packageRoot, QuitSample &sample)
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return false;
    self[n] = '\0';
    const std::string command = std::string("'") + self + "' quit_once '" + packageRoot + "'";
    FILE *child = popen(command.c_str(), "r");
    if (child == nullptr)
        return false;
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, child) != nullptr)
        found = found || std::sscanf(line, "QUIT %lf %lf %lf %u", &sample.disconnect, &sample.end, &sample.shutdown,
                                     &sample.killed) == 4;
    return pclose(child) == 0 && found;
}

} // namespace

// Frames at 90 Hz: each published pose's age is the time from the relay's pose query (stamped by
// the simulated runtime, a few microseconds before the relay writes the block) to the driver's
// TrackedDevicePoseUpdated. Over the same run, the relay's passes (its pose queries) and its time
// on a processor.
int MeasurePoseAge()
{
    RelayHost relay;
    if (!relay.Start())
        return 1;
    sim::SimHost &host = relay.host;
    host.Recorder().KeepPoseHistory(false);
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 90.0));
    const uint64_t queries0 = relay.devices.PoseQueries();
    const std::chrono::nanoseconds cpu0 = relay.RelayCpuTime();
    const Clock::time_point start = Clock::now();
    Clock::time_point next = start;
    std::vector<double> ages;
    int unstamped = 0;  // after the first stamped pose: written by something else than our relay
    for (int frame = 0; frame < kAgeFrames; ++frame) {
        host.RunFrame();
        sim::PoseRecord last;
        if (host.Recorder().LastPose(last)) {
            const Clock::time_point stamp = StampOf(last.pose);
            if (stamp.time_since_epoch().count() != 0)
                ages.push_back(std::chrono::duration<double, std::micro>(last.time - stamp).count());
            else if (!ages.empty())
                ++unstamped;
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double passes = static_cast<double>(relay.devices.PoseQueries() - queries0) / seconds;
    const double cpu = std::chrono::duration<double>(relay.RelayCpuTime() - cpu0).count() / seconds;
    Row("Age of the pose at publication (us since the relay took it)",
        Format("median %.1f, p99 %.1f", Quantile(ages, 0.5), Quantile(ages, 0.99)) + " (" +
            std::to_string(ages.size()) + " frames at 90 Hz)" +
            (unstamped == 0 ? std::string()
                            : "; " + std::to_string(unstamped) +
                                  " poses came from another program using the pose block's name: rerun on an idle machine"));
    Row("Relay passes per second, flat out", Format("%.0f", passes));
    Row("Relay's CPU share, flat out (one core = 100 %)", Format("%.0f %%", cpu * 100.0));
    return 0;
}

// Frames run back to back while the relay writes flat out: each frame update is timed, and one
// that lasted a lock retry's sleep or more waited on the pose lock. Frames without a pose are
// those whose wait reached the frame update's bound.
int MeasureLockWaits()
{
    RelayHost relay;
    if (!relay.Start())
        return 1;
    sim::SimHost &host = relay.host;
    host.Recorder().KeepPoseHistory(false);
    const size_t poses0 = host.Recorder().PoseCount();
    uint64_t frames = 0;
    uint64_t waited = 0;
    Clock::duration longest{};
    Clock::duration longestWithoutWait{};
    const Clock::time_point limit = Clock::now() + kLockWallLimit;
    while (frames < kLockFrames && Clock::now() < limit) {
        const Clock::time_point before = Clock::now();
        host.RunFrame();
        const Clock::duration took = Clock::now() - before;
        ++frames;
        longest = std::max(longest, took);
        if (took >= kLockRetry)
            ++waited;
        else
            longestWithoutWait = std::max(longestWithoutWait, took);
    }
    const uint64_t withoutPose = frames - (host.Recorder().PoseCount() - poses0);
    const double per100k = 100000.0 / static_cast<double>(frames);
    Row("Frame updates that waited on the pose lock, relay flat out (per 100,000 frames)",
        Format("%.0f", static_cast<double>(waited) * per100k) + " (" + std::to_string(waited) + " in " +
            std::to_string(frames) + " frames run back to back; without a pose: " + std::to_string(withoutPose) + ")");
    const auto micros = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); };
    Row("Longest frame update, relay flat out (us)",
        Format("%.0f; %.0f among those that did not wait", micros(longest), micros(longestWithoutWait)) +
            " (in " + std::to_string(frames) + " frames)");
    return 0;
}


// The relay is this process's child (the driver started it); a descriptor of it shows its end
// whoever reaps it. A thread notes the moment.
int MeasureOneQuit(const std::string &packageRoot)
{
    RelayHost relay;
    if (!relay.Start(packageRoot))
        return 1;
    const int relayEnd = static_cast<int>(syscall(SYS_pidfd_open, relay.RelayProcessId(), 0));
    if (relayEnd < 0) {
        std::fprintf(stderr, "cannot watch the relay's process\n");
        return 1;
    }
    Clock::time_point ended{};
    std::thread watch([&] {
        pollfd p{relayEnd, POLLIN, 0};
        while (poll(&p, 1, -1) <= 0) {
        }
        ended = Clock::now();
    });
    const Clock::time_point start = Clock::now();
    const sim::QuitResult quit = relay.devices.QuitClients();
    relay.host.Shutdown();  // deactivation ends the relay if it still runs
    const Clock::time_point unloaded = Clock::now();
    watch.join();
    close(relayEnd);
    std::printf("QUIT %.3f %.3f %.3f %u\n", Millis(quit.took), Millis(ended - start), Millis(unloaded - start),
                quit.killed);
    return 0;
}

int MeasureQuit()
{
    std::vector<double> disconnect, end, shutdown;
    unsigned killed = 0;
    for (int run = 0; run < kQuitRuns; ++run) {
        QuitSample sample;
        if (!RunOneQuit(sim::SimHost::DefaultPackageRoot(false), sample)) {
            std::fprintf(stderr, "a shutdown with vistrel failed\n");
            return 1;
        }
        disconnect.push_back(sample.disconnect);
        end.push_back(sample.end);
        shutdown.push_back(sample.shutdown);
        killed += sample.killed;
    }
    QuitSample ignoring;
    if (!RunOneQuit(sim::BuildDirectory() + "/pkg-bench-ignoring-quit", ignoring)) {
        std::fprintf(stderr, "the shutdown with the relay that ignores the quit request failed\n");
        return 1;
    }
    const std::string runs = " (" + std::to_string(kQuitRuns) + " shutdowns";
    Row("Server's quit request to vistrel's disconnect (ms)",
        Format("median %.1f, max %.1f", Quantile(disconnect, 0.5), Quantile(disconnect, 1.0)) + runs +
            (killed == 0 ? std::string(")") : "; " + std::to_string(killed) + " killed)") +
            Format("; a relay that ignores the request: killed after %.0f", ignoring.disconnect));
    Row("Server's quit request to vistrel's end (ms)",
        Format("median %.1f, max %.1f", Quantile(end, 0.5), Quantile(end, 1.0)) + runs +
            "; vistrel waits for the server, whose driver ends it at deactivation)" +
            Format("; a relay that ignores the request: %.0f", ignoring.end));
    Row("Simulated SteamVR shutdown, quit request to driver unloaded (ms)",
        Format("median %.0f, max %.0f", Quantile(shutdown, 0.5), Quantile(shutdown, 1.0)) + runs + ")" +
            Format("; with a relay that ignores the request: %.0f", ignoring.shutdown));
    return 0;
}

} // namespace bench
