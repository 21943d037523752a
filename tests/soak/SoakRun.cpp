#include "SoakRun.h"

#include "ClientEnding.h"
#include "RadioControl.h"
#include "SharedPose.h"
#include "SimHost.h"
#include "TrackedDevicePublisher.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>

namespace soak {

namespace {

using Clock = std::chrono::steady_clock;

// A fail-safe only: every wait ends on what it waits for, long before this.
constexpr std::chrono::seconds kStepLimit{30};
// Frames run about this often while the run waits for something (the runtime's 90 Hz, compressed).
constexpr std::chrono::milliseconds kFramePeriod{1};
// Frames run after a relay died holding the pose lock: each must come back, and publish nothing.
constexpr int kFramesAfterDeadHolder = 3;
// Stops of the relay before a kill meant to hit the pose lock gives up.
constexpr int kHoldingTries = 20000;
constexpr uint64_t kRifleAddress = 0xAABBCCDDEEFFull;

const std::string kConnected = "Device successfully connected.";

struct Button {
    const char *click;
    std::vector<uint8_t> bytes;
};

const Button kButtons[] = {
    {"/input/fire/click", {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}},
    {"/input/eject_mag/click", {0x5C, 0x00, 0x5C, 0x5D}},
    {"/input/load_mag/click", {0x5C, 0x01, 0x5D, 0x5D}},
    {"/input/load_bullet/click", {0x60, 0x01, 0x61, 0x5D}},
    {"/input/unload_bullet/click", {0x60, 0x00, 0x60, 0x5D}},
};

// The right-hand controller that the relay copies: upright at (x, 1.1, -0.3).
vr::TrackedDevicePose_t ControllerPose(float x)
{
    vr::TrackedDevicePose_t pose;
    std::memset(static_cast<void *>(&pose), 0, sizeof pose);
    pose.mDeviceToAbsoluteTracking.m[0][0] = pose.mDeviceToAbsoluteTracking.m[1][1] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[2][2] = 1.0f;
    pose.mDeviceToAbsoluteTracking.m[0][3] = x;
    pose.mDeviceToAbsoluteTracking.m[1][3] = 1.1f;
    pose.mDeviceToAbsoluteTracking.m[2][3] = -0.3f;
    pose.eTrackingResult = vr::TrackingResult_Running_OK;
    pose.bPoseIsValid = pose.bDeviceIsConnected = true;
    return pose;
}

// The soak's own view of the pose block, to see the lock byte as the relay leaves it.
class BlockView {
public:
    BlockView() : mapping_(tarvolt::OpenPoseBlockMapping()), view_(tarvolt::MapPoseBlock(mapping_)) {}
    ~BlockView() { Close(); }
    BlockView(const BlockView &) = delete;
    BlockView &operator=(const BlockView &) = delete;
    bool Open() const { return view_ != nullptr; }
    const std::atomic<uint8_t> &Lock() const { return static_cast<tarvolt::SharedPose *>(view_)->lock; }
    void Close()
    {
        if (view_ != nullptr)
            tarvolt::UnmapPoseBlock(view_);
        tarvolt::ClosePoseBlockMapping(mapping_);
        view_ = mapping_ = nullptr;
    }

private:
    tarvolt::PoseBlockHandle mapping_;
    void *view_;
};

size_t CountUpdates(const sim::HostRecorder &recorder, const char *click, bool value)
{
    size_t n = 0;
    for (const sim::ComponentUpdate &u : recorder.Updates())
        n += u.name == click && u.kind == sim::ComponentKind::Boolean && u.boolValue == value ? 1 : 0;
    return n;
}

} // namespace

Plan LongPlan() { return Plan{}; }

Plan ShortPlan()
{
    Plan plan;
    plan.loads = 12;
#if defined(_WIN32)
    // Under Wine a relay takes about a second to start and a drop a third of one: fewer of both,
    // so that the run stays near a minute; as many loads, which the per-load figures need.
    plan.cyclesPerLoad = 2;
    plan.dropsPerCycle = 4;
    plan.kills = 12;
    plan.restarts = 4;
#else
    plan.cyclesPerLoad = 4;
    plan.dropsPerCycle = 8;
    plan.kills = 24;
    plan.restarts = 6;
#endif
    return plan;
}

struct SoakRun::Load {
    sim::SimHost host;
    sim::RadioControl *radio = nullptr;
    int rifle = -1;
    size_t connects = 0;  // "Device successfully connected." lines so far in this load
    bool endInARow = false;  // the relay is to be ended plan.restarts times in the next cycle
    Totals &totals;

