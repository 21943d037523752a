// vistrel.exe's pose path under Wine, for make bench. This program carries the server's name
// (vrserver.exe, in a folder of its own) and stands in for SteamVR and the driver together: it
// publishes the tracked devices (stamping every pose query with its time), creates and zeroes the
// pose block, starts vistrel's code built for make bench (relay\vistrel.exe, relay_paced.cpp) at
// the pace asked for, and runs frames as the driver's frame update does: the pose copied under
// the pose lock, then the frame clock stamped. After two seconds to settle it measures a stretch
// and prints
//   RELAY             the stretch begins
//   AGE <us>          per frame: the age of the pose it copied
//   PASSES <n> <s> <frames> <reused>   n passes in s seconds; frames that took the record the
//                     frame before them took
//   PACING ...        the relay's own report (relay_paced.cpp), after the server's quit request
// and ends vistrel. The processor time is read by the caller on the Unix side: Wine does not
// report the times of another process.
//   vrserver.exe fixed|frames <rate> steady|irregular|paused <seconds>
#include "DriverLibrary.h"
#include "FrameClock.h"
#include "SharedPose.h"
#include "SimHost.h"
#include "TrackedDevicePublisher.h"
#include "WideText.h"

#include <windows.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

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

int Fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

// The frames wait as the relay does, on a high-resolution waitable timer. Under Wine both end up
// to a little over a millisecond late: its server's timeouts are whole milliseconds, whatever
// timer is asked for. (Frames that yield the processor until their exact time instead keep the
// relay from its processor on this 2-core machine, which measures worse, not better.)
void SleepUntil(HANDLE timer, Clock::time_point at)
{
    for (Clock::duration left; (left = at - Clock::now()) > Clock::duration::zero();) {
        LARGE_INTEGER due;
        due.QuadPart = -((std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() + 99) / 100);
        if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) || WaitForSingleObject(timer, INFINITE) != WAIT_OBJECT_0)
            Sleep(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5)
        return Fail("usage: vrserver.exe fixed|frames <rate> steady|irregular|paused <seconds>");
    const double hz = std::atof(argv[2]);
    const std::string pacingName = argv[3];
    const sim::Pacing pacing = pacingName == "irregular" ? sim::Pacing::Irregular
                               : pacingName == "paused"  ? sim::Pacing::Paused
                                                         : sim::Pacing::Steady;
    const int seconds = std::atoi(argv[4]);

    sim::TrackedDevicePublisher devices;
    if (!devices.Start())
        return Fail("cannot publish the tracked-device table");
    devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, Upright(0.0f, 1.7f, 0.0f));
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand,
                      Upright(0.3f, 1.0f, -0.4f));
    devices.StampPoseQueries(true);

    tarvolt::PoseBlockHandle mapping = tarvolt::CreatePoseBlockMapping();
    void *view = tarvolt::MapPoseBlock(mapping);
    if (view == nullptr)
        return Fail("cannot create the pose block");
    std::memset(view, 0, sizeof(tarvolt::SharedPose));
    tarvolt::SharedPose &block = *static_cast<tarvolt::SharedPose *>(view);

    const std::string here = sim::ExecutableDirectory();
    const std::string report = here + "\\pacing-report.txt";
    DeleteFileW(sim::Utf8ToWide(report).c_str());
    SetEnvironmentVariableA("TARVOLT_BENCH_PACE", argv[1]);
    SetEnvironmentVariableW(L"TARVOLT_BENCH_REPORT", sim::Utf8ToWide(report).c_str());
    const std::string relay = here + "\\relay\\vistrel.exe";
    std::wstring path = sim::Utf8ToWide(relay);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return Fail(("cannot start " + relay).c_str());
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (timer == nullptr)
        timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);

    int status = 0;
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(30);
    while (devices.PoseQueries() < 100 && Clock::now() < limit)
        Sleep(10);
    if (devices.PoseQueries() < 100) {
        status = Fail("vistrel.exe makes no passes");
    } else {
        tarvolt::FrameClockWriter frameClock;
        sim::FramePacer pacer(hz, pacing, 3);
        Clock::time_point next = Clock::now();
        const Clock::time_point settled = next + std::chrono::seconds(2);
        const Clock::time_point end = settled + std::chrono::seconds(seconds);
        bool measuring = false;
        uint64_t passes0 = 0, frames = 0, reused = 0, previous = 0;
        Clock::time_point start{};
        while (Clock::now() < end) {
            if (!measuring && Clock::now() >= settled) {
                measuring = true;
                std::printf("RELAY\n");
                std::fflush(stdout);
                passes0 = devices.PoseQueries();
                start = Clock::now();
            }
            // The driver's frame update: the record under the pose lock, then the frame clock.
            if (tarvolt::AcquirePoseLockBriefly(block.lock)) {
                vr::TrackedDevicePose_t record;
                std::memcpy(static_cast<void *>(&record), &block.pose, sizeof record);
                tarvolt::ReleasePoseLock(block.lock);
                frameClock.Stamp(tarvolt::FrameClockOf(block), tarvolt::MonotonicTicks());
                const double velocity[3] = {record.vVelocity.v[0], record.vVelocity.v[1], record.vVelocity.v[2]};
                const uint64_t stamp = sim::PoseQueryStamp(velocity);
                if (measuring && stamp != 0) {
                    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
                    std::printf("AGE %.1f\n", static_cast<double>(static_cast<uint64_t>(now.count()) - stamp) / 1000.0);
                    ++frames;
                    reused += stamp == previous;
                }
                previous = stamp;
            }
            next += pacer.Next();
            SleepUntil(timer, next);
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("PASSES %llu %.3f %llu %llu\n", static_cast<unsigned long long>(devices.PoseQueries() - passes0),
                    elapsed, static_cast<unsigned long long>(frames), static_cast<unsigned long long>(reused));
        std::fflush(stdout);
        devices.QuitClients();  // the relay reports when its pose loop ends
        if (FILE *file = std::fopen(report.c_str(), "r")) {
            char line[256];
            if (std::fgets(line, sizeof line, file) != nullptr)
                std::printf("%s", line);
            std::fclose(file);
        }
        std::fflush(stdout);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (timer != nullptr)
        CloseHandle(timer);
    tarvolt::UnmapPoseBlock(view);
    tarvolt::ClosePoseBlockMapping(mapping);
    devices.Stop();
    return status;
}
