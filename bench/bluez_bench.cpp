// BlueZ figures of make bench: the shipped driver in the simulated host, on the fake bluetoothd
// of a private D-Bus daemon, with bluetoothd's harsher behaviours selected. One driver load per
// process; a figure taken over several runs runs each in a child process of this program.
//   bluez_bench found          a rifle whose object bluetoothd had before the scan: heard by
//                              another client's discovery under the RSSI rule after 5.87, or
//                              connected by another program and silent; activation to
//                              "Device successfully connected."
//   bluez_bench notify         notification raised to the driver's handler, through AcquireNotify's
//                              socket and through StartNotify's Value changes
//   bluez_bench deactivate     Deactivate while bluetoothd takes 2 s to answer Disconnect
// Results are printed as "ROW<tab>label<tab>value" lines.
#include "E2eSupport.h"

#include <unistd.h>

#include <cstring>
#include <random>
#include <thread>

namespace {

using bench::Clock;
constexpr int kRuns = 5;
// How long a run waits for the rifle before it counts as never found.
constexpr std::chrono::milliseconds kFoundLimit = std::chrono::seconds(20);
constexpr int kNotifications = 300;

// The shipped driver brought up on a fake bluetoothd with `modes`, after `setUp` scripted it;
// null after printing why not. `connected` is whether to wait for the rifle.
struct Session {
    sim::PrivateBus bus;
    std::unique_ptr<sim::FakeBluez> bluez;
    sim::SimHost host;
    int rifle = 0;
    Clock::time_point activated;
};

bool BringUp(Session &s, const sim::BluezModes &modes, void (*setUp)(sim::FakeBluez &, int), bool connected = true)
{
    std::string error;
    if (!s.bus.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    s.bluez = std::make_unique<sim::FakeBluez>(s.bus.Address());
    if (!s.bluez->Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", s.bus.Address().c_str(), 1);
    s.bluez->SetModes(modes);
    s.rifle = s.bluez->AddPeripheral(sim::RifleScript(0xAABBCCDDEEFFull));
    if (setUp != nullptr)
        setUp(*s.bluez, s.rifle);
    if (!s.host.Load(sim::SimHost::DefaultPackageRoot(false)) || s.host.Init() != vr::VRInitError_None) {
        std::fprintf(stderr, "cannot load the driver: %s\n", s.host.Error().c_str());
        return false;
    }
    s.activated = Clock::now();
    if (s.host.Activate() != vr::VRInitError_None) {
        std::fprintf(stderr, "the driver did not come up\n");
        return false;
    }
    if (connected && !s.host.Recorder().WaitForLog("Device successfully connected.", bench::kE2eLimit)) {
        std::fprintf(stderr, "the rifle was not connected\n");
        return false;
    }
    return true;
}

// When the log line was written, in milliseconds since activation.
double MillisTo(Session &s, const std::string &line)
{
    for (const sim::LogRecord &record : s.host.Recorder().Logs())
        if (record.text == line)
            return std::chrono::duration<double, std::milli>(record.time - s.activated).count();
    return -1.0;
}

void HeardByAnotherClient(sim::FakeBluez &bluez, int rifle)
{
    bluez.MakeKnown(rifle);
    bluez.SetAnotherClientDiscovering(true);
}

void ConnectedByAnotherClient(sim::FakeBluez &bluez, int rifle) { bluez.ConnectByAnotherClient(rifle); }

// One run in this process: prints "FOUND <ms to connected> <ms to the scan's start>", or
// "FOUND never" when the rifle was not connected in time.
int FoundOnce(const char *which)
{
    Session s;
    sim::BluezModes master;
    master.rssiRule = sim::BluezModes::RssiRule::Master;
    if (!BringUp(s, master, std::strcmp(which, "connected") == 0 ? ConnectedByAnotherClient : HeardByAnotherClient,
                 false))
        return 1;
    if (s.host.Recorder().WaitForLog("Device successfully connected.", kFoundLimit))
        std::printf("FOUND %.1f %.1f\n", MillisTo(s, "Device successfully connected."),
                    MillisTo(s, "Starting the advertisement watcher."));
    else
        std::printf("FOUND never\n");
    s.host.Shutdown();
    return 0;
}

int MeasureFound()
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    self[n] = '\0';
    for (const char *which : {"heard", "connected"}) {
        std::vector<double> total, fromScan;
        int never = 0;
        for (int run = 0; run < kRuns; ++run) {
            FILE *child = popen((std::string("'") + self + "' found_once " + which).c_str(), "r");
            if (child == nullptr)
                return 1;
            char line[256];
            double ms = 0, scan = 0;
            bool found = false, missed = false;
            while (std::fgets(line, sizeof line, child) != nullptr) {
                found = found || std::sscanf(line, "FOUND %lf %lf", &ms, &scan) == 2;
                missed = missed || std::strncmp(line, "FOUND never", 11) == 0;
            }
            if (pclose(child) != 0 || (!found && !missed))
                return 1;
            never += missed ? 1 : 0;
            if (found)
                total.push_back(ms);
            if (found && scan >= 0)  // the link may take a connected rifle before it scans at all
                fromScan.push_back(ms - scan);
        }
        const std::string runs = " (" + std::to_string(kRuns) + " runs, " +
                                 std::to_string(kFoundLimit.count() / 1000) + " s each at most)";
        bench::Row(std::strcmp(which, "heard") == 0
                       ? "Rifle whose object bluetoothd had, heard by another client's discovery (RSSI rule after "
                         "5.87), activation to \"Device successfully connected.\" through BlueZ (ms)"
                       : "Rifle connected by another program and silent, activation to \"Device successfully "
                         "connected.\" through BlueZ (ms)",
                   total.empty() ? "never" + runs
                                 : bench::Format("median %.0f, max %.0f", bench::Quantile(total, 0.5),
                                                 bench::Quantile(total, 1.0)) +
                                       (fromScan.empty() ? std::string("; before any scan")
                                                         : bench::Format("; from the scan's start median %.0f, max %.0f",
                                                                         bench::Quantile(fromScan, 0.5),
                                                                         bench::Quantile(fromScan, 1.0))) +
                                       (never != 0 ? "; never in " + std::to_string(never) : std::string()) + runs);
    }
    return 0;
}

// Notifications at random moments, each a few frames apart; the time from the fake raising one
// to the driver's "Received data: " line, and the frame whose update pressed the button.
int NotifyOnce(bool socket)
{
    Session s;
    sim::BluezModes modes;
    modes.acquireNotify = socket;
    if (!BringUp(s, modes, nullptr))
        return 1;
    s.host.Recorder().KeepPoseHistory(false);
    std::mt19937 random(9);
    std::uniform_real_distribution<double> phase(0.0, 1.0);
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 90.0));
    const std::vector<uint8_t> fire = {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};
    std::vector<Clock::time_point> raised;
    std::vector<uint64_t> framesBefore;
    for (int i = 0; i < kNotifications; ++i) {
        for (int f = 0; f < 25; ++f)  // the fire pulse (22 updates) has ended before the next one
            s.host.RunFrame();
        // Raised at a random moment of a 90 Hz frame period, and the next frame at its end.
        const Clock::time_point frame = Clock::now();
        std::this_thread::sleep_until(frame + std::chrono::duration_cast<Clock::duration>(period * phase(random)));
        framesBefore.push_back(s.host.FramesRun());
        raised.push_back(Clock::now());
        s.bluez->Notify(s.rifle, fire);
        std::this_thread::sleep_until(frame + period);
        s.host.RunFrame();
    }
    if (!s.host.Recorder().WaitForLogPrefix("Received data: ", bench::kE2eLimit, kNotifications))
        return 1;
    std::vector<double> micros;
    size_t n = 0;
    for (const sim::LogRecord &line : s.host.Recorder().Logs())
        if (line.text.rfind("Received data: ", 0) == 0 && n < raised.size())
            micros.push_back(std::chrono::duration<double, std::micro>(line.time - raised[n++]).count());
    // The first press after each notification: in the frame right after it, or later.
    int nextFrame = 0;
    const std::vector<sim::ComponentUpdate> updates = s.host.Recorder().Updates();
    for (uint64_t before : framesBefore)
        for (const sim::ComponentUpdate &u : updates)
            if (u.name == "/input/fire/click" && u.boolValue && u.frame > before) {
                nextFrame += u.frame == before + 1 ? 1 : 0;
                break;
            }
    bench::Row(std::string("Notification raised to the driver's handler through BlueZ, ") +
                   (socket ? "AcquireNotify's socket" : "StartNotify's Value changes (a BlueZ without AcquireNotify)") +
                   " (us)",
               bench::Format("median %.0f, p99 %.0f, max %.0f", bench::Quantile(micros, 0.5),
                             bench::Quantile(micros, 0.99), bench::Quantile(micros, 1.0)) +
                   " (" + std::to_string(micros.size()) + " notifications; pressed at the next frame: " +
                   std::to_string(nextFrame) + ")");
    s.host.Shutdown();
    return 0;
}

