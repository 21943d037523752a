// tarvolt-probe's test build on the simulated radio, run as a program (natively and under Wine):
// what a user sees of a scan and a watch, in text and JSON, and its exit codes.
#include "ProbeProgram.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

using namespace probe_test;
using nlohmann::json;

const std::string kRifle = "rifle AA:BB:CC:DD:EE:FF -55";

// Every line a JSON object; the objects in order.
std::vector<json> Objects(const std::vector<std::string> &lines)
{
    std::vector<json> out;
    for (const std::string &line : lines) {
        json object = json::parse(line, nullptr, false);
        EXPECT_TRUE(object.is_object()) << line;
        out.push_back(object);
    }
    return out;
}

// Catches: a device listed again at each of its advertisements (several a second), a device
// without a name dropped or left blank, the rifle not marked, and a verdict that is not the
// last line or misses the rifle's address and signal strength.
TEST(ProbeScan, ListsEachDeviceOnceAndMarksTheRifle)
{
    Probe probe;
    ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", "scan", "--seconds", "600"},
                            {kRifle, "device 11:22:33:44:55:66 -80 Desk Lamp", "device 11:22:33:44:55:77 -90"}));
    ASSERT_TRUE(probe.WaitFor("  device  ", 3));
    probe.Send("interrupt");
    EXPECT_EQ(probe.Exit(), 0);
    const std::vector<std::string> report = probe.Report();
    ASSERT_EQ(report.size(), 5u);
    EXPECT_EQ(report[0], "Scanning for Bluetooth LE devices for 600 s (the rifle advertises as \"Rifle Q508\"); "
                         "Ctrl-C to stop early.");
    EXPECT_EQ(probe.Count("device  AA:BB:CC:DD:EE:FF   -55 dBm  Rifle Q508  <- the rifle"), 1u);
    EXPECT_EQ(probe.Count("device  11:22:33:44:55:66   -80 dBm  Desk Lamp"), 1u);
    EXPECT_EQ(probe.Count("device  11:22:33:44:55:77   -90 dBm  (no name)"), 1u);
    EXPECT_EQ(report.back(), "Found the rifle: \"Rifle Q508\" at AA:BB:CC:DD:EE:FF, -55 dBm (3 devices heard, stopped "
                             "early by Ctrl-C). It advertises, so the driver can connect to it.");
    EXPECT_EQ(probe.Lines().back(), kNothingLeft);
}

// Catches: JSON lines that do not parse (a script reading a bug report gives up), a missing
// name given as an empty string, and a verdict without its result and exit code.
TEST(ProbeScan, JsonIsOneObjectPerLine)
{
    Probe probe;
    ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", "--json", "scan", "--seconds=600"},
                            {kRifle, "device 11:22:33:44:55:77 -90"}));
    ASSERT_TRUE(probe.WaitFor("\"event\":\"device\"", 2));
    probe.Send("interrupt");
    EXPECT_EQ(probe.Exit(), 0);
    const std::vector<json> objects = Objects(probe.Report());
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_EQ(objects[0].at("event"), "begin");
    EXPECT_EQ(objects[0].at("seconds"), 600);
    for (const json &device : {objects[1], objects[2]}) {
        EXPECT_EQ(device.at("event"), "device");
        EXPECT_TRUE(device.at("t").is_number());
        if (device.at("address") == "AA:BB:CC:DD:EE:FF") {
            EXPECT_EQ(device.at("name"), "Rifle Q508");
            EXPECT_EQ(device.at("rssi"), -55);
            EXPECT_EQ(device.at("rifle"), true);
        } else {
            EXPECT_TRUE(device.at("name").is_null());
            EXPECT_EQ(device.at("rifle"), false);
        }
    }
    EXPECT_EQ(objects[3].at("event"), "verdict");
    EXPECT_EQ(objects[3].at("result"), "found");
    EXPECT_EQ(objects[3].at("exit_code"), 0);
    EXPECT_EQ(objects[3].at("devices"), 2);
}

