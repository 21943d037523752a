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

// Catches: a failed connection shown as still connecting, and lines about other devices or
// data taken for link changes.
TEST(DemoLinkState, ShowsFailuresAndIgnoresOtherLines)
{
    for (const std::string failure : {"Failed to connect to device: 5", "Failed to get GATT services.",
                                      "Target characteristic not found.", "Target device address is invalid."})
        EXPECT_EQ(After({failure}, "connecting"), "connection failed, scanning again") << failure;
    for (const std::string other : {"Found device: Desk Lamp (Address: 9)", "Received data: END", "Watcher stopped.",
                                    "Connected to device: Rifle Q508", "Vistrel process started."})
        EXPECT_EQ(After({other}, "connected"), "connected") << other;
}

} // namespace
