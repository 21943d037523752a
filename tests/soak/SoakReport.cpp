#include "SoakReport.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace soak {

namespace {

using Field = int64_t Counts::*;

enum class Rule {
    Nothing,     // back to its value before the first load after every load
    NotHigher,   // the last tenth's highest no higher than the first tenth's highest
    Memory,      // the last tenth's median within the tolerance of the first tenth's
    Shown,       // not judged
};

struct Figure {
    const char *name;
    Field field;
    Rule rule;
    int64_t per100Cycles = 0;  // Memory only
    int64_t slack = 0;         // Memory only
    int64_t perLoad = 0;       // NotHigher and Memory: what every load may leave behind
};

#if defined(_WIN32)
constexpr const char *kDescriptors = "handles (GetProcessHandleCount; under Wine the handle table)";
constexpr const char *kSharedMemory = "the pose block's section";
constexpr const char *kViews = "mapped views";
constexpr Rule kViewsRule = Rule::NotHigher;  // the address space does not tell the block's from others
#else
constexpr const char *kDescriptors = "open descriptors";
constexpr const char *kSharedMemory = "/dev/shm entries";
constexpr const char *kViews = "views of the pose block";
constexpr Rule kViewsRule = Rule::Nothing;
#endif

std::vector<Figure> Figures()
{
    return {
        {"resident memory (kB)", &Counts::residentKb, ResidentMemoryJudged() ? Rule::Memory : Rule::Shown,
         kResidentKbPer100Cycles, kResidentSlackKb},
        {"heap in use (bytes)", &Counts::heapBytes, Rule::Memory, kHeapBytesPer100Cycles, kHeapSlackBytes,
         kHeapPerLoad},
        {kDescriptors, &Counts::descriptors, Rule::NotHigher, 0, 0, kHandlesPerLoad},
        {"threads", &Counts::threads, Rule::NotHigher},
        {"child processes", &Counts::children, Rule::Nothing},
        {"vistrel processes among them", &Counts::relays, Rule::Nothing},
        {kSharedMemory, &Counts::sharedMemory, Rule::Nothing},
        {kViews, &Counts::blockViews, kViewsRule},
        {"driver library loaded", &Counts::driverLoaded, Rule::Nothing},
        {"processes in sight", &Counts::processes, Rule::Shown},
    };
}

int64_t Median(std::vector<int64_t> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Thousands(int64_t value)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<size_t>(i), ",");
    return (value < 0 ? "-" : "") + digits;
}

} // namespace

std::vector<Finding> Judge(const SoakRun &run)
{
    const std::vector<Sample> &samples = run.Samples();
    std::vector<Finding> findings;
    // A tenth of the loads, at least two where there are four or more. The first load allocates
    // some things once for the process (the heap is higher after the second load, then steady),
    // which the upper median of two loads passes over; a run of fewer than four loads has no two
    // such windows, so its trend is not judged (one load is its own first and last tenth), but
    // what must hold after every load and at the end still is.
    const size_t n = samples.size();
    const size_t tenth = std::max<size_t>({1, std::min<size_t>(2, n / 2), n / 10});
    const bool trend = n >= kLoadsForATrend;
    const std::string notCompared = "not compared (fewer than " + std::to_string(kLoadsForATrend) + " loads)";
    const auto window = [&](size_t from, Field field) {
        std::vector<int64_t> values;
        for (size_t i = from; i < from + tenth; ++i)
            values.push_back(samples[i].counts.*field);
        return values;
    };
    // Activation cycles and loads between the two tenths, at most: from the first tenth's last
    // load to the last load (the figures compared are each window's highest or its upper median).
    const double cycles = n == 0 ? 0 : samples[n - 1].cyclesDone - samples[tenth - 1].cyclesDone;
    const int64_t loads = static_cast<int64_t>(n - std::min(n, tenth));

    // Without a load counted (the run failed before its first unload) only the end is judged.
    for (const Figure &figure : n == 0 ? std::vector<Figure>{} : Figures()) {
        Finding f;
        f.count = figure.name;
        f.before = run.Before().*figure.field;
        const std::vector<int64_t> first = window(0, figure.field);
        const std::vector<int64_t> last = window(n - tenth, figure.field);
        // Memory by the windows' medians, the exact counts by their highest.
        const bool byMedian = figure.rule == Rule::Memory || figure.rule == Rule::Shown;
        f.first = byMedian ? Median(first) : *std::max_element(first.begin(), first.end());
        f.last = byMedian ? Median(last) : *std::max_element(last.begin(), last.end());
        switch (figure.rule) {
        case Rule::Nothing: {
            f.rule = "back to " + std::to_string(f.before) + " after every load";
            for (const Sample &s : samples)
                f.held = f.held && s.counts.*figure.field == f.before;
            break;
        }
        case Rule::NotHigher:
            if (!trend) {
                f.rule = notCompared;
            } else if (figure.perLoad == 0) {
                f.rule = "no higher at the end";
                f.held = f.last <= f.first;
            } else {
                f.rule = "grows at most " + Thousands(figure.perLoad * loads) + " (" + Thousands(figure.perLoad) +
                         " per load kept by the toolchain's runtime)";
                f.held = f.last - f.first <= figure.perLoad * loads;
            }
            break;
        case Rule::Shown:
            f.rule = figure.field == &Counts::processes ? "shown only (other programs come and go)"
                                                        : "shown only (a sanitizer's quarantine keeps freed memory resident)";
            break;
        case Rule::Memory: {
            if (!trend) {
                f.rule = notCompared;
                break;
            }
            const int64_t allowed = figure.slack + static_cast<int64_t>(figure.per100Cycles * cycles / 100.0) +
                                    figure.perLoad * loads;
            f.rule = "grows at most " + Thousands(allowed) + " (" + Thousands(figure.per100Cycles) + " per 100 cycles + " +
                     (figure.perLoad != 0 ? Thousands(figure.perLoad) + " per load kept by the toolchain's runtime, + " : "") +
                     Thousands(figure.slack) + ")";
            f.held = f.last - f.first <= allowed;
            break;
        }
        }
        findings.push_back(f);
    }
    // SteamVR has ended: no relay of any activation may be left, nor any child.
    Finding end;
    end.count = "vistrel processes and children after the server ended";
    end.before = run.Before().relays + run.Before().children;
    end.first = end.last = run.AfterServerEnd().relays + run.AfterServerEnd().children;
    end.rule = "none";
    end.held = end.last == 0;
    findings.push_back(end);
    return findings;
}