    explicit Load(Totals &t) : totals(t) {}

    // One frame, its time kept as the longest so far in `longest`.
    void Frame(double Totals::*longest = &Totals::longestFrameMs)
    {
        const Clock::time_point start = Clock::now();
        host.RunFrame();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        totals.*longest = std::max(totals.*longest, ms);
        ++totals.frames;
    }

    // Frames at the compressed rate until `done` holds; false with `what` after kStepLimit.
    bool FramesUntil(const std::function<bool()> &done, const std::string &what, std::string &error)
    {
        const Clock::time_point deadline = Clock::now() + kStepLimit;
        while (!done()) {
            if (Clock::now() > deadline) {
                error = what;
                return false;
            }
            Frame();
            host.Recorder().WaitUntil(done, kFramePeriod);
        }
        return true;
    }

    bool RelayedPoseArrived()
    {
        sim::PoseRecord last;
        return host.Recorder().LastPose(last) && last.pose.poseIsValid && last.pose.deviceIsConnected &&
               last.pose.result == vr::TrackingResult_Running_OK;
    }
};

SoakRun::SoakRun(const Plan &plan) : plan_(plan), random_(plan.seed) {}

bool SoakRun::Run(std::string &error)
{
    const Clock::time_point start = Clock::now();
    sim::TrackedDevicePublisher devices;
    if (!devices.Start()) {
        error = "the server's tracked-device table could not be published";
        return false;
    }
    devices.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, ControllerPose(0.0f));
    devices.SetDevice(1, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, ControllerPose(0.2f));
    devices.SetDevice(2, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand, ControllerPose(-0.2f));
    devices_ = &devices;

    samples_.reserve(static_cast<size_t>(plan_.loads));
    before_ = TakeCounts();
    for (int load = 0; load < plan_.loads; ++load) {
        if (!RunLoad(load, error)) {
            devices_ = nullptr;
            error = "load " + std::to_string(load + 1) + ", cycle " + std::to_string(totals_.cycles + 1) + ": " + error;
            return false;
        }
        samples_.push_back({totals_.cycles, TakeCounts()});
    }
    // SteamVR ends: its clients are asked to quit (none is left to ask), then the server is gone.
    devices_ = nullptr;
    devices.QuitClients();
    devices.Stop();
    afterEnd_ = TakeCounts();
    totals_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return true;
}

bool SoakRun::RunLoad(int load, std::string &error)
{
    Load l(totals_);
    l.host.Recorder().KeepPoseHistory(false);
    if (!l.host.Load(sim::SimHost::DefaultPackageRoot(true))) {
        error = "the driver did not load: " + l.host.Error();
        return false;
    }
    const auto entry = reinterpret_cast<sim::SimRadioEntry>(l.host.Symbol(sim::kSimRadioExport));
    if (entry == nullptr) {
        error = "the driver has no simulated radio";
        return false;
    }
    l.radio = entry();
    l.radio->CompressTime(plan_.compression);
    l.rifle = l.radio->AddPeripheral(sim::RifleScript(kRifleAddress));
    if (l.host.Init() != vr::VRInitError_None) {
        error = "Init failed";
        return false;
    }
    // Every fourth load the runtime cleans up without deactivating the device first.
    const bool cleanupWithoutDeactivate = load % 4 == 2;
    l.endInARow = load + 1 == plan_.loads && plan_.restarts > 0;
    for (int cycle = 0; cycle < plan_.cyclesPerLoad; ++cycle)
        if (!RunCycle(l, cleanupWithoutDeactivate && cycle + 1 == plan_.cyclesPerLoad, error))
            return false;
    const sim::RadioStats stats = l.radio->Stats();
    if (stats.attachedHandlers != 0 || stats.scanning != 0 || !stats.handlerFailures.empty()) {
        error = "the radio still holds " + std::to_string(stats.attachedHandlers) + " handlers and " +
                std::to_string(stats.scanning) + " scans, and saw " + std::to_string(stats.handlerFailures.size()) +
                " failing handlers";
        return false;
    }
    l.host.Shutdown();
    const std::vector<std::string> violations = l.host.Recorder().Violations();
    if (!violations.empty()) {
        error = "the runtime would not tolerate: " + violations.front();
        return false;
    }
    ++totals_.loads;
    return true;
}

