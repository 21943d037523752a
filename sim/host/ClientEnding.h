#pragma once
// The simulated server ends its client programs on demand, each way a client program ends without
// being asked on a player's machine: killed from outside (a task manager, an antivirus), crashed,
// or gone through its own exit. A kill comes from the server's side; a crash or an exit is sent
// to the client as an event of the server's own that the client library stand-in acts on when
// the client next reads its events (vistrel does after every pass).
#include <cstdint>

namespace sim {

class TrackedDevicePublisher;

enum class ClientEnd : uint32_t {
    Kill,   // ended from outside at once: SIGKILL, TerminateProcess
    Crash,  // ends as a crash does: SIGSEGV, exit status STATUS_ACCESS_VIOLATION
    Exit,   // calls exit(0) inside the client library
};

// Ends every client connected now that way; returns how many were told (or killed).
uint32_t EndClients(TrackedDevicePublisher &devices, ClientEnd how);

// In the client library stand-in: ends this process when the event is one of the above, and
// returns otherwise.
void ActOnEndingEvent(uint32_t eventType);

} // namespace sim