// Catches: a machine whose Bluetooth cannot be used reported as "rifle not found" (exit 1), the
// reason left out, or a watch that starts its worker anyway.
TEST(ProbeNoBluetooth, EachReasonIsNamedWithExitCode2)
{
    const std::pair<const char *, const char *> reasons[] = {
        {"no-adapter", "no_adapter"},
        {"adapter-off", "adapter_off"},
        {"stack-missing", "stack_missing"},
        {"classes-unavailable", "classes_unavailable"},
    };
    for (const auto &reason : reasons) {
        for (const char *command : {"scan", "watch"}) {
            Probe probe;
            ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", "--json", command}, {kRifle, reason.first}));
            EXPECT_EQ(probe.Exit(), 2) << reason.first << " " << command;
            const std::vector<json> objects = Objects(probe.Report());
            ASSERT_EQ(objects.size(), 2u) << reason.first << " " << command;
            EXPECT_EQ(objects[1].at("result"), "no_bluetooth");
            EXPECT_EQ(objects[1].at("reason"), reason.second);
            EXPECT_TRUE(Contains(objects[1].at("message"), "No usable Bluetooth: ")) << objects[1].at("message");
        }
    }
    Probe text;
    ASSERT_TRUE(text.Start(SimProbe(), {"--sim", "scan"}, {"adapter-off"}));
    EXPECT_EQ(text.Exit(), 2);
    EXPECT_TRUE(Contains(text.Report().back(), "No usable Bluetooth: the Bluetooth adapter is off")) << text.Report().back();
}

// Catches: a scan or watch without the rifle that exits 0, or that does not end when its time is
// up; SteamVR's state missing from the verdict (its server is the simulated one here, under the
// same process name); and a rifle that SteamVR's driver holds (connected, so silent) reported as
// not found instead of found among the connected devices.
TEST(ProbeNotFound, SaysSoInTimeAndWhetherSteamVrHoldsTheRifle)
{
    for (const char *command : {"scan", "watch"}) {
        Probe probe;
        ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", command, "--seconds", "1"}, {"device 11:22:33:44:55:77 -90 Phone"}));
        EXPECT_EQ(probe.Exit(), 1) << command;
        const std::string verdict = probe.Report().back();
        EXPECT_TRUE(Contains(verdict, "The rifle was not found")) << verdict;
        EXPECT_TRUE(Contains(verdict, "Switch the rifle on")) << verdict;
    }

    testing_support::ProgramRun steamVr;
    ASSERT_TRUE(steamVr.Start(testing_support::ProgramIn(sim::ExecutableDirectory(), "vrserver"),
                              {"--no-driver", "--no-devices", "--until-eof"}));
    ASSERT_TRUE(steamVr.WaitForLine("vrserver running without a driver", kLimit));
    Probe probe;
    ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", "--json", "scan", "--seconds", "1"}, {"ready"}));
    EXPECT_EQ(probe.Exit(), 1);
    const json verdict = json::parse(probe.Report().back());
    EXPECT_EQ(verdict.at("steamvr_running"), true);
    EXPECT_TRUE(Contains(verdict.at("message"), "SteamVR is running")) << verdict.at("message");
    Probe held;
    ASSERT_TRUE(held.Start(SimProbe(), {"--sim", "--json", "scan", "--seconds", "1"}, {kRifle, "hold 0"}));
    EXPECT_EQ(held.Exit(), 0);
    const std::vector<json> objects = Objects(held.Report());
    ASSERT_EQ(objects.size(), 3u);  // begin, the rifle as a connected device (it advertises no more), verdict
    EXPECT_EQ(objects[1].at("rifle"), true);
    EXPECT_EQ(objects[1].at("connected"), true);
    EXPECT_EQ(objects[2].at("result"), "found");
    EXPECT_EQ(objects[2].at("connected"), true);
    EXPECT_TRUE(Contains(objects[2].at("message"), "its driver most likely holds it")) << objects[2].at("message");
    steamVr.CloseStdin();
    EXPECT_EQ(steamVr.WaitForExit(kLimit), 0);
}

