#include "Options.h"

#include <cstdlib>

namespace tarvolt::probe {

namespace {

bool ParseSeconds(const std::string &text, int &seconds)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6)
        return false;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > kMaxSeconds)
        return false;
    seconds = static_cast<int>(value);
    return true;
}

} // namespace

ParseResult ParseOptions(const std::vector<std::string> &args, bool simulated)
{
    ParseResult result;
    Options &options = result.options;
    bool secondsGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.command = Command::Help;
            return result;
        }
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--sim" && simulated) {
            options.sim = true;
        } else if (arg == "--seconds" || arg.rfind("--seconds=", 0) == 0) {
            std::string value;
            if (arg == "--seconds") {
                if (i + 1 == args.size()) {
                    result.error = "--seconds needs a number of seconds";
                    return result;
                }
                value = args[++i];
            } else {
                value = arg.substr(10);
            }
            int seconds = 0;
            if (!ParseSeconds(value, seconds)) {
                result.error = "--seconds takes a whole number from 1 to " + std::to_string(kMaxSeconds) +
                               ", not \"" + value + "\"";
                return result;
            }
            if (secondsGiven) {
                result.error = "--seconds is given twice";
                return result;
            }
            secondsGiven = true;
            options.seconds = seconds;
        } else if (arg == "scan" || arg == "watch") {
            if (options.command != Command::None) {
                result.error = "give one command, scan or watch";
                return result;
            }
            options.command = arg == "scan" ? Command::Scan : Command::Watch;
        } else if (!arg.empty() && arg[0] == '-') {
            result.error = "unknown option " + arg;
            return result;
        } else {
            result.error = "unknown command \"" + arg + "\" (the commands are scan and watch)";
            return result;
        }
    }
    if (options.command == Command::None)
        result.error = "no command: give scan or watch";
    else if (simulated && !options.sim)
        result.error = "this test build has only the simulated radio: give --sim";
    else if (options.command == Command::Scan && !options.seconds)
        options.seconds = kDefaultScanSeconds;
    return result;
}

std::string HelpText(bool simulated)
{
    std::string text =
        "tarvolt-probe checks the Tarvolt RQ508 rifle over Bluetooth LE, without SteamVR.\n"
        "\n"
        "Usage:\n"
        "  tarvolt-probe scan [--seconds N] [--json]\n"
        "      Lists the devices the system has connected (a connected rifle does not advertise),\n"
        "      then every Bluetooth LE device heard in N seconds (default 10), one line each as it\n"
        "      is first heard: its name (or \"(no name)\"), address and signal strength. The rifle,\n"
        "      which advertises as \"Rifle Q508\", is marked. Ends with a verdict line.\n"
        "  tarvolt-probe watch [--seconds N] [--json]\n"
        "      Finds the rifle, connects and subscribes to its notifications exactly as the SteamVR\n"
        "      driver does, then prints each action as it arrives (the time since the start, the\n"
        "      action: fire, eject magazine, load magazine, load bullet, unload bullet or unknown,\n"
        "      and the raw bytes), every change of the link (with the lines SteamVR's log would\n"
        "      show), and reconnects after a drop. Runs until Ctrl-C, or for N seconds. Ctrl-C (or\n"
        "      closing the console window) ends it cleanly and releases the rifle.\n"
        "  tarvolt-probe --help\n"
        "\n"
        "Options:\n"
        "  --seconds N  how long to scan or watch, from 1 to 86400\n"
        "  --json       one JSON object per line instead of text, for scripts and bug reports\n";
    if (simulated)
        text += "  --sim        the simulated radio, scripted by lines on standard input (test builds only)\n";
    text +=
        "\n"
        "Exit codes:\n"
        "  0   the rifle was found (scan) or connected (watch)\n"
        "  1   the rifle was not found (scan), or not connected (watch), in time\n"
        "  2   no usable Bluetooth, with the reason in words: no adapter, adapter off, Bluetooth\n"
        "      stack missing, or the Windows Runtime's Bluetooth classes unavailable\n"
        "  64  bad arguments\n"
        "\n"
        "While SteamVR runs, its driver holds the rifle's connection: scan lists the rifle as\n"
        "connected, and watch may not get its notifications. To check the rifle on its own,\n"
        "quit SteamVR before probing.\n";
    return text;
}

} // namespace tarvolt::probe
