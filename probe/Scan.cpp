// tarvolt-probe scan: the devices the system has connected, then every Bluetooth LE device heard,
// through the radio backend the driver uses, with the rifle recognised by the name the driver
// looks for. A connected rifle does not advertise; the driver finds it among the connected
// devices, and so does the scan.
#include "Options.h"
#include "Probe.h"
#include "ProbeObserver.h"

#include "bluetooth/Discovery.h"
#include "bluetooth/LinkText.h"

#include <memory>
#include <set>
#include <utility>

namespace tarvolt::probe {

namespace {

// Shared with the watcher's handlers, which run on platform threads and may be called once more
// after they were detached; the gate keeps such a call away once the scan is over.
struct ScanState {
    ScanState(Report &report, StopRequest &stop) : report(report), stop(stop) {}
    Report &report;
    StopRequest &stop;
    std::shared_ptr<HandlerGate> gate = std::make_shared<HandlerGate>();
    std::mutex mutex;
    std::set<std::pair<uint64_t, std::u16string>> heard;  // a device again under another name is news
    size_t devices = 0;
    bool rifleFound = false;
    uint64_t rifleAddress = 0;
    std::optional<int16_t> rifleStrength;
    size_t connected = 0;  // devices the system had connected when the scan began
    bool rifleConnected = false;
    uint64_t connectedAddress = 0;
};

// Before the watcher starts (nothing else touches the state yet). Devices that cannot be read
// are passed over; a list that cannot be had is a note, and the scan goes on.
void ListConnected(radio::Radio &radio, ScanState &state)
{
    std::vector<std::shared_ptr<radio::Device>> devices;
    try {
        devices = radio.ConnectedDevices();
    } catch (const radio::PlatformError &) {
        state.report.Note("connected_devices", "The devices the system has connected could not be listed.");
        return;
    }
    for (const std::shared_ptr<radio::Device> &device : devices) {
        try {
            if (!device)
                continue;
            const std::u16string name = device->Name();
            const uint64_t address = device->BluetoothAddress();
            const bool rifle = name == kTargetName;
            ++state.connected;
            if (rifle && !state.rifleConnected) {
                state.rifleConnected = true;
                state.connectedAddress = address;
            }
            state.report.Device(address, name, std::nullopt, rifle, true);
        } catch (const radio::PlatformError &) {
        }
    }
}

radio::ResultCode OnReceived(ScanState &state, radio::AdvertisementReceivedArgs &args)
{
    try {
        const std::u16string name = args.LocalName();
        const uint64_t address = args.BluetoothAddress();
        std::optional<int16_t> strength;
        try {
            strength = args.SignalStrength();
        } catch (const radio::PlatformError &) {
            // Shown as unknown: the device was heard all the same.
        }
        const bool rifle = name == kTargetName;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (!state.heard.insert({address, name}).second)
                return radio::kOk;
            state.devices = state.heard.size();
            if (rifle && !state.rifleFound) {
                state.rifleFound = true;
                state.rifleAddress = address;
                state.rifleStrength = strength;
            }
            // Under the lock, so that the lines come in the order the devices were counted.
            state.report.Device(address, name, strength, rifle);
        }
        return radio::kOk;
    } catch (...) {
        return ResultOfCurrentException();
    }
}

Verdict Found(const ScanState &state, const std::string &heard)
{
    Verdict verdict;
    verdict.exitCode = kExitFound;
    verdict.result = "found";
    const std::string strength = state.rifleStrength ? ", " + std::to_string(*state.rifleStrength) + " dBm" : "";
    verdict.message = "Found the rifle: \"" + Utf16ToUtf8(kTargetName) + "\" at " + AddressText(state.rifleAddress) +
                      strength + " (" + heard + "). It advertises, so the driver can connect to it.";
    verdict.texts = {{"address", AddressText(state.rifleAddress)}};
    if (state.rifleStrength)
        verdict.numbers.emplace_back("rssi", *state.rifleStrength);
    verdict.flags.emplace_back("connected", false);
    return verdict;
}

Verdict FoundConnected(const ScanState &state, const std::string &heard, bool steamVr)
{
    Verdict verdict;
    verdict.exitCode = kExitFound;
    verdict.result = "found";
    verdict.message = "Found the rifle: \"" + Utf16ToUtf8(kTargetName) + "\" at " + AddressText(state.connectedAddress) +
                      " among the devices the system has connected (" + heard +
                      "). A connected rifle does not advertise; the driver takes it from there as it is. " +
                      (steamVr ? "SteamVR is running: its driver most likely holds it."
                               : "Another program on this PC holds it, or held it a moment ago.");
    verdict.texts = {{"address", AddressText(state.connectedAddress)}};
    verdict.flags = {{"connected", true}, {"steamvr_running", steamVr}};
    return verdict;
}

} // namespace

