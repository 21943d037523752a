// End-to-end figures from the simulated runtime host with the real driver (built with the
// simulated radio) loaded from its package. One measurement per process:
//   e2e_bench notify      notification to component update, in frames, at 90 frames a second,
//                         and from the radio raising it to the driver's log line, in microseconds
//   e2e_bench reconnect   rifle advertising again to "Device successfully connected." after a drop
//   e2e_bench notify_bluez, reconnect_bluez: the same with the shipped driver through its BlueZ
//                         radio and a fake bluetoothd on a private D-Bus daemon
//   e2e_bench pose_age RUN  age of the published pose, the relay's passes per second and CPU share,
//                         frames that published the previous record again, the relay's margin; RUN
//                         is vistrel's pace and the frames: fixed|frames <rate> steady|irregular|paused
//                         <seconds>
//   e2e_bench lock_waits  frame updates longer than 1 ms with vistrel writing the pose block
//   e2e_bench lock_waits_fixed  the same with vistrel at the earlier fixed pace
//   e2e_bench lock_stress the same with a stress relay that takes the pose lock flat out
//   e2e_bench wine_relay <windows build> RUN  the pose path's figures for vistrel.exe under Wine
//   e2e_bench deactivate  Deactivate while the worker waits on a connection that never comes
//   e2e_bench quit        SteamVR's shutdown: quit request to the relay's disconnect and end, and
//                         to the driver unloaded; with vistrel and with a relay ignoring it
// Results are printed as "ROW<tab>label<tab>value" lines.
#include "E2eRelay.h"
#include "E2eSupport.h"

#include <cstring>
#include <map>
#include <random>
#include <thread>

