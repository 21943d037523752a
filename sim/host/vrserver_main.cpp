// The simulated runtime server as a program. It carries the server's name so that the relay
// program finds it in the process list and sees it end.
//
//   vrserver [--root <package root>] [--seconds <s> | --frames <n>] [--sim-radio]
//   vrserver --demo [--interactive] [--plain] [--root <package root>]
//
// --sim-radio loads the driver built with the simulated radio; --demo runs a whole session with
// it (see sim/demo), scripted or, with --interactive, played from the keyboard.
#include "DemoSession.h"
#include "SimHost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

void Print(const char *format, const std::string &text)
{
    std::printf(format, text.c_str());
    std::fflush(stdout);
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
        else if (arg == "--root" && i + 1 < argc)
            options.root = argv[++i];
        else {
            std::fprintf(stderr, "usage: vrserver --demo [--interactive] [--plain] [--root DIR]\n");
            return demo::kExitUsage;
        }
    }
    return demo::RunDemo(options);
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--demo") == 0)
            return Demo(argc, argv);
    std::string root;
    bool simRadio = false;
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
        else if (arg == "--sim-radio")
            simRadio = true;
        else {
            std::fprintf(stderr, "usage: vrserver [--root DIR] [--seconds S | --frames N] [--sim-radio]\n");
            return 64;
        }
    }
    if (root.empty())
        root = sim::SimHost::DefaultPackageRoot(simRadio);

    sim::SimHost host;
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

    if (frames >= 0)
        host.RunFrames(static_cast<uint64_t>(frames));
    else
        host.RunFor(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    for (const sim::ComponentUpdate &u : host.Recorder().Updates())
        if (u.kind == sim::ComponentKind::Boolean)
            Print("%s\n", "frame " + std::to_string(u.frame) + ": " + u.name + " = " + (u.boolValue ? "true" : "false"));
    Print("Ran %s frames; shutting down\n", std::to_string(host.FramesRun()));
    host.Shutdown();
    return 0;
}