// Catches: actions named wrongly or without their bytes, a notification the driver ignores not
// shown as unknown, a drop that is not shown or not followed by a reconnection, and a watch that
// ends without releasing the rifle.
TEST(ProbeWatch, ShowsActionsLinkChangesAndAReconnection)
{
    Probe probe;
    ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", "watch"}, {kRifle}));
    ASSERT_TRUE(probe.WaitFor("  state   connected and subscribed (AA:BB:CC:DD:EE:FF)"));
    for (const char *bytes : {"5B 12 34 56 78 5D", "5C 00 5C 5D", "5C 01 5D 5D", "60 01 61 5D", "60 00 60 5D", "5C 02 5E 5D", ""})
        probe.Send(std::string("notify 0 ") + bytes);
    ASSERT_TRUE(probe.WaitFor("  action  ", 7));
    probe.Send("drop 0");
    ASSERT_TRUE(probe.WaitFor("  state   connected and subscribed", 2));
    probe.Send("interrupt");
    EXPECT_EQ(probe.Exit(), 0);

    std::vector<std::string> actions, changes;
    for (const std::string &line : probe.Report()) {
        // "   1.234 s  kind    ...": the time since the start, then the event.
        if (line.size() > 12 && line.compare(8, 4, " s  ") == 0) {
            (line.compare(12, 8, "action  ") == 0 ? actions : changes).push_back(line.substr(12));
        }
    }
    EXPECT_EQ(actions, (std::vector<std::string>{
                           "action  fire  5B 12 34 56 78 5D", "action  eject magazine  5C 00 5C 5D",
                           "action  load magazine  5C 01 5D 5D", "action  load bullet  60 01 61 5D",
                           "action  unload bullet  60 00 60 5D", "action  unknown  5C 02 5E 5D",
                           "action  unknown  (no bytes)"}));
    EXPECT_NE(std::find(changes.begin(), changes.end(), "link    Disconnected from device: Rifle Q508"), changes.end());
    EXPECT_NE(std::find(changes.begin(), changes.end(), "state   connection lost"), changes.end());
    EXPECT_EQ(probe.Count("link    Device successfully connected."), 2u);
    EXPECT_EQ(probe.Count("Received data: "), 0u);  // shown as actions instead
    EXPECT_EQ(probe.Report().back(), "Stopped by Ctrl-C. The rifle connected 2 times and sent 7 actions (2 not recognised).");
    EXPECT_EQ(probe.Lines().back(), kNothingLeft);
}

// Catches: watch events that do not parse as JSON, or that lose the state a script follows
// (connection lost between the two connections) or the action's bytes.
TEST(ProbeWatch, JsonEventsForScripts)
{
    Probe probe;
    // The rifle advertises only once the scan runs, so that its find cannot overtake the
    // worker's report of the scan (the worker reports the states it finds at its passes).
    ASSERT_TRUE(probe.Start(SimProbe(), {"--json", "--sim", "watch"}, {kRifle, "advertise 0 off"}));
    ASSERT_TRUE(probe.WaitFor("\"state\":\"scanning\""));
    probe.Send("advertise 0 on");
    ASSERT_TRUE(probe.WaitFor("\"state\":\"connected\""));
    probe.Send("notify 0 5B 00 00 00 00 5D");
    ASSERT_TRUE(probe.WaitFor("\"event\":\"action\""));
    probe.Send("advertise 0 off");
    probe.Send("drop 0");
    ASSERT_TRUE(probe.WaitFor("\"state\":\"scanning\"", 2));
    probe.Send("advertise 0 on");
    ASSERT_TRUE(probe.WaitFor("\"state\":\"connected\"", 2));
    probe.Send("interrupt");
    EXPECT_EQ(probe.Exit(), 0);

    std::vector<std::string> states;
    const std::vector<json> objects = Objects(probe.Report());
    for (const json &object : objects) {
        if (object.at("event") == "state")
            states.push_back(object.at("state"));
        if (object.at("event") == "action") {
            EXPECT_EQ(object.at("action"), "fire");
            EXPECT_EQ(object.at("bytes"), "5B 00 00 00 00 5D");
        }
    }
    EXPECT_EQ(states, (std::vector<std::string>{"starting_scan", "scanning", "rifle_found", "connected",
                                                "connection_lost", "starting_scan", "scanning", "rifle_found",
                                                "connected"}));
    const json &verdict = objects.back();
    EXPECT_EQ(verdict.at("result"), "connected");
    EXPECT_EQ(verdict.at("exit_code"), 0);
    EXPECT_EQ(verdict.at("connections"), 2);
    EXPECT_EQ(verdict.at("actions"), 1);
    EXPECT_EQ(verdict.at("interrupted"), true);
}

