// End-to-end figures of the pose path with the real relay program: the simulated host runs the
// shipped driver, whose activation starts vistrel next to it in the build's package.
#include "E2eRelay.h"

#include "E2eSupport.h"
#include "RelayHost.h"

#include <thread>

namespace bench {

namespace {

constexpr int kAgeFrames = 900;              // ten seconds at 90 Hz
constexpr uint64_t kLockFrames = 5000000;  // frames run back to back with the relay writing
constexpr auto kLockWallLimit = std::chrono::seconds(60);
// A frame update that found the pose lock held slept at least this long (one retry).
constexpr auto kLockRetry = std::chrono::milliseconds(10);

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

} // namespace bench
