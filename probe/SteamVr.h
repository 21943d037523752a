#pragma once
// Whether SteamVR runs on this machine, for the hint when the rifle is not found: SteamVR's
// server loads the driver, which holds the rifle's connection, and a connected rifle does not
// advertise.
namespace tarvolt::probe {

// True when a process named like SteamVR's server (vrserver, vrserver.exe; any letter case) runs.
bool SteamVrServerRunning();

} // namespace tarvolt::probe