int RunScan(const Options &options, Environment &environment, Report &report)
{
    const int seconds = options.seconds.value_or(kDefaultScanSeconds);
    report.Begin("scan", seconds,
                 "Scanning for Bluetooth LE devices for " + std::to_string(seconds) + " s (the rifle advertises as \"" +
                     Utf16ToUtf8(kTargetName) + "\"); Ctrl-C to stop early.");
    radio::Radio &radio = radio::PlatformRadio();
    if (const std::optional<int> exitCode = EndWithoutBluetooth(radio, report))
        return *exitCode;

    // Lines the platform logs (the BlueZ radio says why a step failed) go into the report too.
    ProbeObserver &observer = ProbeObserver::Instance();
    observer.Attach(&report);
    auto state = std::make_shared<ScanState>(report, *environment.stop);
    ListConnected(radio, *state);
    std::shared_ptr<radio::Watcher> watcher;
    std::vector<std::function<void()>> detachers;
    std::string failure;
    try {
        watcher = radio.CreateWatcher();
        if (!watcher)
            throw radio::PlatformError(radio::kFail);
        watcher->SetScanningMode(radio::ScanningMode::Active);
        const radio::EventToken received =
            watcher->AddReceived([state](radio::Watcher &, radio::AdvertisementReceivedArgs &args) {
                GatePass pass(*state->gate);
                return pass.Entered() ? OnReceived(*state, args) : radio::kOk;
            });
        detachers.push_back([watcher, received] { watcher->RemoveReceived(received); });
        const radio::EventToken stopped = watcher->AddStopped([state](radio::Watcher &) {
            GatePass pass(*state->gate);
            if (pass.Entered())
                state->stop.Request(StopReason::ScanEnded);
            return radio::kOk;
        });
        detachers.push_back([watcher, stopped] { watcher->RemoveStopped(stopped); });
        watcher->Start();
    } catch (const radio::PlatformError &error) {
        failure = error.what();
    }

    StopReason reason = StopReason::None;
    if (failure.empty())
        reason = environment.stop->WaitFor(std::chrono::seconds(seconds));
    // Nothing of the scan reaches the report after this; then the scan ends and its handlers go.
    state->gate->Close();
    if (watcher) {
        try {
            watcher->Stop();
        } catch (const radio::PlatformError &) {
        }
        for (const auto &detach : detachers) {
            try {
                detach();
            } catch (const radio::PlatformError &) {
            }
        }
        watcher.reset();
    }
    observer.Attach(nullptr);

    if (!failure.empty()) {
        const radio::RadioCheck again = radio.CheckRadio();
        const Verdict verdict = NoBluetooth(again.readiness != radio::Readiness::Ready
                                                ? again
                                                : radio::RadioCheck{radio::Readiness::Unusable,
                                                                    "the scan could not be started: " + failure});
        report.End(verdict);
        return verdict.exitCode;
    }
    if (reason == StopReason::ScanEnded)
        report.Note("scan_ended", "The platform ended the scan.");

    std::lock_guard<std::mutex> lock(state->mutex);
    const std::string heard = std::to_string(state->devices) + (state->devices == 1 ? " device" : " devices") + " heard" +
                              (state->connected > 0 ? ", " + std::to_string(state->connected) + " connected" : "");
    const std::string how = reason == StopReason::Interrupted    ? ", stopped early by Ctrl-C"
                            : reason == StopReason::OutputClosed ? ", stopped early: the output was closed"
                                                                 : "";
    const bool steamVr = environment.steamVrRunning && environment.steamVrRunning();
    Verdict verdict;
    if (state->rifleFound) {
        verdict = Found(*state, heard + how);
    } else if (state->rifleConnected) {
        verdict = FoundConnected(*state, heard + how, steamVr);
    } else {
        // A scan the platform ended, or one that heard nothing at all, may stand for Bluetooth
        // that went away meanwhile.
        if (reason == StopReason::ScanEnded || (reason == StopReason::None && state->devices == 0)) {
            const radio::RadioCheck again = radio.CheckRadio();
            if (again.readiness != radio::Readiness::Ready) {
                verdict = NoBluetooth(again);
                report.End(verdict);
                return verdict.exitCode;
            }
        }
        verdict.exitCode = kExitNotFound;
        verdict.result = "not_found";
        verdict.message = "The rifle was not found: nothing advertised as \"" + Utf16ToUtf8(kTargetName) +
                          "\", and no device the system has connected has that name (" + heard + how + "). " +
                          NotFoundHint(steamVr);
        verdict.flags.emplace_back("steamvr_running", steamVr);
    }
    verdict.numbers.emplace_back("devices", static_cast<int64_t>(state->devices));
    verdict.numbers.emplace_back("connected_devices", static_cast<int64_t>(state->connected));
    verdict.flags.emplace_back("interrupted", reason == StopReason::Interrupted);
    report.End(verdict);
    return verdict.exitCode;
}

} // namespace tarvolt::probe
