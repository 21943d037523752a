// vistrel.exe's pace under Wine, for make bench. This program carries the server's name
// (vrserver.exe, in a folder of its own) and stands in for SteamVR and the driver together: it
// publishes the tracked devices, creates and zeroes the pose block, starts vistrel.exe from the
// build's package as the driver does, and counts vistrel's passes (its pose queries) over a
// measured stretch. It prints
//   RELAY             once vistrel runs its passes (the stretch begins)
//   PASSES <n> <s>    n passes in s seconds (the stretch has ended)
// and ends vistrel. The processor time is read by the caller on the Unix side: Wine does not
// report the times of another process.
#include "DriverLibrary.h"
#include "SharedPose.h"
#include "TrackedDevicePublisher.h"
#include "WideText.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kMeasureMs = 10000;

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

double Seconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

} // namespace

int main()
{
    sim::TrackedDevicePublisher devices;
    if (!devices.Start())
        return Fail("cannot publish the tracked-device table");
    devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, Upright(0.0f, 1.7f, 0.0f));
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand,
                      Upright(0.3f, 1.0f, -0.4f));

    tarvolt::PoseBlockHandle mapping = tarvolt::CreatePoseBlockMapping();
    void *view = tarvolt::MapPoseBlock(mapping);
    if (view == nullptr)
        return Fail("cannot create the pose block");
    std::memset(view, 0, sizeof(tarvolt::SharedPose));

    const std::string relay = sim::DriverBinaryDirectory(sim::BuildDirectory() + "\\pkg") + "\\vistrel.exe";
    std::wstring path = sim::Utf8ToWide(relay);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return Fail(("cannot start " + relay).c_str());

    int status = 0;
    const double limit = Seconds() + 30.0;
    while (devices.PoseQueries() < 100 && Seconds() < limit)
        Sleep(10);
    if (devices.PoseQueries() < 100) {
        status = Fail("vistrel.exe makes no passes");
    } else {
        std::printf("RELAY\n");
        std::fflush(stdout);
        const uint64_t passes0 = devices.PoseQueries();
        const double start = Seconds();
        Sleep(kMeasureMs);
        const uint64_t passes = devices.PoseQueries() - passes0;
        std::printf("PASSES %llu %.3f\n", static_cast<unsigned long long>(passes), Seconds() - start);
        std::fflush(stdout);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    tarvolt::UnmapPoseBlock(view);
    tarvolt::ClosePoseBlockMapping(mapping);
    devices.Stop();
    return status;
}
