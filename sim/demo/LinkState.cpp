#include "LinkState.h"

namespace demo {

namespace {

bool StartsWith(const std::string &line, const char *prefix) { return line.rfind(prefix, 0) == 0; }

struct Rule {
    const char *line;  // the whole line, or its prefix when `prefix`
    bool prefix;
    const char *state;
};

// The driver's link lines in the order a connection makes them, then its failures.
constexpr Rule kRules[] = {
    {"Tarvolt Running", false, "starting"},
    {"Starting the advertisement watcher.", false, "scanning"},
    {"Target device found.", false, "rifle found"},
    {"Connecting to device: ", true, "connecting"},
    {"Found GATT service: ", true, "connecting: services"},
    {"Subscribing to characteristic: ", true, "subscribing"},
    {"Device successfully connected.", false, "connected"},
    {"Disconnected from device: ", true, "link lost"},
    {"Device connection lost.", false, "link lost, scanning again"},
    {"Target device address is invalid.", false, "connection failed, scanning again"},
    {"Failed to connect to device: ", true, "connection failed, scanning again"},
    {"Failed to get GATT services.", false, "connection failed, scanning again"},
    {"Target characteristic not found.", false, "connection failed, scanning again"},
};

} // namespace

std::string NextLinkState(const std::string &state, const std::string &line)
{
    for (const Rule &rule : kRules)
        if (rule.prefix ? StartsWith(line, rule.line) : line == rule.line)
            return rule.state;
    return state;
}

} // namespace demo
