// tarvolt-probe watch: the driver's own Bluetooth worker, run as the driver runs it, with its
// lines, link states and the rifle's notifications shown as they come.
#include "Options.h"
#include "Probe.h"
#include "ProbeObserver.h"

#include "DriverState.h"
#include "bluetooth/BluetoothWorker.h"
#include "bluetooth/Discovery.h"
#include "bluetooth/LinkText.h"
#include "bluetooth/StopSignal.h"

#include <system_error>
#include <thread>

namespace tarvolt::probe {

namespace {

std::string Times(int n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

int RunWatch(const Options &options, Environment &environment, Report &report)
{
    const std::string target = "\"" + Utf16ToUtf8(kTargetName) + "\"";
    report.Begin("watch", options.seconds,
                 "Watching for the rifle (" + target + ") and connecting to it as the SteamVR driver does" +
                     (options.seconds ? ", for " + std::to_string(*options.seconds) + " s" : std::string()) +
                     "; Ctrl-C to stop.");
    radio::Radio &radio = radio::PlatformRadio();
    if (const std::optional<int> exitCode = EndWithoutBluetooth(radio, report))
        return *exitCode;

    ProbeObserver &observer = ProbeObserver::Instance();
    observer.Attach(&report);
    // The worker starts and stops as the device's activation and deactivation start and stop it.
    runFlag.store(true);
    std::thread worker;
    StopReason reason = StopReason::None;
    try {
        worker = std::thread(BluetoothWorkerMain);
        reason = environment.stop->WaitFor(options.seconds ? std::optional<std::chrono::milliseconds>(
                                                                 std::chrono::seconds(*options.seconds))
                                                           : std::nullopt);
    } catch (const std::system_error &) {
        report.Note("error", "The Bluetooth worker could not be started.");
    }
    runFlag.store(false, std::memory_order_release);
    radio::WorkerStop().Raise();
    if (worker.joinable())
        worker.join();  // it has let go of the rifle: handlers detached, the device released
    radio::WorkerStop().Rearm();
    const ProbeObserver::Tally tally = observer.Taken();
    observer.Attach(nullptr);

    const std::string how = reason == StopReason::Interrupted    ? "Stopped by Ctrl-C"
                            : reason == StopReason::OutputClosed ? "Stopped: the output was closed"
                                                                 : "Stopped after " + std::to_string(options.seconds.value_or(0)) + " s";
    Verdict verdict;
    verdict.numbers = {{"connections", tally.connections}, {"actions", tally.actions}, {"unknown", tally.unknown}};
    if (tally.connections > 0) {
        verdict.exitCode = kExitFound;
        verdict.result = "connected";
        verdict.message = how + ". The rifle connected " + Times(tally.connections, "time", "times") + " and sent " +
                          Times(tally.actions, "action", "actions") +
                          (tally.unknown > 0 ? " (" + std::to_string(tally.unknown) + " not recognised)" : "") + ".";
    } else if (tally.found) {
        const bool steamVr = environment.steamVrRunning && environment.steamVrRunning();
        verdict.exitCode = kExitNotFound;
        verdict.result = "not_connected";
        verdict.message = how + ". The rifle was found but never connected: the link lines above say which step "
                                "failed (\"Target characteristic not found.\": the device has the rifle's name but "
                                "not its notifying characteristic)." + NotConnectedHint(steamVr);
        verdict.flags.emplace_back("steamvr_running", steamVr);
    } else {
        // Bluetooth may have gone away since the start (the link only logs its failed passes).
        if (reason == StopReason::None) {
            try {
                radio.EnterApartment();  // after the stop signal: waits are as usual again
            } catch (const radio::PlatformError &) {
            }
            const radio::RadioCheck again = radio.CheckRadio();
            if (again.readiness != radio::Readiness::Ready) {
                verdict = NoBluetooth(again);
                report.End(verdict);
                return verdict.exitCode;
            }
        }
        const bool steamVr = environment.steamVrRunning && environment.steamVrRunning();
        verdict.exitCode = kExitNotFound;
        verdict.result = "not_found";
        verdict.message = how + ". The rifle was not found: nothing advertised as " + target +
                          ", and no device the system has connected was the rifle. " + NotFoundHint(steamVr);
        verdict.flags.emplace_back("steamvr_running", steamVr);
    }
    verdict.flags.emplace_back("interrupted", reason == StopReason::Interrupted);
    report.End(verdict);
    return verdict.exitCode;
}

} // namespace tarvolt::probe