std::string Describe(const SoakRun &run, const std::vector<Finding> &findings)
{
    const Plan &p = run.GetPlan();
    const Totals &t = run.GetTotals();
    char line[512];
    std::string text;
    std::snprintf(line, sizeof line,
                  "Plan: %d loads of %d activation cycles, %d link drops per cycle, %d relays killed, %d relays ended "
                  "in a row in one activation; pauses and advertising %ux faster, frames at about 1 kHz; seed %u.\n",
                  p.loads, p.cyclesPerLoad, p.dropsPerCycle, p.kills, p.restarts, p.compression, p.seed);
    text += line;
    std::snprintf(line, sizeof line,
                  "Done: %d loads, %d cycles (%d with a second Activate, %d ended by Cleanup without Deactivate), "
                  "%d drops and reconnections, %d notifications pressed and released, the relay's pose relayed in "
                  "%d activations, %s frames, in %.0f s.\n",
                  t.loads, t.cycles, t.secondActivations, t.cleanupsWithoutDeactivate, t.drops, t.notifications,
                  t.posesRelayed, Thousands(static_cast<int64_t>(t.frames)).c_str(), t.seconds);
    text += line;
    std::snprintf(line, sizeof line,
                  "Relays killed: %d as they started, %d while relaying, %d stopped and killed holding the pose lock "
                  "(%d more were meant to be but were not caught holding it and count as killed while relaying).\n",
                  t.killsAtStart, t.killsWhileRelaying, t.killsHoldingLock, t.holdingNotCaught);
    text += line;
    std::snprintf(line, sizeof line,
                  "Relays started again by the driver and seen writing after the one before was collected: %d "
                  "(%d of them ended in a row in one activation, %d of those after a minute's run); relays per "
                  "activation %.2f.\n",
                  t.restartsSeen, p.restarts, t.restartsAfterAMinute,
                  t.cycles > 0 ? 1.0 + static_cast<double>(t.restartsSeen) / t.cycles : 0.0);
    text += line;
    std::snprintf(line, sizeof line,
                  "Longest frame: %.1f ms with the pose lock free or held by a live relay, %.1f ms with it held by a "
                  "relay killed holding it.\n",
                  t.longestFrameMs, t.longestFrameDeadMs);
    text += line;
    text += "Heap in use from " + std::string(HeapSource()) + ".\n\n";
    text += "| Count | before | first tenth | last tenth | rule | |\n|---|---|---|---|---|---|\n";
    for (const Finding &f : findings)
        text += "| " + f.count + " | " + Thousands(f.before) + " | " + Thousands(f.first) + " | " + Thousands(f.last) +
                " | " + f.rule + " | " + (f.held ? "ok" : "**GREW**") + " |\n";
    return text;
}

std::string DescribeSamples(const SoakRun &run)
{
    std::string text = "load cycles resident_kb heap_bytes descriptors threads children relays shared_memory views "
                       "driver_loaded processes\n";
    int load = 0;
    for (const Sample &s : run.Samples()) {
        const Counts &c = s.counts;
        char line[256];
        std::snprintf(line, sizeof line, "%d %d %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld\n", ++load, s.cyclesDone,
                      static_cast<long long>(c.residentKb), static_cast<long long>(c.heapBytes),
                      static_cast<long long>(c.descriptors), static_cast<long long>(c.threads),
                      static_cast<long long>(c.children), static_cast<long long>(c.relays),
                      static_cast<long long>(c.sharedMemory), static_cast<long long>(c.blockViews),
                      static_cast<long long>(c.driverLoaded), static_cast<long long>(c.processes));
        text += line;
    }
    return text;
}

} // namespace soak
