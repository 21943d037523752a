// The soak run as a program (see SoakRun.h). It is built under the runtime server's name, in a
// folder of its own beside bin/, so that the vistrel the driver starts follows it as its server.
//
//   vrserver [--short] [--loads N] [--cycles N] [--drops N] [--kills N] [--restarts N] [--seed S]
//            [--compression F] [--every-load]
//
// Without options it runs make soak's plan, with --short make test's; the other options change one
// figure of the plan. --every-load also prints the counts taken after each load. Prints the machine, what was done and the counts as a Markdown table; exits
// 0 when nothing grew, 1 when a count grew or a step failed, 64 on a bad option.
#include "SoakReport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    soak::MakeHeapFigureExact(argv);
    soak::Plan plan = soak::LongPlan();
    bool everyLoad = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--short")
            plan = soak::ShortPlan();
        else if (arg == "--every-load")
            everyLoad = true;
        else if (int *figure = arg == "--loads"      ? &plan.loads
                             : arg == "--cycles"   ? &plan.cyclesPerLoad
                             : arg == "--drops"    ? &plan.dropsPerCycle
                             : arg == "--kills"    ? &plan.kills
                             : arg == "--restarts" ? &plan.restarts
                                                   : nullptr; figure != nullptr && hasValue)
            *figure = std::atoi(argv[++i]);
        else if (uint32_t *number = arg == "--seed" ? &plan.seed : arg == "--compression" ? &plan.compression : nullptr;
                 number != nullptr && hasValue)
            *number = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else {
            std::fprintf(stderr, "usage: %s [--short] [--loads N] [--cycles N] [--drops N] [--kills N] [--restarts N] "
                                 "[--seed S] [--compression F] [--every-load]\n", argv[0]);
            return 64;
        }
    }
    if (plan.loads < 1 || plan.cyclesPerLoad < 1 || plan.dropsPerCycle < 1 || plan.kills < 0 || plan.restarts < 0 ||
        plan.compression < 1) {
        std::fprintf(stderr, "every figure of the plan must be at least 1 (kills and restarts at least 0)\n");
        return 64;
    }

    std::printf("Machine: %s\n", soak::DescribeMachine().c_str());
    std::fflush(stdout);
    soak::SoakRun run(plan);
    std::string error;
    const bool ran = run.Run(error);
    const std::vector<soak::Finding> findings = soak::Judge(run);
    std::printf("%s", soak::Describe(run, findings).c_str());
    if (everyLoad)
        std::printf("\n%s", soak::DescribeSamples(run).c_str());
    std::printf("Machine at the end: %s\n", soak::DescribeMachine().c_str());
    if (!ran) {
        std::printf("FAILED: %s\n", error.c_str());
        return 1;
    }
    for (const soak::Finding &f : findings)
        if (!f.held) {
            std::printf("FAILED: %s grew\n", f.count.c_str());
            return 1;
        }
    std::printf(run.Samples().size() >= soak::kLoadsForATrend
                    ? "Nothing grew, nothing was left behind.\n"
                    : "Nothing was left behind (too few loads to judge growth).\n");
    return 0;
}
