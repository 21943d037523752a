#include "DemoScript.h"

#include "DemoPoses.h"
#include "DemoSession.h"
#include "InputTally.h"

#include <functional>

namespace demo {

namespace {

// A pause that lets a watcher see each step; counted in frames, not on the clock.
constexpr uint64_t kPauseFrames = 120;
// The second trigger pull comes this many frames into the first one's pulse.
constexpr uint64_t kFramesIntoPulse = 4;

// Other devices that advertise near the server; one has no name, which the driver does not log.
const std::u16string kOtherNames[] = {u"Living Room TV", u"HR Strap 4417", u"Desk Lamp", u""};
const std::string kOtherNamesUtf8[] = {"Living Room TV", "HR Strap 4417", "Desk Lamp"};
constexpr uint64_t kRifleAddress = 0xC4A1B2030405ull;

std::string ReceivedLine(const std::vector<uint8_t> &bytes)
{
    std::string line = "Received data: ";
    for (uint8_t b : bytes)
        line += std::to_string(b) + " ";
    return line + "END";
}

InputTally Tally(DemoSession &s) { return TallyInputs(s.Recorder().Updates()); }

// Waits for what the driver does; false when the limit passed or the session is ending.
bool WaitFor(DemoSession &s, const std::function<bool()> &condition)
{
    return s.Recorder().WaitUntil([&] { return s.Ending() || condition(); }, kStepLimit) && !s.Ending();
}

bool WaitForLog(DemoSession &s, const std::string &line, size_t count)
{
    return WaitFor(s, [&] { return s.Recorder().CountLog(line) >= count; });
}

bool Pause(DemoSession &s, uint64_t frames)
{
    return s.Gate().WaitForFrames(s.Gate().FramesRun() + frames, kStepLimit);
}

// One action, from the notification to the end of the press it makes.
std::string PressAndRelease(DemoSession &s, const RifleAction &action)
{
    s.SetStep(action.what);
    s.Note(action.what);
    const InputTally before = Tally(s);
    const size_t logged = s.Recorder().CountLog(ReceivedLine(action.bytes));
    s.Radio().Notify(s.Rifle(), action.bytes);
    if (!WaitForLog(s, ReceivedLine(action.bytes), logged + 1))
        return std::string("the driver did not log the rifle's \"") + action.what + "\" notification";
    const std::string name = action.component;
    if (!WaitFor(s, [&] { return Tally(s).Releases(name) > before.Releases(name); }))
        return name + " was not pressed and released";
    const InputTally after = Tally(s);
    if (after.Presses(name) != before.Presses(name) + 1)
        return name + " was pressed " + std::to_string(after.Presses(name) - before.Presses(name)) +
               " times for one action";
    const uint64_t length = after.lastReleaseFrame.at(name) - after.lastPressFrame.at(name);
    s.Note(name + " pressed for " + std::to_string(length) + " frames");
    return Pause(s, kPauseFrames) ? "" : "the frames stopped";
}

// Two trigger pulls, the second while the first one's pulse runs: the driver drops it. The
// frames are held while each notification arrives, so the second one lands inside the pulse on
// any machine.
std::string DoubleFire(DemoSession &s)
{
    const RifleAction &fire = RifleActions()[0];
    const std::string line = ReceivedLine(fire.bytes);
    s.SetStep("two trigger pulls in quick succession");
    s.Note("two trigger pulls in quick succession: the second comes " + std::to_string(kFramesIntoPulse) +
           " frames into the first one's press");
    const InputTally before = Tally(s);
    size_t logged = s.Recorder().CountLog(line);
    if (!s.Gate().Hold(kStepLimit))
        return "the frames could not be held";
    s.Radio().Notify(s.Rifle(), fire.bytes);
    const bool first = WaitForLog(s, line, ++logged) && s.Gate().Step(kFramesIntoPulse, kStepLimit);
    s.Radio().Notify(s.Rifle(), fire.bytes);
    const bool second = first && WaitForLog(s, line, ++logged);
    s.Gate().Release();
    if (!first || !second)
        return "the driver did not log both trigger pulls";
    if (!WaitFor(s, [&] { return Tally(s).Releases(kFireClick) > before.Releases(kFireClick); }))
        return "the trigger's press did not end";
    // A pending second event would begin a new press in the frame after the release.
    const uint64_t released = Tally(s).lastReleaseFrame.at(kFireClick);
    if (!s.Gate().WaitForFrames(released + 2, kStepLimit))
        return "the frames stopped";
    const int presses = Tally(s).Presses(kFireClick) - before.Presses(kFireClick);
    if (presses != 1)
        return "two trigger pulls inside one press made " + std::to_string(presses) + " presses, not 1";
    s.Note("two pulls, one press: the pull inside the running press was dropped");
    return Pause(s, kPauseFrames) ? "" : "the frames stopped";
}

std::string FollowController(DemoSession &s)
{
    s.SetStep("vistrel relays the controller's pose");
    sim::PoseRecord rifle{};
    if (!WaitFor(s, [&] { return s.Recorder().LastPose(rifle) && RifleFollowsController(rifle.standing, rifle.frame); }))
        return "the rifle, as applications see it, does not follow the right-hand controller (is vistrel running?)";
    s.Note("vistrel relays the right-hand controller: the rifle's pose is the controller's, 0.25 m along its axis");
    return "";
}

std::string SwitchHands(DemoSession &s)
{
    s.SetStep("a left-handed player: poseSource = left_hand");
    s.Note("the driver's setting poseSource becomes \"left_hand\" while SteamVR runs");
    s.SetPoseSource("left_hand");
    sim::PoseRecord rifle{};
    if (!WaitFor(s, [&] { return s.Recorder().LastPose(rifle) && RifleFollowsLeftController(rifle.standing); }))
        return "the rifle does not follow the left-hand controller after poseSource became \"left_hand\"";
    s.Note("vistrel read the setting and relays the left-hand controller");
    if (!Pause(s, kPauseFrames))
        return "the frames stopped";
    s.SetPoseSource("right_hand");
    if (!WaitFor(s, [&] { return s.Recorder().LastPose(rifle) && RifleFollowsController(rifle.standing, rifle.frame); }))
        return "the rifle does not follow the right-hand controller again after poseSource became \"right_hand\"";
    s.Note("back to the right hand");
    return "";
}

std::string DropAndReturn(DemoSession &s)
{
    s.SetStep("the link drops and comes back");
    s.Note("the rifle's link drops; the driver scans again and reconnects on its own");
    sim::HostRecorder &r = s.Recorder();
    const size_t connected = r.CountLog("Device successfully connected.");
    const size_t lost = r.CountLog("Device connection lost.");
    s.DropLink();
    if (!WaitForLog(s, "Device connection lost.", lost + 1))
        return "the driver did not notice the lost link";
    if (!WaitForLog(s, "Device successfully connected.", connected + 1))
        return "the rifle did not reconnect";
    s.Note("the rifle is back");
    return Pause(s, kPauseFrames) ? "" : "the frames stopped";
}

} // namespace

const std::vector<RifleAction> &RifleActions()
{
    static const std::vector<RifleAction> actions = {
        {'f', "pulling the trigger", kFireClick, {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}},
        {'e', "ejecting the magazine", kEjectMag, {0x5C, 0x00, 0x5C, 0x5D}},
        {'m', "loading a magazine", kLoadMag, {0x5C, 0x01, 0x5D, 0x5D}},
        {'b', "loading a bullet", kLoadBullet, {0x60, 0x01, 0x61, 0x5D}},
        {'u', "unloading the bullet", kUnloadBullet, {0x60, 0x00, 0x60, 0x5D}},
    };
    return actions;
}

const RifleAction *ActionForKey(int key)
{
    for (const RifleAction &action : RifleActions())
        if (key == action.key || (key == ' ' && action.key == 'f'))
            return &action;
    return nullptr;
}

int AddDevices(sim::RadioControl &radio)
{
    // Advertisements every quarter second keep the log readable while the driver scans.
    radio.SetAdvertiseInterval(std::chrono::milliseconds(250));
    uint64_t address = 0x5A0000000001ull;
    for (const std::u16string &name : kOtherNames) {
        sim::PeripheralScript device;
        device.name = name;
        device.address = address++;
        device.connectable = false;
        radio.AddPeripheral(device);
    }
    sim::PeripheralScript rifle = sim::RifleScript(kRifleAddress);
    rifle.advertising = false;
    return radio.AddPeripheral(rifle);
}

std::string BringRifleUp(DemoSession &s)
{
    sim::HostRecorder &r = s.Recorder();
    s.SetStep("scanning: other Bluetooth devices nearby, the rifle is still off");
    for (const std::string &name : kOtherNamesUtf8)
        if (!WaitFor(s, [&] { return r.CountLogPrefix("Found device: " + name + " (") > 0; }))
            return "the driver did not report the device \"" + name + "\" nearby";
    if (!Pause(s, kPauseFrames))
        return "the frames stopped";
    s.SetStep("the rifle is switched on and advertises");
    s.Note("the rifle is switched on and advertises as \"Rifle Q508\"");
    s.Radio().SetAdvertising(s.Rifle(), true);
    if (!WaitForLog(s, "Device successfully connected.", 1))
        return "the rifle was not found, connected and subscribed";
    s.Note("the rifle is connected and subscribed");
    return Pause(s, kPauseFrames) ? "" : "the frames stopped";
}

std::string RunScript(DemoSession &s)
{
    std::string failure = FollowController(s);
    if (failure.empty())
        failure = BringRifleUp(s);
    for (const RifleAction &action : RifleActions())
        if (failure.empty())
            failure = PressAndRelease(s, action);
    if (failure.empty())
        failure = DoubleFire(s);
    if (failure.empty())
        failure = SwitchHands(s);
    if (failure.empty())
        failure = DropAndReturn(s);
    if (failure.empty())
        failure = PressAndRelease(s, RifleActions()[0]);
    if (failure.empty()) {
        s.SetStep("done");
        if (!Pause(s, kPauseFrames))
            failure = "the frames stopped";
    }
    return failure;
}

void Perform(DemoSession &s, const RifleAction &action)
{
    s.Note(action.what);
    s.Radio().Notify(s.Rifle(), action.bytes);
}

} // namespace demo