bool SoakRun::RunCycle(Load &l, bool cleanupInstead, std::string &error)
{
    const int index = totals_.cycles;
    if (l.host.Activate() != vr::VRInitError_None) {
        error = "Activate failed";
        return false;
    }
    // Now and then the runtime activates the device a second time without deactivating it.
    if (index % 10 == 5) {
        if (l.host.Activate() != vr::VRInitError_None) {
            error = "the second Activate failed";
            return false;
        }
        ++totals_.secondActivations;
    }
    std::vector<int64_t> relays = ChildRelays();
    if (relays.size() != 1) {
        error = std::to_string(relays.size()) + " relays run after Activate";
        return false;
    }
    BlockView block;
    if (!block.Open()) {
        error = "the pose block cannot be opened after Activate";
        return false;
    }

    // The plan's kills spread evenly over the cycles; where in the cycle is left to chance.
    enum class Kill { None, AtStart, WhileRelaying, HoldingLock };
    Kill kill = Kill::None;
    const int64_t cycles = plan_.Cycles();
    if ((index + 1) * int64_t{plan_.kills} / cycles > index * int64_t{plan_.kills} / cycles) {
        const uint32_t roll = random_() % 10;
        kill = roll < 3 ? Kill::AtStart : roll < 6 ? Kill::WhileRelaying : Kill::HoldingLock;
    }

    if (kill == Kill::AtStart) {
        // Somewhere in its start: before it opened the block, in OpenVR's initialisation, or at
        // its first passes.
        for (uint32_t frames = random_() % 4; frames > 0; --frames)
            l.Frame();
        if (!KillProcess(relays[0])) {
            error = "the relay could not be killed at its start";
            return false;
        }
        ++totals_.killsAtStart;
        if (!AwaitRestart(l, relays[0], error))
            return false;
        ++totals_.posesRelayed;
    } else {
        if (!l.FramesUntil([&] { return l.RelayedPoseArrived(); }, "the relay's pose never reached the runtime", error))
            return false;
        ++totals_.posesRelayed;
    }

    // The activation's worker connects once (a second activation keeps the worker that runs).
    const size_t connects = ++l.connects;
    if (!l.FramesUntil([&] { return l.host.Recorder().CountLog(kConnected) >= connects; }, "the rifle never connected",
                       error))
        return false;

    if (l.endInARow) {
        l.endInARow = false;
        if (!EndInARow(l, error))
            return false;
        // The relay to kill below is the last one started again.
        relays = ChildRelays();
        if (relays.size() != 1) {
            error = std::to_string(relays.size()) + " relays run after the ends in a row";
            return false;
        }
    }

    // A relay killed while relaying is started again in the background; Deactivate may come in
    // the driver's pause before that or while it starts.
    const int killAt = kill == Kill::WhileRelaying ? static_cast<int>(random_() % plan_.dropsPerCycle) : -1;
    if (!DropsAndNotifications(l, killAt, relays[0], error))
        return false;

    if (kill == Kill::HoldingLock) {
        if (KillWhileHoldingLock(relays[0], block.Lock(), kHoldingTries, random_())) {
            ++totals_.killsHoldingLock;
            // Until the driver has seen the end, the lock stays held: each frame waits its bounded
            // time and publishes nothing; once it has, a pose that is not valid, until the relay
            // started again writes.
            for (int i = 0; i < kFramesAfterDeadHolder; ++i)
                l.Frame(&Totals::longestFrameDeadMs);
            if (!AwaitRestart(l, relays[0], error))
                return false;
        } else {
            ++totals_.holdingNotCaught;
            if (!KillProcess(relays[0])) {
                error = "the relay could not be killed";
                return false;
            }
            ++totals_.killsWhileRelaying;
        }
    }

    block.Close();
    if (cleanupInstead) {
        l.host.Cleanup();
        ++totals_.cleanupsWithoutDeactivate;
    } else {
        l.host.Deactivate();
    }
    if (!ChildRelays().empty()) {
        error = cleanupInstead ? "a relay outlived Cleanup" : "a relay outlived Deactivate";
        return false;
    }
    ++totals_.cycles;
    return true;
}

