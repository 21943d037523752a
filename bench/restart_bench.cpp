// How long the rifle is without its pose when vistrel is killed, for make bench: natively and, built
// for Windows, under Wine. This program is the simulated server (it carries the server's name, in a
// folder of its own beside bin/, so that vistrel follows it): it publishes a right-hand controller,
// loads the shipped driver from the build's package and activates it, and kills the relay the
// driver started once it relays. Each kill runs in an activation of its own, so that the driver's
// first pause before a restart (1 s) applies to each. Measured from the kill:
//   the driver's line for the relay's end (the end noticed),
//   its line for the restart (the first restart, after the pause),
//   the restarted relay's first record in the pose block (the driver cleared the record when it
//   noticed the end, so a valid one is the new relay's).
// Prints "ROW<tab>label<tab>value" lines: median and longest of kRuns kills.
//
//   vrserver [--wine]     --wine only labels the rows as taken under Wine
#include "ClientEnding.h"
#include "SharedPose.h"
#include "SimHost.h"
#include "TrackedDevicePublisher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRuns = 10;
constexpr auto kLimit = 60s;  // a fail-safe only

vr::TrackedDevicePose_t Upright(float x, float y, float z)
{
    vr::TrackedDevicePose_t pose{};
    for (int i = 0; i < 3; ++i)
        pose.mDeviceToAbsoluteTracking.m[i][i] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[0][3] = x;
    pose.mDeviceToAbsoluteTracking.m[1][3] = y;
    pose.mDeviceToAbsoluteTracking.m[2][3] = z;
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = pose.bDeviceIsConnected = true;
    return pose;
}

// Looks at the block every millisecond until it holds a valid record; false after kLimit.
bool WaitForValidRecord(tarvolt::SharedPose &block)
{
    const Clock::time_point deadline = Clock::now() + kLimit;
    while (Clock::now() < deadline) {
        bool valid = false;
        if (tarvolt::AcquirePoseLockWithin(block.lock, 1)) {
            valid = block.pose.bPoseIsValid;
            tarvolt::ReleasePoseLock(block.lock);
        }
        if (valid)
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// When the driver logged its count-th line that begins with prefix.
bool LoggedAt(sim::HostRecorder &recorder, const std::string &prefix, size_t count, Clock::time_point &at)
{
    if (!recorder.WaitForLogPrefix(prefix, std::chrono::duration_cast<std::chrono::milliseconds>(kLimit), count))
        return false;
    size_t seen = 0;
    for (const sim::LogRecord &line : recorder.Logs())
        if (line.text.rfind(prefix, 0) == 0 && ++seen == count) {
            at = line.time;
            return true;
        }
    return false;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Row(const std::string &label, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::printf("ROW\t%s\t%.1f (longest %.1f)\n", label.c_str(), values[values.size() / 2], values.back());
    std::fflush(stdout);
}

int Fail(const char *what)
{
    std::fprintf(stderr, "restart bench: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);  // the rows go to a Unix pipe: no carriage returns
#endif
    const std::string where = argc > 1 && std::strcmp(argv[1], "--wine") == 0 ? " under Wine" : "";
    sim::TrackedDevicePublisher devices;
    if (!devices.Start())
        return Fail("cannot publish the tracked devices");
    devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, Upright(0.0f, 1.7f, 0.0f));
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, Upright(0.3f, 1.0f, -0.4f));

    sim::SimHost host;
    if (!host.Load(sim::SimHost::DefaultPackageRoot(false)) || host.Init() != vr::VRInitError_None)
        return Fail(("cannot load the driver: " + host.Error()).c_str());
    std::vector<double> noticed, restarted, relayed;
    for (int run = 1; run <= kRuns; ++run) {
        if (host.Activate() != vr::VRInitError_None)
            return Fail("Activate failed");
        const tarvolt::PoseBlockHandle mapping = tarvolt::OpenPoseBlockMapping();
        auto *block = static_cast<tarvolt::SharedPose *>(tarvolt::MapPoseBlock(mapping));
        if (block == nullptr || !WaitForValidRecord(*block))
            return Fail("the relay never wrote its pose");
        const Clock::time_point killed = Clock::now();
        if (sim::EndClients(devices, sim::ClientEnd::Kill) != 1)
            return Fail("the relay could not be killed");
        Clock::time_point ended, started;
        if (!LoggedAt(host.Recorder(), "Vistrel process ended", static_cast<size_t>(run), ended) ||
            !LoggedAt(host.Recorder(), "Vistrel process restarted.", static_cast<size_t>(run), started) ||
            !WaitForValidRecord(*block))
            return Fail("the relay was not started again, or never wrote its pose");
        const Clock::time_point record = Clock::now();
        noticed.push_back(Ms(ended - killed));
        restarted.push_back(Ms(started - killed));
        relayed.push_back(Ms(record - killed));
        tarvolt::UnmapPoseBlock(block);
        tarvolt::ClosePoseBlockMapping(mapping);
        host.Deactivate();
    }
    host.Shutdown();
    Row("vistrel killed: its end noticed by the driver (ms, median of 10)" + where, noticed);
    Row("vistrel killed: started again by the driver (ms, median of 10; pause 1 s)" + where, restarted);
    Row("vistrel killed: the restarted relay's first record in the block (ms, median of 10; goal at most 2,500)" + where,
        relayed);
    devices.Stop();
    return 0;
}
