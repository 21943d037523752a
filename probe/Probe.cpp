#include "Probe.h"

#include "Options.h"
#include "ProbeObserver.h"

#include "bluetooth/StopSignal.h"

namespace tarvolt::probe {

namespace {

std::string ReadinessWords(radio::Readiness readiness)
{
    switch (readiness) {
    case radio::Readiness::NoAdapter: return "no Bluetooth adapter";
    case radio::Readiness::AdapterOff: return "the Bluetooth adapter is off";
    case radio::Readiness::StackMissing: return "the Bluetooth stack is missing";
    case radio::Readiness::ClassesUnavailable: return "the Windows Runtime's Bluetooth classes are unavailable";
    case radio::Readiness::Unusable: return "Bluetooth cannot be used";
    case radio::Readiness::Ready: break;
    }
    return "Bluetooth is usable";
}

std::string ReadinessKey(radio::Readiness readiness)
{
    switch (readiness) {
    case radio::Readiness::NoAdapter: return "no_adapter";
    case radio::Readiness::AdapterOff: return "adapter_off";
    case radio::Readiness::StackMissing: return "stack_missing";
    case radio::Readiness::ClassesUnavailable: return "classes_unavailable";
    case radio::Readiness::Unusable: return "unusable";
    case radio::Readiness::Ready: break;
    }
    return "ready";
}

std::string WhatToDo(radio::Readiness readiness)
{
    switch (readiness) {
    case radio::Readiness::NoAdapter:
        return "The PC needs a Bluetooth LE (4.0 or later) adapter, plugged in and with its driver installed.";
    case radio::Readiness::AdapterOff:
        return "Switch Bluetooth on (Windows: Settings > Bluetooth & devices; Linux: bluetoothctl power on, "
               "and rfkill list shows a blocked adapter).";
    case radio::Readiness::StackMissing:
        return "Start the Bluetooth service (Linux: systemctl start bluetooth).";
    case radio::Readiness::ClassesUnavailable:
        return "The rifle needs Windows 10 (version 1703) or later; Wine has no Bluetooth LE support.";
    default:
        return "";
    }
}

} // namespace

std::optional<int> EndWithoutBluetooth(radio::Radio &radio, Report &report)
{
    try {
        radio.EnterApartment();
    } catch (const radio::PlatformError &) {
        // Activation puts the thread into the apartment by itself when it has to.
    }
    const radio::RadioCheck check = radio.CheckRadio();
    if (check.readiness == radio::Readiness::Ready)
        return std::nullopt;
    const Verdict verdict = NoBluetooth(check);
    report.End(verdict);
    return verdict.exitCode;
}

Verdict NoBluetooth(const radio::RadioCheck &check)
{
    Verdict verdict;
    verdict.exitCode = kExitNoBluetooth;
    verdict.result = "no_bluetooth";
    verdict.message = "No usable Bluetooth: " + ReadinessWords(check.readiness);
    if (!check.detail.empty())
        verdict.message += " (" + check.detail + ")";
    verdict.message += ".";
    const std::string todo = WhatToDo(check.readiness);
    if (!todo.empty())
        verdict.message += " " + todo;
    verdict.texts = {{"reason", ReadinessKey(check.readiness)}, {"detail", check.detail}};
    return verdict;
}

std::string NotFoundHint(bool steamVrRunning)
{
    // A rifle that SteamVR's driver or another program on this PC holds is among the devices the
    // system has connected, where the probe has looked too.
    return std::string(steamVrRunning ? "SteamVR is running, but its driver does not hold the rifle (it would be "
                                        "among the connected devices). "
                                      : "") +
           "Switch the rifle on and bring it near the PC. A rifle connected to another device (a phone, another "
           "PC) does not advertise: disconnect it there, or switch it off and on.";
}

std::string NotConnectedHint(bool steamVrRunning)
{
    if (!steamVrRunning)
        return "";
    return " SteamVR is running: its driver most likely holds the rifle, and may keep its notifications from other "
           "programs. "
           "Quit SteamVR and try again.";
}

int RunProbe(const std::vector<std::string> &args, Environment &environment)
{
    const ParseResult parsed = ParseOptions(args, environment.simulated);
    if (!parsed.error.empty()) {
        environment.err("tarvolt-probe: " + parsed.error);
        environment.err("Run tarvolt-probe --help for the commands and options.");
        return kExitUsage;
    }
    if (parsed.options.command == Command::Help) {
        std::string text = HelpText(environment.simulated);
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            environment.out(text.substr(start, end - start));
        return kExitFound;
    }
    // Ctrl-C also ends whatever the platform is waiting for (a connection attempt may take tens
    // of seconds), as deactivation does in the driver.
    environment.stop->OnRequest([](StopReason reason) {
        if (reason == StopReason::Interrupted)
            radio::WorkerStop().Raise();
    });
    // The link's lines (and the platform's, such as the BlueZ radio's reasons) reach the report.
    SetLinkObserver(&ProbeObserver::Instance());
    Report report(parsed.options.json, environment.out);
    return parsed.options.command == Command::Scan ? RunScan(parsed.options, environment, report)
                                                   : RunWatch(parsed.options, environment, report);
}

} // namespace tarvolt::probe
