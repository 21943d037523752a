// The simulated runtime server as a program. It carries the server's name so that the relay
// program finds it in the process list and sees it end. It publishes its tracked devices (a
// headset, a right-hand controller that moves in a circle, a left-hand controller) for client
// programs, the driver's own among them, loads the driver from a package folder and runs frames.
// At its end it asks its clients to quit (and kills those that have not disconnected after 5 s)
// before it shuts the driver down.
//
//   vrserver [--root <package root>] [--seconds <s> | --frames <n> | --until-eof] [--sim-radio]
//            [--no-driver] [--no-devices] [--hz <rate>] [--jitter <us>] [--irregular | --paused]
//
//   vrserver --demo [--interactive] [--plain] [--bluez | --windows-runtime] [--root <package root>]
//
// --until-eof runs until standard input ends; --no-driver only publishes the devices (or, with
// --no-devices, only carries the name: a test then publishes devices of its own); --sim-radio
// loads the driver built with the simulated radio. Frames run at 90 Hz (--hz: another rate), each
// as late as a woken frame thread is, 40 us on average (--jitter: another mean; 0: none);
// --irregular runs them at an irregular pace, --paused stops them for a second every two seconds.
// --demo runs a whole session with it (see sim/demo), scripted or, with --interactive, played from
// the keyboard; with --bluez the shipped driver plays it through its BlueZ radio against a fake
// bluetoothd on a private bus; with --windows-runtime (the Windows build under Wine) the shipped
// driver plays it over the test-only Windows Runtime Bluetooth component.
#include "DemoSession.h"
#include "SimHost.h"
#include "TrackedDevicePublisher.h"
#include "WideText.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

void Print(const char *format, const std::string &text)
{
    std::printf(format, text.c_str());
    std::fflush(stdout);
}

std::string Position(const float m[3][4])
{
    char text[96];
    std::snprintf(text, sizeof text, "(%.3f, %.3f, %.3f)", m[0][3], m[1][3], m[2][3]);
    return text;
}

// The demo controller's pose at a frame: upright, circling 0.2 m around (0.3, 1.0, -0.4) once
// every four seconds at 90 Hz.
vr::TrackedDevicePose_t DemoControllerPose(uint64_t frame, float x0)
{
    vr::TrackedDevicePose_t pose{};
    const float angle = static_cast<float>(frame) * 6.2831853f / 360.0f;
    pose.mDeviceToAbsoluteTracking.m[0][0] = pose.mDeviceToAbsoluteTracking.m[1][1] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[2][2] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[0][3] = x0 + 0.2f * std::cos(angle);
    pose.mDeviceToAbsoluteTracking.m[1][3] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[2][3] = -0.4f + 0.2f * std::sin(angle);
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = pose.bDeviceIsConnected = true;
    return pose;
}

void PublishDemoDevices(sim::TrackedDevicePublisher &devices)
{
    vr::TrackedDevicePose_t hmd = DemoControllerPose(0, 0.0f);
    hmd.mDeviceToAbsoluteTracking.m[0][3] = 0.0f;
    hmd.mDeviceToAbsoluteTracking.m[1][3] = 1.7f;
    hmd.mDeviceToAbsoluteTracking.m[2][3] = 0.0f;
    devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, hmd);
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, DemoControllerPose(0, 0.3f));
    devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, DemoControllerPose(0, -0.3f));
}

std::atomic<bool> inputEnded{false};

void WatchInput()
{
    while (std::getchar() != EOF) {
    }
    inputEnded = true;
}

int Demo(int argc, char **argv)
{
    demo::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--demo")
            continue;
        if (arg == "--interactive")
            options.interactive = true;
        else if (arg == "--plain")
            options.plain = true;
        else if (arg == "--windows-runtime")
            options.windowsRuntime = true;
        else if (arg == "--bluez")
            options.bluez = true;
        else if (arg == "--root" && i + 1 < argc)
            options.root = argv[++i];
        else {
            std::fprintf(stderr, "usage: vrserver --demo [--interactive] [--plain] [--bluez | --windows-runtime] [--root DIR]\n");
            return demo::kExitUsage;
        }
    }
    return demo::RunDemo(options);
}

} // namespace

