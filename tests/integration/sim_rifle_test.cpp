// End to end in the simulated host: the driver built with the simulated radio, loaded from its
// package as the runtime loads it, finds the rifle, connects, subscribes, turns its
// notifications into button pulses and comes back after a lost link on its own.
#include "DriverUnderTest.h"
#include "LinkLog.h"
#include "RadioControl.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kLimit = 20s;  // only ever reached by a failing test

// The updates of one component in one frame.
std::vector<sim::ComponentUpdate> UpdatesOf(const sim::HostRecorder &recorder, const std::string &name, uint64_t frame)
{
    std::vector<sim::ComponentUpdate> out;
    for (const sim::ComponentUpdate &u : recorder.Updates())
        if (u.name == name && u.frame == frame)
            out.push_back(u);
    return out;
}

size_t UpdateCount(const sim::HostRecorder &recorder, const std::string &name)
{
    size_t n = 0;
    for (const sim::ComponentUpdate &u : recorder.Updates())
        n += u.name == name ? 1 : 0;
    return n;
}

// Catches: a driver variant that does not reach the rifle, a notification that does not become
// a press at the next frame or is not released 21 frames later, and a link that does not come
// back after a drop without anyone's help.
TEST(SimulatedRifle, IsFoundConnectedPressedAndReconnected)
{
    sim::SimHost host;
    testing_support::PrepareHost(host, true);
    auto entry = reinterpret_cast<sim::SimRadioEntry>(host.Symbol(sim::kSimRadioExport));
    ASSERT_NE(entry, nullptr);
    sim::RadioControl &radio = *entry();
    const int rifle = radio.AddPeripheral(sim::RifleScript(0xAABBCCDDEEFFull));
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    sim::HostRecorder &recorder = host.Recorder();
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit));
    const std::string service = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
    const std::string characteristic = "{0000FFF1-0000-1000-8000-00805F9B34FB}";
    std::vector<std::string> lines;
    for (const std::string &line : testing_support::LinkLines(recorder.LogTexts()))
        if (line != "Watcher stopped." && line.rfind("Connected to device: ", 0) != 0)
            lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Tarvolt Running", "Starting the advertisement watcher.",
                         "Found device: Rifle Q508 (Address: 187723572702975)", "Target device found.",
                         "Connecting to device: 187723572702975", "Found GATT service: " + service,
                         "Subscribing to characteristic: " + characteristic,
                         "Successfully subscribed to notifications for characteristic: " + characteristic,
                         "Device successfully connected."}));

    // The click and, for fire, its value in exactly one update each in that frame.
    const auto expectIn = [&](const char *button, uint64_t frame, bool pressed) {
        const auto click = UpdatesOf(recorder, std::string("/input/") + button + "/click", frame);
        ASSERT_EQ(click.size(), 1u) << button << " @" << frame;
        EXPECT_EQ(click[0].boolValue, pressed) << button << " @" << frame;
        if (std::string(button) == "fire") {
            const auto value = UpdatesOf(recorder, "/input/fire/value", frame);
            ASSERT_EQ(value.size(), 1u) << frame;
            EXPECT_EQ(value[0].scalarValue, pressed ? 1.0f : 0.0f) << frame;
        }
    };
    host.RunFrames(3);
    radio.Notify(rifle, {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D});
    ASSERT_TRUE(recorder.WaitForLog("Received data: 91 0 0 0 0 93 END", kLimit));
    host.RunFrame();
    const uint64_t press = host.FramesRun();
    expectIn("fire", press, true);
    host.RunFrames(20);
    EXPECT_EQ(UpdateCount(recorder, "/input/fire/click"), 1u);
    host.RunFrame();
    expectIn("fire", press + 21, false);

    radio.Drop(rifle);
    ASSERT_TRUE(recorder.WaitForLog("Device successfully connected.", kLimit, 2));
    EXPECT_EQ(recorder.CountLog("Disconnected from device: Rifle Q508"), 1u);
    EXPECT_EQ(recorder.CountLog("Device connection lost."), 1u);
    radio.Notify(rifle, {0x60, 0x00, 0x60, 0x5D});
    ASSERT_TRUE(recorder.WaitForLog("Received data: 96 0 96 93 END", kLimit));
    host.RunFrame();
    expectIn("unload_bullet", host.FramesRun(), true);

    host.Deactivate();
    EXPECT_EQ(radio.Stats().attachedHandlers, 0);
    EXPECT_EQ(radio.Stats().scanning, 0);
    host.Shutdown();  // cleans up and unloads the library as the runtime does: nothing is stopped first
}

} // namespace