namespace {

using bench::Clock;

struct Button {
    const char *component;
    std::vector<uint8_t> message;
};

const Button kButtons[] = {
    {"/input/fire/click", {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}},
    {"/input/eject_mag/click", {0x5C, 0x00, 0x5C, 0x5D}},
    {"/input/load_mag/click", {0x5C, 0x01, 0x5D, 0x5D}},
    {"/input/load_bullet/click", {0x60, 0x01, 0x61, 0x5D}},
    {"/input/unload_bullet/click", {0x60, 0x00, 0x60, 0x5D}},
};

constexpr int kNotifications = 300;
// A notification every 5 frames, the buttons in turn: each button's 22-update pulse has ended
// before its next notification 25 frames later.
constexpr int kFramesBetweenNotifications = 5;
constexpr double kFrameHz = 90.0;
constexpr int kReconnects = 10;

struct Sent {
    const Button *button;
    uint64_t framesBefore;  // frames run when the radio raised it
    double microsToFrame;   // from raising it to the start of the next frame
    Clock::time_point raised;
};

const char *Through(bool bluez) { return bluez ? " through BlueZ (fake bluetoothd, private bus)" : ""; }

// Frames run at 90 Hz; every fifth frame period one notification is raised at a random moment
// inside it, on the radio's thread as the platform would. The distance is counted from the last
// frame run before the notification to the frame whose update pressed the button.
int MeasureNotifyToUpdate(bool bluez)
{
    sim::SimHost host;
    int rifle = 0;
    sim::RadioControl *radio = bench::BringUp(host, rifle, bluez);
    if (radio == nullptr)
        return 1;
    host.Recorder().KeepPoseHistory(false);
    std::mt19937 random(9);
    std::uniform_real_distribution<double> phase(0.0, 1.0);
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kFrameHz));
    std::vector<Sent> sent;
    Clock::time_point next = Clock::now();
    const int frames = kNotifications * kFramesBetweenNotifications + 30;
    for (int frame = 0; frame < frames; ++frame) {
        host.RunFrame();
        if (frame % kFramesBetweenNotifications == 0 && static_cast<int>(sent.size()) < kNotifications) {
            std::this_thread::sleep_until(next + std::chrono::duration_cast<Clock::duration>(period * phase(random)));
            const Button &button = kButtons[sent.size() % 5];
            const Clock::time_point raised = Clock::now();
            radio->Notify(rifle, button.message);
            sent.push_back({&button, host.FramesRun(),
                            std::chrono::duration<double, std::micro>(next + period - raised).count(), raised});
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
    const std::vector<sim::ComponentUpdate> updates = host.Recorder().Updates();
    std::map<uint64_t, int> distribution;  // frames to the update -> notifications
    int missing = 0;
    bool anyLate = false;
    double latestLate = -1e9;  // the most time a notification had and still missed the next frame
    for (const Sent &s : sent) {
        uint64_t pressed = 0;
        for (const sim::ComponentUpdate &u : updates)
            if (u.name == s.button->component && u.boolValue && u.frame > s.framesBefore) {
                pressed = u.frame;
                break;
            }
        if (pressed == 0)
            ++missing;
        else
            ++distribution[pressed - s.framesBefore];
        if (pressed != s.framesBefore + 1) {
            anyLate = true;
            latestLate = std::max(latestLate, s.microsToFrame);
        }
    }
    std::string text;
    for (const auto &entry : distribution)
        text += (text.empty() ? "" : ", ") + std::string(entry.first == 1 ? "next frame" : "frame +" + std::to_string(entry.first)) +
                ": " + std::to_string(entry.second);
    text += "; none: " + std::to_string(missing) + " (of " + std::to_string(sent.size()) + ", 90 Hz)";
    if (anyLate && latestLate > 0.0)
        text += bench::Format("; the later ones were raised at most %.0f us before the next frame was due", latestLate);
    else if (anyLate)
        text += "; the later ones were raised when the next frame was already due";
    bench::Row(std::string("Notification to component update") + Through(bluez) + ", in frames", text);
    // The handler logs each notification as it runs: the n-th such line belongs to the n-th one.
    std::vector<double> micros;
    size_t n = 0;
    for (const sim::LogRecord &line : host.Recorder().Logs())
        if (line.text.rfind("Received data: ", 0) == 0 && n < sent.size())
            micros.push_back(std::chrono::duration<double, std::micro>(line.time - sent[n++].raised).count());
    bench::Row(std::string("Notification raised to the driver's handler") + Through(bluez) + " (us)",
               bench::Format("median %.0f, p99 %.0f, max %.0f", bench::Quantile(micros, 0.5),
                             bench::Quantile(micros, 0.99), bench::Quantile(micros, 1.0)) +
                   " (" + std::to_string(micros.size()) + " notifications)");
    host.Shutdown();
    return 0;
}

// The rifle stops advertising and drops the link; at a random moment up to a second after the
// driver noticed, it advertises again (every 50 ms, the simulated radio's interval), and the time
// to the driver's "Device successfully connected." is taken from the log line's arrival.
int MeasureReconnect(bool bluez)
{
    sim::SimHost host;
    int rifle = 0;
    sim::RadioControl *radio = bench::BringUp(host, rifle, bluez);
    if (radio == nullptr)
        return 1;
    sim::HostRecorder &recorder = host.Recorder();
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pause(0, 1000);
    std::vector<double> millis;
    for (int round = 0; round < kReconnects; ++round) {
        radio->SetAdvertising(rifle, false);
        radio->Drop(rifle);
        if (!recorder.WaitForLog("Device connection lost.", bench::kE2eLimit, round + 1))
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const Clock::time_point back = Clock::now();
        radio->SetAdvertising(rifle, true);
        if (!recorder.WaitForLog("Device successfully connected.", bench::kE2eLimit, round + 2))
            return 1;
        Clock::time_point connected{};
        size_t seen = 0;
        for (const sim::LogRecord &line : recorder.Logs())
            if (line.text == "Device successfully connected." && ++seen == static_cast<size_t>(round + 2))
                connected = line.time;
        millis.push_back(std::chrono::duration<double, std::milli>(connected - back).count());
    }
    bench::Row(std::string("Rifle advertising again to \"Device successfully connected.\"") + Through(bluez) + " (ms)",
               bench::Format("median %.0f, max %.0f", bench::Quantile(millis, 0.5),
                             bench::Quantile(millis, 1.0)) +
                   " (" + std::to_string(kReconnects) + " drops)");
    host.Shutdown();
    return 0;
}

// The link drops and comes back, but the platform never answers the link's subscription on it
// (a half-reachable device); Deactivate is timed from the host's call to its return. The link
// keeps the device it had and the system restores the link, so the operation left waiting is
// the subscription, not a lookup of the device.
int MeasureDeactivate()
{
    sim::SimHost host;
    int rifle = 0;
    sim::RadioControl *radio = bench::BringUp(host, rifle);
    if (radio == nullptr)
        return 1;
    radio->Hold(rifle, sim::Step::Subscribe);
    radio->Drop(rifle);
    if (!radio->WaitUntilHeld(rifle, sim::Step::Subscribe, bench::kE2eLimit))
        return 1;
    const Clock::time_point start = Clock::now();
    host.Deactivate();
    const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    bench::Row("Deactivate while a connection attempt never finishes (ms)", bench::Format("%.1f", millis));
    radio->Release(rifle, sim::Step::Subscribe);
    host.Shutdown();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *which = argc > 1 ? argv[1] : "";
    if (std::strcmp(which, "notify") == 0 || std::strcmp(which, "notify_bluez") == 0)
        return MeasureNotifyToUpdate(std::strcmp(which, "notify_bluez") == 0);
    if (std::strcmp(which, "reconnect") == 0 || std::strcmp(which, "reconnect_bluez") == 0)
        return MeasureReconnect(std::strcmp(which, "reconnect_bluez") == 0);
    bench::PoseRun run;
    if (std::strcmp(which, "pose_age") == 0 && bench::ParsePoseRun(argc, argv, 2, run))
        return bench::MeasurePoseAge(run);
    if (std::strcmp(which, "lock_waits") == 0)
        return bench::MeasureLockWaits(bench::LockWriter::Vistrel);
    if (std::strcmp(which, "lock_waits_fixed") == 0)
        return bench::MeasureLockWaits(bench::LockWriter::FixedPace);
    if (std::strcmp(which, "lock_stress") == 0)
        return bench::MeasureLockWaits(bench::LockWriter::Stress);
    if (std::strcmp(which, "wine_relay") == 0 && argc > 2 && bench::ParsePoseRun(argc, argv, 3, run))
        return bench::MeasureUnderWine(argv[2], run);
    if (std::strcmp(which, "deactivate") == 0)
        return MeasureDeactivate();
    if (std::strcmp(which, "quit") == 0)
        return bench::MeasureQuit();
    if (std::strcmp(which, "quit_once") == 0 && argc > 2)
        return bench::MeasureOneQuit(argv[2]);
    std::fprintf(stderr, "usage: %s notify|reconnect|notify_bluez|reconnect_bluez|lock_waits|lock_waits_fixed|lock_stress|"
                         "deactivate|quit\n       %s pose_age RUN\n       %s wine_relay <windows build> RUN\n"
                         "RUN: fixed|frames <rate> steady|irregular|paused <seconds>\n", argv[0], argv[0], argv[0]);
    return 2;
}
