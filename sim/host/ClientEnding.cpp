#include "ClientEnding.h"

#include "ProcessIdentity.h"
#include "TrackedDevicePublisher.h"

#include <cstdlib>

namespace sim {

namespace {

// Event types of the simulated server's own, far above every vr::EVREventType.
constexpr uint32_t kCrashEvent = 0x7FFF0001;
constexpr uint32_t kExitEvent = 0x7FFF0002;

} // namespace

uint32_t EndClients(TrackedDevicePublisher &devices, ClientEnd how)
{
    TrackedDeviceTable *table = devices.Table();
    if (table == nullptr)
        return 0;
    uint32_t ended = 0;
    LockTable(*table);
    for (ClientSlot &client : table->clients) {
        if (!ClientStillConnected(client))
            continue;
        const bool done = how == ClientEnd::Kill ? KillProcess(client.processId, client.processStart)
                                                 : PostClientEvent(client, how == ClientEnd::Crash ? kCrashEvent : kExitEvent);
        ended += done ? 1 : 0;
    }
    UnlockTable(*table);
    return ended;
}

void ActOnEndingEvent(uint32_t eventType)
{
    if (eventType == kCrashEvent)
        CrashThisProcess();
    if (eventType == kExitEvent)
        std::exit(0);
}

} // namespace sim
