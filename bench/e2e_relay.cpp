// End-to-end figures of the pose path with the real relay program: the simulated host runs the
// shipped driver, whose activation starts vistrel next to it in the build's package.
#include "E2eRelay.h"

#include "E2eSupport.h"
#include "DriverLibrary.h"
#include "RelayHost.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace bench {

namespace {

constexpr uint64_t kLockFrames = 10000000;  // frames run back to back with a relay writing
constexpr auto kLockWallLimit = std::chrono::seconds(30);
// A frame update longer than this is felt: at 90 Hz it takes a tenth of the frame's time.
constexpr auto kLongFrameUpdate = std::chrono::milliseconds(1);
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

bool ParsePoseRun(int argc, char **argv, int first, PoseRun &run)
{
    if (argc < first + 4)
        return false;
    const std::string pace = argv[first], pacing = argv[first + 2];
    run.fixedPace = pace == "fixed";
    run.hz = std::atof(argv[first + 1]);
    run.pacing = pacing == "irregular" ? sim::Pacing::Irregular : pacing == "paused" ? sim::Pacing::Paused : sim::Pacing::Steady;
    run.seconds = std::atoi(argv[first + 3]);
    return (pace == "fixed" || pace == "frames") && run.hz > 0 && run.seconds > 0 &&
           (pacing == "steady" || pacing == "irregular" || pacing == "paused");
}

std::string Describe(const PoseRun &run)
{
    const char *frames = run.pacing == sim::Pacing::Irregular ? "irregular frames"
                         : run.pacing == sim::Pacing::Paused  ? "frames pausing 1 s in 3"
                                                              : "frames";
    return frames + Format(" at %.0f Hz", run.hz) +
           (run.fixedPace ? ", the earlier fixed pace (1,000 passes a second)" : ", in step with the frames");
}

void PoseRows(const PoseRun &run, const PoseFigures &f, bool underWine)
{
    const double perSecond = static_cast<double>(f.passes) / f.seconds;
    long long margin = -1;
    unsigned long long framePasses = 0, gridPasses = 0, counted = 0;
    const bool paced = std::sscanf(f.pacing.c_str(), "PACING %lld %llu %llu %llu", &margin, &framePasses, &gridPasses,
                                   &counted) == 4;
    std::string value = Format("%.0f passes/s; CPU %.2f %%", perSecond, f.cpuShare * 100.0);
    if (underWine)
        value += Format(" (wineserver %.2f %%)", f.wineserverShare * 100.0);
    value += Format("; pose age median %.0f us, p99 %.0f us", Quantile(f.agesUs, 0.5), Quantile(f.agesUs, 0.99));
    value += Format("; previous record again: %.1f per 1,000 frames", 1000.0 * static_cast<double>(f.reused) /
                                                                          static_cast<double>(std::max<uint64_t>(f.frames, 1)));
    value += " (" + std::to_string(f.reused) + " of " + std::to_string(f.frames) + " frames in " +
             Format("%.0f s)", f.seconds);
    if (paced && !run.fixedPace)
        value += Format("; margin at the end %.2f ms; %.0f %% of passes in step with the frames", margin / 1e6,
                        100.0 * static_cast<double>(framePasses) / static_cast<double>(std::max(framePasses + gridPasses, 1ull)));
    Row(std::string(underWine ? "vistrel.exe under Wine, " : "vistrel, ") + Describe(run), value);
    // The figures of the earlier rows, for the baseline's column: vistrel as it ships, frames at 90 Hz.
    if (!run.fixedPace && run.hz == 90.0 && run.pacing == sim::Pacing::Steady) {
        if (underWine) {
            Row("vistrel.exe's passes per second under Wine", Format("%.0f", perSecond));
            Row("vistrel.exe's CPU share under Wine (one core = 100 %)",
                Format("%.2f %% (wineserver meanwhile: %.1f %%)", f.cpuShare * 100.0, f.wineserverShare * 100.0));
        } else {
            Row("Age of the pose at publication (us since the relay took it)",
                Format("median %.1f, p99 %.1f", Quantile(f.agesUs, 0.5), Quantile(f.agesUs, 0.99)) + " (" +
                    std::to_string(f.agesUs.size()) + " frames at 90 Hz)");
            Row("vistrel's passes per second", Format("%.0f", perSecond));
            Row("vistrel's CPU share (one core = 100 %)", Format("%.2f %%", f.cpuShare * 100.0));
        }
    }
}

// Frames at the run's rate and pace, after two seconds for the relay to settle: each published
// pose's age is the time from the relay's pose query (stamped by the simulated runtime, a few
// microseconds before the relay writes the block) to the driver's TrackedDevicePoseUpdated; a
// frame whose pose carries the same stamp as the frame before it published the previous record
// again. Over the same stretch, the relay's passes (its pose queries) and its time on a processor.
// At the end the server asks its clients to quit, and the relay reports its pacing.
int MeasurePoseAge(const PoseRun &run)
{
    const std::string report = sim::BuildDirectory() + "/bench-pacing-report.txt";
    std::remove(report.c_str());
    setenv("TARVOLT_BENCH_PACE", run.fixedPace ? "fixed" : "frames", 1);
    setenv("TARVOLT_BENCH_REPORT", report.c_str(), 1);
    RelayHost relay;
    if (!relay.Start(sim::BuildDirectory() + "/pkg-bench-paced"))
        return 1;
    sim::SimHost &host = relay.host;
    host.Recorder().KeepPoseHistory(false);
    sim::FramePacer pacer(run.hz, run.pacing, 3);
    Clock::time_point next = Clock::now();
    const Clock::time_point settled = next + 2s;
    const Clock::time_point end = settled + std::chrono::seconds(run.seconds);
    PoseFigures f;
    uint64_t queries0 = 0;
    std::chrono::nanoseconds cpu0{};
    Clock::time_point start{};
    uint64_t previous = 0;
    int unstamped = 0;  // after the first stamped pose: written by something else than our relay
    for (bool measuring = false;;) {
        if (!measuring && Clock::now() >= settled) {
            measuring = true;
            queries0 = relay.devices.PoseQueries();
            cpu0 = relay.RelayCpuTime();
            start = Clock::now();
        }
        if (Clock::now() >= end)
            break;
        host.RunFrame();
        sim::PoseRecord last;
        if (measuring && host.Recorder().LastPose(last)) {
            const uint64_t stamp = static_cast<uint64_t>(StampOf(last.pose).time_since_epoch().count());
            if (stamp != 0) {
                f.agesUs.push_back(std::chrono::duration<double, std::micro>(last.time - StampOf(last.pose)).count());
                ++f.frames;
                f.reused += stamp == previous;
            } else if (!f.agesUs.empty()) {
                ++unstamped;
            }
            previous = stamp;
        }
        next += pacer.Next();
        std::this_thread::sleep_until(next);
    }
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.passes = relay.devices.PoseQueries() - queries0;
    f.cpuShare = std::chrono::duration<double>(relay.RelayCpuTime() - cpu0).count() / f.seconds;
    relay.devices.QuitClients();  // the relay reports when its pose loop ends
    if (FILE *file = std::fopen(report.c_str(), "r")) {
        char line[256];
        if (std::fgets(line, sizeof line, file) != nullptr)
            f.pacing = line;
        std::fclose(file);
    }
    PoseRows(run, f, false);
    if (unstamped != 0)
        std::fprintf(stderr, "%d poses came from another program using the pose block's name: rerun on an idle machine\n",
                     unstamped);
    return 0;
}

// Times the thread has handed its processor to another thread without going to sleep: taken by
// the scheduler for another runnable thread, or given away by a yield.
long ProcessorHandovers()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nivcsw;
}

