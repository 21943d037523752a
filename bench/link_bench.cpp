// How fast the link gets the rifle back where a real radio makes it hard, on the simulated
// radio's real-radio behaviours, with the driver built with the simulated radio loaded from a
// package: this build's pkg-sim, or another build's for a comparison. Real time throughout.
//   link_bench <case> [<package root>]        runs the case in fresh processes and prints its row
//   link_bench once <case> <package root>     one run; prints "MS <milliseconds>|never RESETS <n>"
// Cases:
//   connected_hold    the rifle is connected when the driver starts, left so by a session that
//                     crashed: the system keeps the link 5 s, and the rifle advertises after that
//   connected_holder  the same, but another program holds the link for good
//   drop_hold         the link drops and the system connects it again and lets it go: kept 5 s
//   drop_holder       the link drops and another program that holds it has it restored at once
//   unreachable       the first three service queries answer Unreachable
//   silent_watcher    the first watcher reports Started and hears nothing
// The first four are timed to the first trigger pull that reaches SteamVR (a pull is notified
// every frame, at 90 Hz), from the activation or the drop; the unreachable case from the first
// "Connecting to device: " to "Device successfully connected.", the silent watcher's from the
// activation to it.
#include "E2eSupport.h"

#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

using bench::Clock;
using namespace std::chrono_literals;

constexpr auto kGiveUp = 60s;
const std::vector<uint8_t> kFire = {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};

struct Case {
    const char *name;
    const char *label;
    int runs;
    bool toPress;  // timed to the first press; otherwise to the connection
};

const Case kCases[] = {
    {"connected_hold", "Rifle connected at start, link kept 5 s (a crashed session), to first press (ms)", 3, true},
    {"connected_holder", "Rifle connected at start, held by another program, to first press (ms)", 3, true},
    {"drop_hold", "Drop with the rifle not advertising, link kept 5 s, to first press (ms)", 3, true},
    {"drop_holder", "Drop with the rifle not advertising, held by another program, to first press (ms)", 3, true},
    {"unreachable", "Three Unreachable answers to the first service query, connect step to \"Device successfully connected.\" (ms)",
     3, false},
    {"silent_watcher", "A watcher that hears nothing, to \"Device successfully connected.\" (ms)", 2, false},
};

// Runs frames at 90 Hz, the rifle's trigger pulled every frame, until a frame after `start`
// presses the trigger; the time from `start` to that frame, or a negative value.
double UntilPress(sim::SimHost &host, sim::RadioControl &radio, int rifle, Clock::time_point start)
{
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 90.0));
    size_t seen = host.Recorder().Updates().size();
    for (Clock::time_point next = Clock::now(); Clock::now() - start < kGiveUp; next += period) {
        radio.Notify(rifle, kFire);
        std::this_thread::sleep_until(next);
        host.RunFrame();
        const std::vector<sim::ComponentUpdate> updates = host.Recorder().Updates();
        for (; seen < updates.size(); ++seen)
            if (updates[seen].name == "/input/fire/click" && updates[seen].boolValue)
                return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    return -1.0;
}

// From `start`, or from the first "Connecting to device: " line, to the first connection.
double UntilConnected(sim::SimHost &host, Clock::time_point start, bool fromConnecting)
{
    if (!host.Recorder().WaitForLog("Device successfully connected.", kGiveUp))
        return -1.0;
    bool connecting = false;
    for (const sim::LogRecord &line : host.Recorder().Logs()) {
        if (fromConnecting && !connecting && line.text.rfind("Connecting to device: ", 0) == 0) {
            connecting = true;
            start = line.time;
        }
        if (line.text == "Device successfully connected.")
            return std::chrono::duration<double, std::milli>(line.time - start).count();
    }
    return -1.0;
}

