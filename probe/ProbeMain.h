#pragma once
// The probe's main, shared by the shipped program and its test build: the console, Ctrl-C, the
// probe's run. `beforeRun` lets the test build script its simulated radio.
#include "Probe.h"

#include <functional>

namespace tarvolt::probe {

struct MainHooks {
    bool simulated = false;
    // Called with the arguments and the stop request that Ctrl-C makes before the probe runs
    // (Ctrl-C is watched by then), and after it ran, before the program ends.
    std::function<void(const std::vector<std::string> &args, StopRequest &stop)> beforeRun;
    std::function<void()> afterRun;
};

int ProbeMain(int argc, char **argv, const MainHooks &hooks);

} // namespace tarvolt::probe