static int RunServer(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--demo") == 0)
            return Demo(argc, argv);
    std::string root;
    bool simRadio = false, noDriver = false, noDevices = false, untilEof = false;
    sim::Pacing pacing = sim::Pacing::Steady;
    double hz = 90.0;
    long long jitterMicros = sim::kFrameWakeLateness.count();
    double seconds = 3.0;
    long long frames = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--root" && i + 1 < argc)
            root = argv[++i];
        else if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (arg == "--frames" && i + 1 < argc)
            frames = std::atoll(argv[++i]);
        else if (arg == "--until-eof")
            untilEof = true;
        else if (arg == "--sim-radio")
            simRadio = true;
        else if (arg == "--no-driver")
            noDriver = true;
        else if (arg == "--no-devices")
            noDevices = true;
        else if (arg == "--hz" && i + 1 < argc && std::atof(argv[i + 1]) > 0.0)
            hz = std::atof(argv[++i]);
        else if (arg == "--jitter" && i + 1 < argc && std::atoll(argv[i + 1]) >= 0)
            jitterMicros = std::atoll(argv[++i]);
        else if (arg == "--irregular")
            pacing = sim::Pacing::Irregular;
        else if (arg == "--paused")
            pacing = sim::Pacing::Paused;
        else {
            std::fprintf(stderr, "usage: vrserver [--root DIR] [--seconds S | --frames N | --until-eof] "
                                 "[--sim-radio] [--no-driver] [--no-devices] [--hz RATE] [--jitter US] "
                                 "[--irregular | --paused]\n");
            return 64;
        }
    }
    if (root.empty())
        root = sim::SimHost::DefaultPackageRoot(simRadio);

    sim::TrackedDevicePublisher devices;
    if (!noDevices) {
        if (!devices.Start()) {
            Print("Cannot publish the tracked devices%s\n", "");
            return 1;
        }
        PublishDemoDevices(devices);
    }
    if (untilEof)
        std::thread(WatchInput).detach();
    Print("vrserver running%s\n", noDriver ? " without a driver" : "");

    sim::SimHost host;
    if (!noDevices)
        host.ListDevicesIn(&devices);  // the rifle among the controllers, as the runtime lists it
    if (!noDriver) {
        host.Recorder().SetLogListener([](const std::string &line) { Print("driver log: %s\n", line); });
        Print("Loading the driver from %s\n", root);
        if (!host.Load(root)) {
            Print("Cannot load the driver: %s\n", host.Error());
            return 1;
        }
        const vr::EVRInitError initError = host.Init();
        if (initError != vr::VRInitError_None) {
            Print("Init failed with %s\n", std::to_string(initError));
            return 1;
        }
        for (const sim::DeviceRecord &d : host.Recorder().Devices())
            Print("device announced: %s\n", d.serial + " (class " + std::to_string(d.deviceClass) + ")");
        const vr::EVRInitError activateError = host.Activate();
        if (activateError != vr::VRInitError_None)
            Print("Activate failed with %s\n", std::to_string(activateError));
        for (const sim::PropertyWriteRecord &p : host.Recorder().PropertyWrites()) {
            const std::string value = p.tag == vr::k_unStringPropertyTag ? "\"" + p.AsString() + "\""
                                                                         : std::to_string(p.AsInt32());
            Print("property: %s\n", std::to_string(p.prop) + " = " + value + " (tag " + std::to_string(p.tag) + ")");
        }
        for (const sim::ComponentRecord &c : host.Recorder().Components())
            Print("component: %s\n", c.name + (c.kind == sim::ComponentKind::Scalar ? " (scalar)" : " (boolean)"));
        host.Recorder().KeepPoseHistory(false);
    }

    // Frames at the rate; the demo controller moves every frame, and about once a second the
    // controller's position and the rifle's as applications see it are shown side by side.
    sim::FramePacer pacer(hz, pacing, 1, std::chrono::microseconds(jitterMicros));
    const uint64_t showEvery = std::max<uint64_t>(1, static_cast<uint64_t>(hz));
    const auto end = sim::Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    auto next = sim::Clock::now();
    uint64_t frame = 0;
    for (;;) {
        if (untilEof ? inputEnded.load() : frames >= 0 ? frame >= static_cast<uint64_t>(frames) : sim::Clock::now() >= end)
            break;
        ++frame;
        if (!noDevices)
            devices.SetPose(1, DemoControllerPose(frame, 0.3f));
        if (!noDriver) {
            host.RunFrame();
            sim::PoseRecord rifle;
            if (!noDevices && frame % showEvery == 0 && host.Recorder().LastPose(rifle)) {
                // Where applications see the rifle: its published (raw) pose in standing space.
                char text[160];
                std::snprintf(text, sizeof text, "(%.3f, %.3f, %.3f)%s", rifle.standing[0][3], rifle.standing[1][3],
                              rifle.standing[2][3], rifle.pose.poseIsValid ? "" : " not valid");
                Print("pose: %s\n", "right-hand controller at " + Position(DemoControllerPose(frame, 0.3f).mDeviceToAbsoluteTracking.m) +
                                        ", rifle at " + text);
            }
        }
        next += pacer.Next();
        std::this_thread::sleep_until(next);
    }
    // SteamVR's shutdown: the clients first, then the drivers.
    if (!noDevices)
        Print("%s\n", sim::DescribeQuit(devices.QuitClients()));
    if (!noDriver) {
        for (const sim::ComponentUpdate &u : host.Recorder().Updates())
            if (u.kind == sim::ComponentKind::Boolean)
                Print("%s\n", "frame " + std::to_string(u.frame) + ": " + u.name + " = " + (u.boolValue ? "true" : "false"));
        Print("Ran %s frames; shutting down\n", std::to_string(host.FramesRun()));
        host.Shutdown();
        // What SteamVR does not tolerate of a driver has been printed as it happened.
        if (!host.Recorder().Violations().empty())
            return 1;
    }
    return 0;
}

#if defined(_WIN32)
// Windows hands the command line over in UTF-16, and a narrow main would see it through the ANSI
// code page: a --root named outside it would arrive with '?' for its characters. The arguments
// are taken wide and passed on in UTF-8, the encoding of every path in the simulated host.
int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(sim::WideToUtf8(argv[i]));
    std::vector<char *> pointers;
    for (std::string &a : arguments)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return RunServer(argc, pointers.data());
}
#else
int main(int argc, char **argv) { return RunServer(argc, argv); }
#endif
