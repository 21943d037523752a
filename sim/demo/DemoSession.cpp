#include "DemoSession.h"

#include "Control.h"
#include "DemoPoses.h"
#include "DemoScript.h"
#include "InputTally.h"
#include "LinkState.h"

namespace demo {

namespace {

constexpr uint64_t kPlainPoseEveryFrames = 270;
#if defined(_WIN32)
constexpr const char *kSeparator = "\\";
#else
constexpr const char *kSeparator = "/";
#endif

std::string PoseText(const PoseSummary &p)
{
    char text[128];
    std::snprintf(text, sizeof text, "(%.3f, %.3f, %.3f) yaw %.1f pitch %.1f roll %.1f", p.position[0],
                  p.position[1], p.position[2], p.yawPitchRoll[0], p.yawPitchRoll[1], p.yawPitchRoll[2]);
    return text;
}

} // namespace

DemoSession::DemoSession(const Options &options) : options_(options) {}

DemoSession::~DemoSession() { host_.Shutdown(); }

void DemoSession::Note(const std::string &text)
{
    const size_t logsBefore = host_.Recorder().CountLogPrefix("");
    std::lock_guard<std::mutex> lock(mutex_);
    pendingNotes_.push_back({logsBefore, text});
}

void DemoSession::SetStep(const std::string &text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = text;
}

void DemoSession::SetPoseSource(const char *value)
{
    devices_.EditSettings([&](sim::SettingsStore &store) {
        return sim::PutString(store, "driver_tarvolt_rq508", "poseSource", value);
    });
}

void DemoSession::DropLink()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropTime_ = sim::Clock::now();
        dropPending_ = true;
    }
    radio_->Drop(rifle_);
}

void DemoSession::EndSession()
{
    ending_ = true;
    host_.Recorder().Wake();
    gate_.Close();
}

// The radio the session scripts: the one inside the driver built with the simulated radio, or,
// for the shipped driver, the one inside the Windows Runtime Bluetooth component. The component
// is loaded from the file the Wine prefix registers, so the driver's activation finds it loaded.
bool DemoSession::FindRadio(const std::string &root, std::string &error)
{
    if (options_.bluez)
        return radio_ != nullptr;  // the fake bluetoothd, started before the driver
    if (options_.windowsRuntime) {
        const std::string path = sim::ExecutableDirectory() + kSeparator + winrt_bluetooth::kComponentFile;
        auto entry = component_.Open(path)
                         ? reinterpret_cast<winrt_bluetooth::ControlEntry>(component_.Symbol(winrt_bluetooth::kControlExport))
                         : nullptr;
        if (entry == nullptr) {
            error = "cannot load the Windows Runtime Bluetooth component " + path +
                    " (it comes with the Windows build: make demo ARGS=--windows)";
            return false;
        }
        radio_ = &entry()->Radio();
        return true;
    }
    auto entry = reinterpret_cast<sim::SimRadioEntry>(host_.Symbol(sim::kSimRadioExport));
    if (entry == nullptr) {
        error = "the driver in " + root + " has no simulated radio; the demo needs the build's pkg-sim package";
        return false;
    }
    radio_ = entry();
    return true;
}

bool DemoSession::StartBluez(std::string &error)
{
#if defined(TARVOLT_DEMO_BLUEZ)
    // The shipped library finds the system bus through DBUS_SYSTEM_BUS_ADDRESS, as in SteamVR's
    // container: here it is a bus of the demo's own, where the fake bluetoothd serves.
    bus_ = std::make_unique<sim::PrivateBus>();
    if (!bus_->Start(error))
        return false;
    bluez_ = std::make_unique<sim::FakeBluez>(bus_->Address());
    if (!bluez_->Start(error))
        return false;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_->Address().c_str(), 1);
    radio_ = bluez_.get();
    view_->AddNote("a fake bluetoothd serves org.bluez on a private bus at " + bus_->Address());
    return true;
#else
    error = "the BlueZ session needs the Linux build";
    return false;
#endif
}