// Frames run back to back while vistrel writes at its pace, or while a stress relay takes the
// pose lock flat out: each frame update is timed. Frames without a new pose are those whose wait
// for the lock reached the frame update's bound. On a shared machine a frame update is also long
// when the scheduler gives its processor to another program's thread in the middle of it; the
// frame thread's handovers of its processor (read after every frame) tell those apart from the
// updates that stayed on their processor the whole time, which only the lock's wait can make long.
int MeasureLockWaits(LockWriter writer)
{
    const bool stress = writer == LockWriter::Stress;
    setenv("TARVOLT_BENCH_PACE", "fixed", 1);
    RelayHost relay;
    const std::string root = stress                            ? sim::BuildDirectory() + "/pkg-bench-stress"
                             : writer == LockWriter::FixedPace ? sim::BuildDirectory() + "/pkg-bench-paced"
                                                               : sim::SimHost::DefaultPackageRoot(false);
    if (!relay.Start(root, !stress))
        return 1;
    sim::SimHost &host = relay.host;
    host.Recorder().KeepPoseHistory(false);
    const size_t poses0 = host.Recorder().PoseCount();
    uint64_t frames = 0;
    uint64_t longUpdates = 0;
    uint64_t longOnTheirProcessor = 0;
    Clock::duration longest{};
    Clock::duration longestOnItsProcessor{};
    long handovers = ProcessorHandovers();
    const Clock::time_point limit = Clock::now() + kLockWallLimit;
    while (frames < kLockFrames && Clock::now() < limit) {
        const Clock::time_point before = Clock::now();
        host.RunFrame();
        const Clock::duration took = Clock::now() - before;
        const long handoversAfter = ProcessorHandovers();
        const bool keptProcessor = handoversAfter == handovers;
        handovers = handoversAfter;
        ++frames;
        longest = std::max(longest, took);
        if (keptProcessor)
            longestOnItsProcessor = std::max(longestOnItsProcessor, took);
        if (took > kLongFrameUpdate) {
            ++longUpdates;
            if (keptProcessor)
                ++longOnTheirProcessor;
        }
    }
    const uint64_t withoutPose = frames - (host.Recorder().PoseCount() - poses0);
    const double per10m = 1e7 / static_cast<double>(frames);
    const std::string with = stress                            ? "a stress relay taking the lock flat out"
                             : writer == LockWriter::FixedPace ? "vistrel at the earlier fixed pace"
                                                               : "vistrel";
    const std::string in = std::to_string(frames) + " frames run back to back";
    const auto micros = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); };
    Row("Frame updates longer than 1 ms, with " + with + " (per 10 million frames)",
        Format("%.0f", static_cast<double>(longUpdates) * per10m) + " (" + std::to_string(longUpdates) + " in " + in +
            ", " + std::to_string(longOnTheirProcessor) +
            " of them on their processor throughout; without a new pose: " + std::to_string(withoutPose) + ")");
    Row("Longest frame update, with " + with + " (us)",
        Format("%.0f; %.0f among those on their processor throughout", micros(longest), micros(longestOnItsProcessor)) +
            " (in " + in + ")");
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