bool SoakRun::DropsAndNotifications(Load &l, int killAt, int64_t relay, std::string &error)
{
    sim::HostRecorder &recorder = l.host.Recorder();
    for (int drop = 0; drop < plan_.dropsPerCycle; ++drop) {
        if (drop == killAt) {
            if (!KillProcess(relay)) {
                error = "the relay could not be killed while it relayed";
                return false;
            }
            ++totals_.killsWhileRelaying;
        }
        // A button's message, which the next frames turn into a press and, 21 updates later, its
        // release; the link drops as soon as the press is in.
        const Button &button = kButtons[totals_.notifications % 5];
        const size_t presses = CountUpdates(recorder, button.click, true);
        const size_t releases = CountUpdates(recorder, button.click, false);
        l.radio->Notify(l.rifle, button.bytes);
        ++totals_.notifications;
        if (!l.FramesUntil([&] { return CountUpdates(recorder, button.click, true) > presses; },
                           std::string("a notification did not press ") + button.click, error))
            return false;
        l.radio->Drop(l.rifle);
        ++totals_.drops;
        const size_t connects = ++l.connects;
        if (!l.FramesUntil(
                [&] {
                    return recorder.CountLog(kConnected) >= connects && CountUpdates(recorder, button.click, false) > releases;
                },
                "the rifle did not reconnect after a drop", error))
            return false;
    }
    return true;
}

bool SoakRun::AwaitRestart(Load &l, int64_t ended, std::string &error)
{
    int64_t next = 0;
    if (!l.FramesUntil(
            [&] {
                const std::vector<int64_t> relays = ChildRelays();
                next = relays.size() == 1 && relays[0] != ended ? relays[0] : 0;
                return next != 0;
            },
            "the ended relay was not collected, or no relay was started again", error))
        return false;
    // The record was cleared before the new relay started: a valid pose from here on is its own,
    // written under a lock that the dead relay may have left set.
    const size_t mark = l.host.Recorder().PoseCount();
    if (!l.FramesUntil([&] { return l.host.Recorder().PoseCount() > mark && l.RelayedPoseArrived(); },
                       "the relay started again never wrote its pose", error))
        return false;
    ++totals_.restartsSeen;
    return true;
}

bool SoakRun::EndInARow(Load &l, std::string &error)
{
    BlockView block;
    for (int i = 0; i < plan_.restarts; ++i) {
        // Now and then the relay runs a minute of the driver's (compressed) time first.
        if (i % 10 == 9) {
            const Clock::time_point until = Clock::now() + std::chrono::seconds(61) / plan_.compression;
            if (!l.FramesUntil([&] { return Clock::now() >= until; }, "", error))
                return false;
            ++totals_.restartsAfterAMinute;
        }
        const std::vector<int64_t> relays = ChildRelays();
        if (relays.size() != 1 || !block.Open()) {
            error = std::to_string(relays.size()) + " relays run before end " + std::to_string(i + 1) + " in a row";
            return false;
        }
        bool ended = false;
        switch (i % 4) {
        case 0:
            ended = KillProcess(relays[0]);
            break;
        case 1:
            ended = KillWhileHoldingLock(relays[0], block.Lock(), kHoldingTries, random_()) || KillProcess(relays[0]);
            break;
        default:
            ended = sim::EndClients(*devices_, i % 4 == 2 ? sim::ClientEnd::Crash : sim::ClientEnd::Exit) == 1;
            break;
        }
        if (!ended) {
            error = "the relay could not be ended (end " + std::to_string(i + 1) + " in a row)";
            return false;
        }
        if (!AwaitRestart(l, relays[0], error)) {
            error += " (end " + std::to_string(i + 1) + " in a row)";
            return false;
        }
    }
    return true;
}

} // namespace soak