int MeasureDeactivate()
{
    Session s;
    sim::BluezModes modes;
    modes.slowDisconnect = true;
    if (!BringUp(s, modes, nullptr))
        return 1;
    const Clock::time_point start = Clock::now();
    s.host.Deactivate();
    const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    bench::Row("Deactivate through BlueZ while bluetoothd takes 2 s to answer Disconnect (ms)",
               bench::Format("%.1f", millis));
    s.host.Shutdown();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *which = argc > 1 ? argv[1] : "";
    if (std::strcmp(which, "found") == 0)
        return MeasureFound();
    if (std::strcmp(which, "found_once") == 0 && argc > 2)
        return FoundOnce(argv[2]);
    if (std::strcmp(which, "notify") == 0) {
        // Each path in a child of its own: one load of the driver per process.
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0)
            return 1;
        self[n] = '\0';
        for (const char *path : {"socket", "start"})
            if (std::system((std::string("'") + self + "' notify_once " + path).c_str()) != 0)
                return 1;
        return 0;
    }
    if (std::strcmp(which, "notify_once") == 0 && argc > 2)
        return NotifyOnce(std::strcmp(argv[2], "socket") == 0);
    if (std::strcmp(which, "deactivate") == 0)
        return MeasureDeactivate();
    std::fprintf(stderr, "usage: %s found|notify|deactivate\n", argv[0]);
    return 2;
}
