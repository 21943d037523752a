#pragma once
// The Bluetooth link's lines among everything the driver logs: activation also logs for the pose
// block and the relay program, at times of their own.
#include <string>
#include <vector>

namespace testing_support {

inline bool IsLinkLine(const std::string &line)
{
    static const char *const kPrefixes[] = {
        "Tarvolt Running", "Failed to enter the multithreaded apartment.",
        "Failed to create the advertisement watcher.", "Starting the advertisement watcher.",
        "Failed to start the advertisement watcher.", "Found device: ", "Target device found.", "Watcher stopped.",
        "Connecting to device: ", "Failed to connect to device: ", "Found GATT service: ",
        "Failed to get GATT services.", "Failed to get characteristics for service: ",
        "Subscribing to characteristic: ", "Successfully subscribed to notifications for characteristic: ",
        "Failed to subscribe to notifications for characteristic: ", "Device successfully connected.",
        "Target characteristic not found.", "Target device address is invalid.", "Device connection lost.",
        "Connected to device: ", "Disconnected from device: ", "Received data: ",
        // Ways back for a rifle that does not advertise, and for radios that fail halfway.
        "Found connected device: ", "Failed to list the connected devices.", "The system restored the connection.",
        "The system did not restore the connection.", "Connection status reads disconnected.", "Retrying the ",
        "GATT service not in the cached answer", "Characteristic not in the cached answer",
        "The advertisement watcher did not start.", "The advertisement watcher ended without notice.",
        "No advertisement heard for 30 seconds"};
    for (const char *prefix : kPrefixes)
        if (line.rfind(prefix, 0) == 0)
            return true;
    return false;
}

inline std::vector<std::string> LinkLines(const std::vector<std::string> &lines, size_t from = 0)
{
    std::vector<std::string> out;
    for (size_t i = from; i < lines.size(); ++i)
        if (IsLinkLine(lines[i]))
            out.push_back(lines[i]);
    return out;
}

} // namespace testing_support
