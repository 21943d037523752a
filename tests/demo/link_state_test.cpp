// The link state that the demo shows is followed from the driver's log lines alone.
#include "LinkState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string After(const std::vector<std::string> &lines, std::string state = demo::kLinkNotStarted)
{
    for (const std::string &line : lines)
        state = demo::NextLinkState(state, line);
    return state;
}

// Catches: a connection that the view never shows as connected, or shows as connected before
// the subscription succeeded (the handler's "Connected to device: " line comes earlier).
TEST(DemoLinkState, FollowsAConnectionToConnectedOnlyAtItsEnd)
{
    const std::string service = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
    std::vector<std::string> lines = {"Tarvolt Running", "Starting the advertisement watcher.",
                                      "Found device: Rifle Q508 (Address: 1)", "Target device found.",
                                      "Watcher stopped.", "Connecting to device: 1", "Connected to device: Rifle Q508",
                                      "Found GATT service: " + service};
    EXPECT_EQ(After(lines), "connecting: services");
    lines.push_back("Device successfully connected.");
    EXPECT_EQ(After(lines), "connected");
}

// Catches: a lost link that still shows as connected (the handler's line starts with
// "Disconnected", not with the connected line), and a view stuck on "lost" after the rescan.
TEST(DemoLinkState, ShowsALostLinkUntilTheScanStartsAgain)
{
    EXPECT_EQ(After({"Disconnected from device: Rifle Q508"}, "connected"), "link lost");
    EXPECT_EQ(After({"Disconnected from device: Rifle Q508", "Received data: 91 0 0 0 0 93 END",
                     "Device connection lost."},
                    "connected"),
              "link lost, scanning again");
    EXPECT_EQ(After({"Device connection lost.", "Starting the advertisement watcher."}, "connected"), "scanning");
}

// Catches: the link's other ways to the rifle and its other troubles not shown (a stale state
// instead): a rifle found connected or restored by the system, steps retried or asked of the
// rifle, a drop noticed without its event, a scan that fails, ends or hears nothing; a line the
// driver's repeat limiter brings back with its count missed.
TEST(DemoLinkState, FollowsTheLinksOtherWays)
{
    const char *const kCases[][3] = {
        {"scanning", "Found connected device: Rifle Q508 (Address: 1)", "rifle found among the connected devices"},
        {"link lost, scanning again", "The system restored the connection.", "link restored by the system"},
        {"connecting", "Retrying the GATT service query. (repeated 3 times)", "connecting: retrying the services"},
        {"connecting", "GATT service not in the cached answer; asking the device.",
         "connecting: asking the rifle for services"},
        {"connecting: services", "Retrying the characteristics query for service: {0000FFF0}",
         "connecting: retrying the characteristics"},
        {"subscribing", "Retrying the subscription to characteristic: {0000FFF1}", "subscribing: retrying"},
        {"connected", "Connection status reads disconnected.", "link lost"},
        {"scanning", "The advertisement watcher did not start. (repeated 7 times)", "scan not started, trying again"},
        {"scanning", "Failed to start the advertisement watcher.", "scan not started, trying again"},
        {"scanning", "The advertisement watcher ended without notice.", "scan ended, starting it again"},
        {"scanning", "No advertisement heard for 30 seconds; starting a new advertisement watcher.",
         "scan hears nothing, starting a new one"},
        {"scan not started, trying again", "Starting the advertisement watcher. (repeated 2 times)", "scanning"},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(After({c[1]}, c[0]), c[2]) << c[1];
}

// Catches: a failed connection shown as still connecting, and lines about other devices or
// data taken for link changes.
TEST(DemoLinkState, ShowsFailuresAndIgnoresOtherLines)
{
    for (const std::string failure : {"Failed to connect to device: 5", "Failed to get GATT services.",
                                      "Target characteristic not found.", "Target device address is invalid."})
        EXPECT_EQ(After({failure}, "connecting"), "connection failed, scanning again") << failure;
    for (const std::string other : {"Found device: Desk Lamp (Address: 9)", "Received data: END", "Watcher stopped.",
                                    "Connected to device: Rifle Q508", "Vistrel process started.",
                                    "The system did not restore the connection.",
                                    "Failed to list the connected devices.", "BlueZ: StartNotify failed"})
        EXPECT_EQ(After({other}, "connected"), "connected") << other;
}

} // namespace
