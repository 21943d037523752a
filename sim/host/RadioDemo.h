#pragma once
// The demo's rifle: with a driver built with the simulated radio, a script plays a rifle that is
// found, connected and pressed, loses its link and comes back, while the host runs frames.
#include "SimHost.h"

#include <thread>

namespace sim {

// Adds the rifle to the radio inside the loaded driver and starts the script; false when the
// driver has no simulated radio. The script ends by itself (join the thread before shutdown).
bool StartRadioDemo(SimHost &host, std::thread &script);

} // namespace sim
