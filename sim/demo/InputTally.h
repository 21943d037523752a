#pragma once
// The rifle's six input components as the runtime saw them: current values for the view,
// presses and releases per component for the script's checks and the summary.
#include "HostRecorder.h"

#include <map>
#include <string>
#include <vector>

namespace demo {

inline constexpr const char *kFireClick = "/input/fire/click";
inline constexpr const char *kFireValue = "/input/fire/value";
inline constexpr const char *kEjectMag = "/input/eject_mag/click";
inline constexpr const char *kLoadMag = "/input/load_mag/click";
inline constexpr const char *kLoadBullet = "/input/load_bullet/click";
inline constexpr const char *kUnloadBullet = "/input/unload_bullet/click";

// The five buttons in the order the driver processes them.
inline constexpr const char *kButtons[] = {kFireClick, kEjectMag, kLoadMag, kLoadBullet, kUnloadBullet};

struct InputTally {
    std::map<std::string, bool> pressed;  // boolean components: current value
    float fireValue = 0.0f;
    std::map<std::string, int> presses;   // updates to true
    std::map<std::string, int> releases;  // updates to false
    std::map<std::string, uint64_t> lastPressFrame;
    std::map<std::string, uint64_t> lastReleaseFrame;

    int Presses(const std::string &name) const;
    int Releases(const std::string &name) const;
    int AllPresses() const;
};

InputTally TallyInputs(const std::vector<sim::ComponentUpdate> &updates);

} // namespace demo
