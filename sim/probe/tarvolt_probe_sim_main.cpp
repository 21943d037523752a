// tarvolt-probe's test build: the simulated radio, scripted by lines on standard input (see
// SimScript.h, and "interrupt", which stops the probe as Ctrl-C does). Lines up to "run" set
// the scene before the probe starts; later lines are played while it runs. At the end the probe's standard error gets one line saying what it left
// behind in the radio: "sim: devices held N, handlers attached N, scans running N".
#include "ProbeMain.h"
#include "SimRadio.h"
#include "SimScript.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

// Never destroyed: the reader thread may wake after main has returned.
std::mutex &ScriptMutex()
{
    static std::mutex *const mutex = new std::mutex();
    return *mutex;
}
bool *const finished = new bool(false);
bool scripted = false;

tarvolt::probe::StopRequest *stopRequest = nullptr;

void Play(const std::string &line)
{
    // As Ctrl-C, for a test that cannot send it (Wine delivers no console event to another
    // process).
    if (line == "interrupt") {
        stopRequest->Request(tarvolt::probe::StopReason::Interrupted);
        return;
    }
    std::string error;
    if (!sim::RunScriptLine(sim::SimRadioControl(), line, error)) {
        std::fprintf(stderr, "sim: cannot play %s\n", error.c_str());
        std::fflush(stderr);
    }
}

void StartScript(const std::vector<std::string> &args, tarvolt::probe::StopRequest &stop)
{
    if (std::find(args.begin(), args.end(), "--sim") == args.end())
        return;
    scripted = true;
    stopRequest = &stop;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "run")
            break;
        Play(line);
    }
    // The rest arrives while the probe runs; the thread ends with the input or the program.
    std::thread([] {
        std::string next;
        while (std::getline(std::cin, next)) {
            if (!next.empty() && next.back() == '\r')
                next.pop_back();
            std::lock_guard<std::mutex> lock(ScriptMutex());
            if (*finished)
                return;
            Play(next);
        }
    }).detach();
}

void ReportWhatIsLeft()
{
    if (!scripted)
        return;
    {
        std::lock_guard<std::mutex> lock(ScriptMutex());
        *finished = true;
    }
    sim::RadioControl &radio = sim::SimRadioControl();
    // Events already raised (a status change holds its device) are delivered first.
    radio.WaitUntilIdle(std::chrono::seconds(5));
    const sim::RadioStats stats = radio.Stats();
    std::fprintf(stderr, "sim: devices held %d, handlers attached %d, scans running %d\n", stats.devicesHeld,
                 stats.attachedHandlers, stats.scanning);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char **argv)
{
    tarvolt::probe::MainHooks hooks;
    hooks.simulated = true;
    hooks.beforeRun = &StartScript;
    hooks.afterRun = &ReportWhatIsLeft;
    return tarvolt::probe::ProbeMain(argc, argv, hooks);
}
