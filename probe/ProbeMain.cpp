#include "ProbeMain.h"

#include "Console.h"
#include "SteamVr.h"

namespace tarvolt::probe {

int ProbeMain(int argc, char **argv, const MainHooks &hooks)
{
    // Lives until the process ends: a console control handler still running may reach it.
    static StopRequest stop;
    ConsoleSession console;
    // Before any other thread is made (they inherit which signals are taken by the watch).
    InterruptWatch interrupts(stop);

    Environment environment;
    environment.stop = &stop;
    environment.simulated = hooks.simulated;
    environment.steamVrRunning = &SteamVrServerRunning;
    // Nobody reads the output any more (a closed pipe): stop rather than watch for ever unseen.
    environment.out = [](const std::string &line) {
        if (!WriteLine(false, line))
            stop.Request(StopReason::OutputClosed);
    };
    environment.err = [](const std::string &line) { WriteLine(true, line); };

    const std::vector<std::string> args(argv + 1, argv + argc);
    if (hooks.beforeRun)
        hooks.beforeRun(args, stop);
    const int code = RunProbe(args, environment);
    if (hooks.afterRun)
        hooks.afterRun();
    interrupts.Finished();
    return code;
}

} // namespace tarvolt::probe
