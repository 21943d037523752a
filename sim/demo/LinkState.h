#pragma once
// The Bluetooth link's state as the demo shows it, followed from the driver's own log lines
// alone: the demo sees the driver as the runtime does, from outside.
#include <string>

namespace demo {

inline constexpr const char *kLinkNotStarted = "not started";

// The state after the driver logged `line`, given the state before it. Lines that say nothing
// about the link leave the state as it was.
std::string NextLinkState(const std::string &state, const std::string &line);

} // namespace demo
