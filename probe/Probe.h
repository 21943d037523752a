#pragma once
// tarvolt-probe: answers "does my rifle work?" before SteamVR is involved, with the driver's own
// link code and radio backend. `scan` lists the Bluetooth LE devices the system has connected and
// those heard; `watch` connects to the rifle exactly as the driver does and prints what it sends.
#include "Report.h"
#include "StopRequest.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvolt::probe {

struct Environment {
    LineSink out;  // the report (standard output)
    LineSink err;  // messages about the command line (standard error)
    StopRequest *stop = nullptr;
    std::function<bool()> steamVrRunning;
    bool simulated = false;  // the build's radio is the simulated one, and --sim is accepted
};

// Runs the command line (without the program's name); the exit code.
int RunProbe(const std::vector<std::string> &args, Environment &environment);

// Inside RunProbe.
struct Options;
int RunScan(const Options &options, Environment &environment, Report &report);
int RunWatch(const Options &options, Environment &environment, Report &report);

// The platform's radio, checked before a command uses it: the thread is put into the platform's
// apartment where it has one (activation enters it by itself otherwise), then asked whether
// Bluetooth LE can be used. Without it the report ends with the reason and the exit code is
// returned; with it, nothing.
std::optional<int> EndWithoutBluetooth(radio::Radio &radio, Report &report);
// The end of a run without usable Bluetooth: the reason in words, exit code 2.
Verdict NoBluetooth(const radio::RadioCheck &check);
// What to tell a user whose rifle was neither heard nor among the connected devices.
std::string NotFoundHint(bool steamVrRunning);
// Appended when the rifle was found but never connected: SteamVR's driver may be holding it.
std::string NotConnectedHint(bool steamVrRunning);

} // namespace tarvolt::probe
