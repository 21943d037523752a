#include "RelayHost.h"

#include <openvr_driver.h>

#include <dirent.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace bench {

namespace {

using namespace std::chrono_literals;

// The relay finds the server by its process name.
constexpr const char *kServerName = "vrserver";

vr::TrackedDevicePose_t Upright(float x, float y, float z)
{
    vr::TrackedDevicePose_t pose{};
    pose.mDeviceToAbsoluteTracking.m[0][0] = pose.mDeviceToAbsoluteTracking.m[1][1] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[2][2] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[0][3] = x;
    pose.mDeviceToAbsoluteTracking.m[1][3] = y;
    pose.mDeviceToAbsoluteTracking.m[2][3] = z;
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = pose.bDeviceIsConnected = true;
    return pose;
}

// First line of a small /proc file.
std::string ReadLine(const std::string &path)
{
    std::string line;
    if (FILE *f = std::fopen(path.c_str(), "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof buffer, f) != nullptr)
            line = buffer;
        std::fclose(f);
    }
    return line;
}

// A child of this process named vistrel, or 0.
int FindRelayChild()
{
    int found = 0;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return 0;
    while (const dirent *entry = readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        const std::string stat = ReadLine("/proc/" + std::to_string(pid) + "/stat");
        const size_t open = stat.find('(');
        const size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        int ppid = 0;
        char state = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2)
            continue;
        if (stat.compare(open + 1, close - open - 1, "vistrel") == 0 && ppid == getpid()) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

} // namespace

bool RelayHost::Start(const std::string &packageRoot)
{
    prctl(PR_SET_NAME, kServerName, 0, 0, 0);
    if (!devices.Start()) {
        std::fprintf(stderr, "cannot publish the tracked-device table\n");
        return false;
    }
    devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, Upright(0.0f, 1.7f, 0.0f));
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand,
                      Upright(0.3f, 1.0f, -0.4f));
    devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand,
                      Upright(-0.3f, 1.0f, -0.4f));
    devices.StampPoseQueries(true);
    if (!host.Load(packageRoot)) {
        std::fprintf(stderr, "cannot load the driver: %s\n", host.Error().c_str());
        return false;
    }
    if (host.Init() != vr::VRInitError_None || host.Activate() != vr::VRInitError_None) {
        std::fprintf(stderr, "the driver did not come up\n");
        return false;
    }
    // The relay's start-up (open the block, initialise, find the server) takes a moment.
    const auto limit = sim::Clock::now() + 20s;
    while ((devices.PoseQueries() < 100 || relayPid_ == 0) && sim::Clock::now() < limit) {
        std::this_thread::sleep_for(10ms);
        if (relayPid_ == 0)
            relayPid_ = FindRelayChild();
    }
    if (devices.PoseQueries() < 100 || relayPid_ == 0) {
        std::fprintf(stderr, "the relay does not run; the driver's log:\n");
        for (const std::string &line : host.Recorder().LogTexts())
            std::fprintf(stderr, "  %s\n", line.c_str());
        return false;
    }
    return true;
}

RelayHost::~RelayHost()
{
    host.Shutdown();  // ends the relay
    devices.Stop();
}

std::chrono::nanoseconds RelayHost::RelayCpuTime() const
{
    // The first field of schedstat is the time on a processor in nanoseconds.
    const std::string line = ReadLine("/proc/" + std::to_string(relayPid_) + "/schedstat");
    return std::chrono::nanoseconds(std::strtoll(line.c_str(), nullptr, 10));
}

sim::Clock::time_point StampOf(const vr::DriverPose_t &pose)
{
    return sim::Clock::time_point(std::chrono::nanoseconds(sim::PoseQueryStamp(pose.vecVelocity)));
}

} // namespace bench