bool DemoSession::Start(std::string &error)
{
    const std::string root = !options_.root.empty()
                                 ? options_.root
                                 : sim::SimHost::DefaultPackageRoot(!options_.windowsRuntime && !options_.bluez);
    if (options_.bluez && !StartBluez(error))
        return false;
    host_.Recorder().SetLogListener([this](const std::string &line) {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingLogs_.push_back(line);
        if (dropPending_ && line == "Device successfully connected.") {
            reconnectSeconds_ = std::chrono::duration<double>(sim::Clock::now() - dropTime_).count();
            dropPending_ = false;
        }
    });
    host_.Recorder().KeepPoseHistory(false);
    // The headset, the right-hand controller on the rifle and a left-hand controller, as the
    // runtime tracks them; vistrel reads them through the client library stand-in.
    if (!devices_.Start()) {
        error = "cannot publish the simulated tracked devices";
        return false;
    }
    vr::TrackedDevicePose_t hmd = ControllerPoseAt(0);
    hmd.mDeviceToAbsoluteTracking.m[0][3] = 0.0f;
    hmd.mDeviceToAbsoluteTracking.m[1][3] = 1.7f;
    hmd.mDeviceToAbsoluteTracking.m[2][3] = 0.0f;
    devices_.SetDevice(0, vr::TrackedDeviceClass_HMD, vr::TrackedControllerRole_Invalid, hmd);
    devices_.SetDevice(kRightHandIndex, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_RightHand, ControllerPoseAt(0));
    devices_.SetDevice(kLeftHandIndex, vr::TrackedDeviceClass_Controller, vr::TrackedControllerRole_LeftHand,
                       LeftControllerPose());
    view_->AddNote("loading the driver from " + root);
    if (!host_.Load(root)) {
        error = "cannot load the driver from " + root + ": " + host_.Error() + " (run `make build` first)";
        return false;
    }
    if (!FindRadio(root, error))
        return false;
    rifle_ = AddDevices(*radio_);
    if (host_.Init() != vr::VRInitError_None) {
        error = "the driver's Init failed";
        return false;
    }
    if (host_.Activate() != vr::VRInitError_None || host_.Recorder().Components().size() != 6) {
        error = "the driver's device did not activate with its six input components";
        return false;
    }
    return true;
}

void DemoSession::Drain()
{
    // The updates of the frames run so far first: a line that arrived meanwhile comes either
    // during a frame (and leads to updates of the next one) or after the script saw them.
    if (!view_->Live())
        PrintNewUpdates();
    // A note waits for the log lines that the driver had recorded before it; the listener
    // hands them over a moment after the script may have seen them.
    std::lock_guard<std::mutex> lock(mutex_);
    status_.step = step_;
    for (;;) {
        if (!pendingNotes_.empty() && pendingNotes_.front().logsBefore <= logsShown_) {
            view_->AddNote(pendingNotes_.front().text);
            pendingNotes_.pop_front();
        } else if (!pendingLogs_.empty()) {
            const std::string line = std::move(pendingLogs_.front());
            pendingLogs_.pop_front();
            ++logsShown_;
            status_.linkState = NextLinkState(status_.linkState, line);
            view_->AddLog(line);
            if (!view_->Live())
                view_->Show(status_);  // a link change comes right after the line that made it
        } else {
            break;
        }
    }
}

void DemoSession::PrintNewUpdates()
{
    const std::vector<sim::ComponentUpdate> updates = host_.Recorder().Updates();
    for (; updatesShown_ < updates.size(); ++updatesShown_) {
        const sim::ComponentUpdate &u = updates[updatesShown_];
        const std::string value = u.kind == sim::ComponentKind::Scalar ? std::to_string(u.scalarValue).substr(0, 3)
                                  : u.boolValue                        ? "pressed"
                                                                       : "released";
        view_->AddNote("frame " + std::to_string(u.frame) + ": " + u.name + " " + value);
    }
}

void DemoSession::Refresh(bool force)
{
    const uint64_t frame = host_.FramesRun();
    status_.frames = frame;
    const sim::Clock::time_point now = sim::Clock::now();
    while (!frameTimes_.empty() && now - frameTimes_.front() > std::chrono::seconds(1))
        frameTimes_.pop_front();
    status_.framesPerSecond = static_cast<double>(frameTimes_.size());
    const InputTally tally = TallyInputs(host_.Recorder().Updates());
    auto pressed = [&](const char *name) { return tally.pressed.count(name) ? tally.pressed.at(name) : false; };
    status_.fireClick = pressed(kFireClick);
    status_.fireValue = tally.fireValue;
    status_.ejectMag = pressed(kEjectMag);
    status_.loadMag = pressed(kLoadMag);
    status_.loadBullet = pressed(kLoadBullet);
    status_.unloadBullet = pressed(kUnloadBullet);
    status_.controller = Summarise(ControllerPoseAt(frame));
    sim::PoseRecord rifle;
    if (host_.Recorder().LastPose(rifle))
        status_.rifle = Summarise(rifle.standing);  // where applications see it, beside the controller
    // After the shutdown the table is gone; the counts taken before it stay.
    if (devices_.Running()) {
        const uint64_t passes = devices_.PoseQueries();
        if (passes > 0 && relayFirstPasses_ == 0) {
            relayFirstPasses_ = passes;
            relayFirstTime_ = now;
        }
        relayLastPasses_ = passes;
        relayLastTime_ = now;
    }
    status_.relayPasses = relayLastPasses_;
    if (view_->Live()) {
        view_->Show(status_);
        return;
    }
    if (force || frame >= lastPlainPoseFrame_ + kPlainPoseEveryFrames) {
        lastPlainPoseFrame_ = frame;
        char rate[64];
        std::snprintf(rate, sizeof rate, "frame %llu, %.0f fps", static_cast<unsigned long long>(frame),
                      status_.framesPerSecond);
        view_->AddNote(std::string(rate) + "; controller " + PoseText(status_.controller) + "; rifle " +
                       (status_.rifle.present ? PoseText(status_.rifle) : "(no pose yet)"));
    }
}

} // namespace demo