int RunOnce(const Case &c, const std::string &packageRoot)
{
    sim::SimHost host;
    if (!host.Load(packageRoot)) {
        std::fprintf(stderr, "cannot load the driver: %s\n", host.Error().c_str());
        return 1;
    }
    auto entry = reinterpret_cast<sim::SimRadioEntry>(host.Symbol(sim::kSimRadioExport));
    if (entry == nullptr)
        return 1;
    sim::RadioControl &radio = *entry();
    const std::string name = c.name;
    sim::PeripheralScript script = sim::RifleScript(0xAABBCCDDEEFFull);
    script.connectedAtStart = name == "connected_hold";
    if (name == "unreachable")
        script.servicesQuery = {tarvolt::radio::CommunicationStatus::Unreachable, 0, 3};
    const int rifle = radio.AddPeripheral(script);
    if (name == "connected_holder")
        radio.SetOtherHolder(rifle, true);
    if (name == "silent_watcher")
        radio.SetWatcherFault(sim::WatcherFault::Silent, 1);
    if (host.Init() != vr::VRInitError_None)
        return 1;
    Clock::time_point start = Clock::now();
    if (host.Activate() != vr::VRInitError_None)
        return 1;
    if (name == "drop_hold" || name == "drop_holder") {
        if (!host.Recorder().WaitForLog("Device successfully connected.", bench::kE2eLimit))
            return 1;
        start = Clock::now();
        radio.Drop(rifle);
        radio.SetOtherHolder(rifle, true);  // connects it again at once
        if (name == "drop_hold")
            radio.SetOtherHolder(rifle, false);
    }
    const double millis =
        c.toPress ? UntilPress(host, radio, rifle, start) : UntilConnected(host, start, name == "unreachable");
    const size_t resets = host.Recorder().CountLog("Failed to get GATT services.") +
                          host.Recorder().CountLog("Target characteristic not found.");
    if (millis < 0)
        std::printf("MS never RESETS %zu\n", resets);
    else
        std::printf("MS %.0f RESETS %zu\n", millis, resets);
    std::fflush(stdout);
    host.Shutdown();
    return 0;
}

// One run in a process of its own (one load of the driver, as in SteamVR).
bool RunChild(const Case &c, const std::string &packageRoot, double &millis, unsigned &resets)
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return false;
    self[n] = '\0';
    const std::string command = std::string("'") + self + "' once " + c.name + " '" + packageRoot + "'";
    FILE *child = popen(command.c_str(), "r");
    if (child == nullptr)
        return false;
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, child) != nullptr) {
        char value[32];
        if (std::sscanf(line, "MS %31s RESETS %u", value, &resets) == 2) {
            found = true;
            millis = std::strcmp(value, "never") == 0 ? -1.0 : std::atof(value);
        }
    }
    return pclose(child) == 0 && found;
}

int Measure(const Case &c, const std::string &packageRoot)
{
    std::vector<double> millis;
    int never = 0;
    unsigned resets = 0;
    for (int run = 0; run < c.runs; ++run) {
        double ms = 0;
        unsigned runResets = 0;
        if (!RunChild(c, packageRoot, ms, runResets))
            return 1;
        resets += runResets;
        if (ms < 0)
            ++never;
        else
            millis.push_back(ms);
    }
    std::string value = millis.empty() ? "never"
                                       : bench::Format("median %.0f, max %.0f", bench::Quantile(millis, 0.5),
                                                       bench::Quantile(millis, 1.0));
    if (never > 0 && !millis.empty())
        value += "; never in " + std::to_string(never);
    value += " (" + std::to_string(c.runs) + " runs, " + std::to_string(kGiveUp.count()) + " s each at most";
    value += c.name == std::string("unreachable") ? "; link resets: " + std::to_string(resets) + ")" : ")";
    bench::Row(c.label, value);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool once = argc > 1 && std::strcmp(argv[1], "once") == 0;
    const char *which = argc > (once ? 2 : 1) ? argv[once ? 2 : 1] : "";
    const int rootArg = once ? 3 : 2;
    const std::string root = argc > rootArg ? argv[rootArg] : sim::SimHost::DefaultPackageRoot(true);
    for (const Case &c : kCases)
        if (std::strcmp(which, c.name) == 0)
            return once ? RunOnce(c, root) : Measure(c, root);
    std::fprintf(stderr, "usage: %s [once] connected_hold|connected_holder|drop_hold|drop_holder|unreachable|"
                         "silent_watcher [<package root>]\n", argv[0]);
    return 2;
}
