#pragma once
// tarvolt-probe's command line: the command (scan or watch), --seconds N, --json, --help, and in
// a test build --sim.
#include <optional>
#include <string>
#include <vector>

namespace tarvolt::probe {

enum class Command { None, Scan, Watch, Help };

inline constexpr int kDefaultScanSeconds = 10;
inline constexpr int kMaxSeconds = 86400;  // a day; longer is surely a typing error

// Exit codes.
inline constexpr int kExitFound = 0;         // the rifle was found (scan) or connected (watch)
inline constexpr int kExitNotFound = 1;      // not found, or not connected, in time
inline constexpr int kExitNoBluetooth = 2;   // no usable Bluetooth; the reason is printed
inline constexpr int kExitUsage = 64;        // bad arguments (EX_USAGE)

struct Options {
    Command command = Command::None;
    std::optional<int> seconds;  // scan: kDefaultScanSeconds when not given; watch: no limit
    bool json = false;
    bool sim = false;
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the command line is good
};

// `simulated`: this build has the simulated radio and accepts --sim.
ParseResult ParseOptions(const std::vector<std::string> &args, bool simulated);

// The text of --help.
std::string HelpText(bool simulated);

} // namespace tarvolt::probe