// Catches: a device that has the rifle's name but not its service counted as connected, and a
// verdict that does not point at the step that failed.
TEST(ProbeWatch, ADeviceWithoutTheServiceIsFoundButNeverConnected)
{
    Probe probe;
    ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", "watch"}, {"rifle-without-service AA:BB:CC:DD:EE:FF"}));
    ASSERT_TRUE(probe.WaitFor("link    Target characteristic not found.", 2));
    probe.Send("interrupt");
    EXPECT_EQ(probe.Exit(), 1);
    EXPECT_TRUE(Contains(probe.Report().back(), "The rifle was found but never connected")) << probe.Report().back();
    EXPECT_EQ(probe.Count("state   connected"), 0u);
    EXPECT_EQ(probe.Lines().back(), kNothingLeft);
}

// Catches: a watch that connected but heard nothing told with a wrong count ("0 action"), and
// one that ends without letting go of the rifle.
TEST(ProbeWatch, CtrlCEndsTheWatchAndReleasesTheRifle)
{
    Probe probe;
    ASSERT_TRUE(probe.Start(SimProbe(), {"--sim", "watch"}, {kRifle}));
    ASSERT_TRUE(probe.WaitFor("state   connected and subscribed"));
    probe.Send("interrupt");
    EXPECT_EQ(probe.Exit(), 0);
    EXPECT_EQ(probe.Report().back(), "Stopped by Ctrl-C. The rifle connected 1 time and sent 0 actions.");
    EXPECT_EQ(probe.Lines().back(), kNothingLeft);
}

// Catches: bad arguments that start a scan or a watch, or exit with another code than 64 or
// without saying what is wrong; --sim accepted by the shipped program; --help that leaves out a
// command, an option or an exit code.
TEST(ProbeArguments, BadArgumentsExit64AndHelpListsEverything)
{
    const std::vector<std::vector<std::string>> bad = {
        {}, {"scan", "--seconds", "0"}, {"watch", "--seconds", "abc"}, {"scan", "--seconds"}, {"scan", "watch"},
        {"frobnicate"}, {"scan", "--verbose"}, {"--sim", "scan"}};
    for (const std::vector<std::string> &args : bad) {
        Probe probe;
        ASSERT_TRUE(probe.Start(ShippedProbe(), args));
        EXPECT_EQ(probe.Exit(), 64) << testing::PrintToString(args);
        ASSERT_FALSE(probe.Lines().empty());
        EXPECT_EQ(probe.Lines()[0].rfind("tarvolt-probe: ", 0), 0u) << probe.Lines()[0];
    }
    Probe withoutSim;
    ASSERT_TRUE(withoutSim.Start(SimProbe(), {"scan"}));
    EXPECT_EQ(withoutSim.Exit(), 64);

    for (const bool simulated : {false, true}) {
        Probe help;
        ASSERT_TRUE(help.Start(simulated ? SimProbe() : ShippedProbe(), {"--help"}));
        EXPECT_EQ(help.Exit(), 0);
        std::string text;
        for (const std::string &line : help.Lines())
            text += line + "\n";
        for (const char *part : {"tarvolt-probe scan [--seconds N] [--json]", "tarvolt-probe watch [--seconds N] [--json]",
                                 "  0   the rifle was found", "  1   the rifle was not found", "  2   no usable Bluetooth",
                                 "  64  bad arguments", "Ctrl-C", "quit SteamVR"})
            EXPECT_TRUE(Contains(text, part)) << part;
        EXPECT_EQ(Contains(text, "--sim"), simulated);
    }
}

} // namespace
