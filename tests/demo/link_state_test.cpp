// The link state that the demo shows is followed from the driver's log lines alone.
#include "LinkState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Change {
    std::string from;
    std::vector<std::string> lines;
    const char *to;
};

// Catches: a link shown as connected before its subscription succeeded, or never; a stale state
// after any of the link's other lines (also with a repeat count); and lines about other devices or
// data taken for link changes.
TEST(DemoLinkState, FollowsTheLinksLines)
{
    const std::string service = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
    const std::vector<std::string> connecting = {
        "Tarvolt Running", "Starting the advertisement watcher.", "Found device: Rifle Q508 (Address: 1)",
        "Target device found.", "Watcher stopped.", "Connecting to device: 1", "Connected to device: Rifle Q508",
        "Found GATT service: " + service};
    const std::string lost = "Disconnected from device: Rifle Q508";
    const Change changes[] = {
        {demo::kLinkNotStarted, connecting, "connecting: services"},
        {"connecting: services", {"Device successfully connected."}, "connected"},
        {"connected", {lost}, "link lost"},
        {"connected", {lost, "Received data: 91 0 0 0 0 93 END", "Device connection lost."}, "link lost, scanning again"},
        {"connected", {"Device connection lost.", "Starting the advertisement watcher."}, "scanning"},
        {"scanning", {"Found connected device: Rifle Q508 (Address: 1)"}, "rifle found among the connected devices"},
        {"link lost, scanning again", {"The system restored the connection."}, "link restored by the system"},
        {"connecting", {"Retrying the GATT service query. (repeated 3 times)"}, "connecting: retrying the services"},
        {"connecting", {"GATT service not in the cached answer; asking the device."},
         "connecting: asking the rifle for services"},
        {"connecting: services", {"Retrying the characteristics query for service: {0000FFF0}"},
         "connecting: retrying the characteristics"},
        {"subscribing", {"Retrying the subscription to characteristic: {0000FFF1}"}, "subscribing: retrying"},
        {"connected", {"Connection status reads disconnected."}, "link lost"},
        {"scanning", {"The advertisement watcher did not start. (repeated 7 times)"}, "scan not started, trying again"},
        {"scanning", {"Failed to start the advertisement watcher."}, "scan not started, trying again"},
        {"scanning", {"The advertisement watcher ended without notice."}, "scan ended, starting it again"},
        {"scanning", {"No advertisement heard for 30 seconds; starting a new advertisement watcher."},
         "scan hears nothing, starting a new one"},
        {"scan not started, trying again", {"Starting the advertisement watcher. (repeated 2 times)"}, "scanning"},
        {"connecting", {"Failed to connect to device: 5"}, "connection failed, scanning again"},
        {"connecting", {"Failed to get GATT services."}, "connection failed, scanning again"},
        {"connecting", {"Target characteristic not found."}, "connection failed, scanning again"},
        {"connecting", {"Target device address is invalid."}, "connection failed, scanning again"},
    };
    for (const Change &c : changes) {
        std::string state = c.from;
        for (const std::string &line : c.lines)
            state = demo::NextLinkState(state, line);
        EXPECT_EQ(state, c.to) << c.lines.back();
    }
    for (const std::string other : {"Found device: Desk Lamp (Address: 9)", "Received data: END", "Watcher stopped.",
                                    "Connected to device: Rifle Q508", "Vistrel process started.",
                                    "The system did not restore the connection.",
                                    "Failed to list the connected devices.", "BlueZ: StartNotify failed"})
        EXPECT_EQ(demo::NextLinkState("connected", other), "connected") << other;
}

} // namespace
