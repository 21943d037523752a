#include "LinkState.h"

namespace demo {

namespace {

bool StartsWith(const std::string &line, const std::string &prefix) { return line.rfind(prefix, 0) == 0; }

struct Rule {
    const char *line;  // the whole line, or its prefix when `prefix`
    bool prefix;
    const char *state;
};

// The driver's link lines in the order a connection makes them, then its other ways to the rifle,
// then its failures.
constexpr Rule kRules[] = {
    {"Tarvolt Running", false, "starting"},
    {"Starting the advertisement watcher.", false, "scanning"},
    {"Target device found.", false, "rifle found"},
    {"Connecting to device: ", true, "connecting"},
    {"GATT service not in the cached answer; asking the device.", false, "connecting: asking the rifle for services"},
    {"Retrying the GATT service query.", false, "connecting: retrying the services"},
    {"Found GATT service: ", true, "connecting: services"},
    {"Characteristic not in the cached answer; asking the device.", false,
     "connecting: asking the rifle for characteristics"},
    {"Retrying the characteristics query for service: ", true, "connecting: retrying the characteristics"},
    {"Subscribing to characteristic: ", true, "subscribing"},
    {"Retrying the subscription to characteristic: ", true, "subscribing: retrying"},
    {"Device successfully connected.", false, "connected"},
    {"Disconnected from device: ", true, "link lost"},
    {"Connection status reads disconnected.", false, "link lost"},
    {"Device connection lost.", false, "link lost, scanning again"},
    {"Found connected device: ", true, "rifle found among the connected devices"},
    {"The system restored the connection.", false, "link restored by the system"},
    {"The advertisement watcher ended without notice.", false, "scan ended, starting it again"},
    {"No advertisement heard for 30 seconds; starting a new advertisement watcher.", false,
     "scan hears nothing, starting a new one"},
    {"Failed to start the advertisement watcher.", false, "scan not started, trying again"},
    {"The advertisement watcher did not start.", false, "scan not started, trying again"},
    {"Target device address is invalid.", false, "connection failed, scanning again"},
    {"Failed to connect to device: ", true, "connection failed, scanning again"},
    {"Failed to get GATT services.", false, "connection failed, scanning again"},
    {"Target characteristic not found.", false, "connection failed, scanning again"},
};

// A line that repeats is held back by the driver and comes again as "<line> (repeated N times)".
bool Matches(const Rule &rule, const std::string &line)
{
    return rule.prefix ? StartsWith(line, rule.line)
                       : line == rule.line || StartsWith(line, std::string(rule.line) + " (repeated ");
}

} // namespace

std::string NextLinkState(const std::string &state, const std::string &line)
{
    for (const Rule &rule : kRules)
        if (Matches(rule, line))
            return rule.state;
    return state;
}

} // namespace demo
