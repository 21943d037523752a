#pragma once
// What happens in a demo session: the Bluetooth devices around the server, the rifle's actions,
// the scripted session, and the keys of the interactive one.
#include "RadioControl.h"

#include <cstdint>
#include <string>
#include <vector>

namespace demo {

class DemoSession;

struct RifleAction {
    char key;
    const char *what;        // as the script and the help line say it
    const char *component;   // the boolean component it presses
    std::vector<uint8_t> bytes;  // what the rifle notifies
};

// Fire, eject magazine, load magazine, load bullet, unload bullet.
const std::vector<RifleAction> &RifleActions();
const RifleAction *ActionForKey(int key);

// Adds the devices near the server, which advertise from the start, and the rifle, which does
// not yet; returns the rifle's id.
int AddDevices(sim::RadioControl &radio);

// Waits until the driver has seen the other devices, then the rifle comes into range and is
// connected. Returns what failed, or "" when it connected.
std::string BringRifleUp(DemoSession &session);

// The scripted session after BringRifleUp; returns what failed, or "".
std::string RunScript(DemoSession &session);

// Notifies an action; returns at once (the interactive keys).
void Perform(DemoSession &session, const RifleAction &action);

} // namespace demo
