#pragma once
// What tarvolt-probe prints: one line per event, as text for people or as one JSON object per
// line for scripts and bug reports. Events come from the platform's threads as well as the
// probe's own, so every line is written whole, under a lock, and flushed. Each carries the time
// since the probe started.
#include "bluetooth/LinkContext.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvolt::probe {

// Writes one line (without its line end) where the probe's output goes.
using LineSink = std::function<void(const std::string &line)>;

// How a run ended, for the last line and the exit code.
struct Verdict {
    int exitCode = 1;
    std::string result;   // a word for scripts: found, not_found, connected, not_connected, no_bluetooth
    std::string message;  // the sentence a person reads
    std::vector<std::pair<std::string, std::string>> texts;  // further fields of the JSON object
    std::vector<std::pair<std::string, int64_t>> numbers;
    std::vector<std::pair<std::string, bool>> flags;
};

class Report {
public:
    Report(bool json, LineSink out);

    bool Json() const { return json_; }
    double Elapsed() const;  // seconds since the report began

    // The first line: what the probe is about to do.
    void Begin(const std::string &command, std::optional<int> seconds, const std::string &text);
    // A device heard by the scan, the first time under this name, or one the system has connected
    // (which does not advertise, so has no signal strength to show).
    void Device(uint64_t address, const std::u16string &name, std::optional<int16_t> rssi, bool rifle,
                bool connected = false);
    // A line the link or the platform logged (as SteamVR's log would show it).
    void Link(const std::string &line);
    // A link state the worker found, with the target address it held then.
    void State(LinkState state, uint64_t address);
    // A notification of the rifle: the action it stands for (or "unknown") and its bytes.
    void Action(const std::string &action, const uint8_t *bytes, size_t length);
    // Anything else worth a line (the platform ended the scan, Bluetooth is not usable).
    void Note(const std::string &kind, const std::string &text);
    void End(const Verdict &verdict);

private:
    class Line;
    void Write(const std::string &line);

    const bool json_;
    const LineSink out_;
    const std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
};

// AA:BB:CC:DD:EE:FF, as the operating systems show Bluetooth addresses.
std::string AddressText(uint64_t address);
// "5B 00 00 00 00 5D".
std::string HexBytes(const uint8_t *bytes, size_t length);
// A string as a JSON string literal, quotes included.
std::string JsonString(const std::string &text);
// The words for a link state ("connected", "connection lost", ...).
std::string StateWords(LinkState state);
// The word for a link state in JSON ("connected", "connection_lost", ...).
std::string StateKey(LinkState state);

} // namespace tarvolt::probe
