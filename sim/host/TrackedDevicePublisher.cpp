#include "TrackedDevicePublisher.h"

#include "ProcessIdentity.h"

#include <cstdio>
#include <new>
#include <thread>

namespace sim {

namespace {

// VREvent_Quit (vr::EVREventType).
constexpr uint32_t kQuitEvent = 700;
// How often the server looks whether its clients have gone while it waits for them.
constexpr std::chrono::milliseconds kQuitPoll{1};

} // namespace

// The lock word holds its holder's process id. Client processes are killed from outside (by the
// driver at deactivation, by the server after a quit request), possibly while they hold the lock;
// a waiter that finds the holder gone takes the lock over instead of spinning for ever.
void LockTable(TrackedDeviceTable &table)
{
    static const uint32_t self = CurrentProcessId();
    for (uint32_t spins = 1;; ++spins) {
        uint32_t holder = 0;
        if (table.lock.compare_exchange_weak(holder, self, std::memory_order_acquire))
            return;
        if (spins % 1024 == 0 && holder != 0 && holder != self && ProcessStartTime(holder) == 0 &&
            table.lock.compare_exchange_strong(holder, self, std::memory_order_acquire))
            return;
        std::this_thread::yield();
    }
}

void UnlockTable(TrackedDeviceTable &table) { table.lock.store(0, std::memory_order_release); }

bool ClientStillConnected(ClientSlot &client)
{
    if (client.state != kClientConnected)
        return false;
    if (ProcessStartTime(client.processId) == client.processStart)
        return true;
    client = ClientSlot{};
    return false;
}

bool PostClientEvent(ClientSlot &client, uint32_t eventType)
{
    if (client.eventsPosted - client.eventsTaken >= kClientEventQueue)
        return false;
    client.eventTypes[client.eventsPosted % kClientEventQueue] = eventType;
    ++client.eventsPosted;
    return true;
}

bool TakeClientEvent(ClientSlot &client, uint32_t &eventType)
{
    if (client.eventsTaken == client.eventsPosted)
        return false;
    eventType = client.eventTypes[client.eventsTaken % kClientEventQueue];
    ++client.eventsTaken;
    return true;
}

bool TrackedDevicePublisher::Start()
{
    Stop();
    if (!CreateSharedRegion(kTrackedDeviceTableName, sizeof(TrackedDeviceTable), region_))
        return false;
    // A table left behind by a host that died is reset like a new one.
    std::memset(region_.view, 0, sizeof(TrackedDeviceTable));
    table_ = new (region_.view) TrackedDeviceTable;
    table_->standingFromRaw = RoomSetupStandingFromRaw();
    table_->hostRunning.store(1, std::memory_order_release);
    return true;
}

void TrackedDevicePublisher::Stop()
{
    if (table_ == nullptr)
        return;
    table_->hostRunning.store(0, std::memory_order_release);
    RemoveSharedRegionName(kTrackedDeviceTableName);
    CloseSharedRegion(region_, sizeof(TrackedDeviceTable));
    table_ = nullptr;
}

void TrackedDevicePublisher::SetDeviceBytes(uint32_t index, int32_t deviceClass, int32_t role,
                                            const void *pose, int32_t sortKey)
{
    if (table_ == nullptr || index >= kTrackedDeviceSlots)
        return;
    LockTable(*table_);
    TrackedDeviceSlot &slot = table_->slots[index];
    slot.deviceClass = deviceClass;
    slot.role = role;
    slot.sortKey = sortKey;
    std::memcpy(slot.pose, pose, kPoseRecordSize);
    UnlockTable(*table_);
}

void TrackedDevicePublisher::SetPoseBytes(uint32_t index, const void *pose)
{
    if (table_ == nullptr || index >= kTrackedDeviceSlots)
        return;
    LockTable(*table_);
    std::memcpy(table_->slots[index].pose, pose, kPoseRecordSize);
    UnlockTable(*table_);
}

void TrackedDevicePublisher::SetSerial(uint32_t index, const char *serial)
{
    if (table_ == nullptr || index >= kTrackedDeviceSlots || serial == nullptr)
        return;
    LockTable(*table_);
    char *field = table_->slots[index].serial;
    std::strncpy(field, serial, kSerialNumberSize - 1);
    field[kSerialNumberSize - 1] = '\0';
    UnlockTable(*table_);
}

bool TrackedDevicePublisher::EditSettings(const std::function<bool(SettingsStore &)> &edit)
{
    if (table_ == nullptr)
        return false;
    LockTable(*table_);
    const bool done = edit(table_->settings);
    UnlockTable(*table_);
    return done;
}

void TrackedDevicePublisher::RemoveDevice(uint32_t index)
{
    if (table_ == nullptr || index >= kTrackedDeviceSlots)
        return;
    LockTable(*table_);
    table_->slots[index] = TrackedDeviceSlot{};
    UnlockTable(*table_);
}

void TrackedDevicePublisher::RemoveAll()
{
    for (uint32_t i = 0; i < kTrackedDeviceSlots; ++i)
        RemoveDevice(i);
}

void TrackedDevicePublisher::FailInit(int32_t times, int32_t code)
{
    if (table_ == nullptr)
        return;
    table_->initFailureCode.store(code);
    table_->initFailuresLeft.store(times);
}

void TrackedDevicePublisher::DelayInit(std::chrono::milliseconds delay)
{
    if (table_ != nullptr)
        table_->initDelayMs.store(static_cast<int32_t>(delay.count()));
}

QuitResult TrackedDevicePublisher::QuitClients(std::chrono::milliseconds limit)
{
    QuitResult result;
    if (table_ == nullptr)
        return result;
    const auto start = std::chrono::steady_clock::now();
    const uint32_t acknowledged0 = table_->quitAcknowledgements.load();
    LockTable(*table_);
    table_->quitRequested.store(1);
    for (ClientSlot &client : table_->clients) {
        if (ClientStillConnected(client)) {
            PostClientEvent(client, kQuitEvent);
            ++result.clients;
        }
    }
    UnlockTable(*table_);
    for (;;) {
        uint32_t connected = 0;
        LockTable(*table_);
        for (ClientSlot &client : table_->clients)
            connected += ClientStillConnected(client) ? 1 : 0;
        const bool late = std::chrono::steady_clock::now() - start >= limit;
        if (connected > 0 && late) {
            for (ClientSlot &client : table_->clients) {
                if (ClientStillConnected(client)) {
                    KillProcess(client.processId, client.processStart);
                    client.state = kClientKilled;
                    ++result.killed;
                }
            }
        }
        UnlockTable(*table_);
        if (connected == 0 || late)
            break;
        std::this_thread::sleep_for(kQuitPoll);
    }
    result.took = std::chrono::steady_clock::now() - start;
    result.acknowledged = table_->quitAcknowledgements.load() - acknowledged0;
    return result;
}

std::string DescribeQuit(const QuitResult &quit)
{
    if (quit.clients == 0)
        return "no client was connected when the server asked its clients to quit";
    const double ms = std::chrono::duration<double, std::milli>(quit.took).count();
    char text[160];
    if (quit.killed == 0)
        std::snprintf(text, sizeof text, "%u client(s) asked to quit, all disconnected after %.1f ms", quit.clients, ms);
    else
        std::snprintf(text, sizeof text, "%u client(s) asked to quit, %u killed after %.0f ms for not disconnecting",
                      quit.clients, quit.killed, ms);
    return text;
}

void TrackedDevicePublisher::PostEvent(uint32_t eventType)
{
    if (table_ == nullptr)
        return;
    LockTable(*table_);
    for (ClientSlot &client : table_->clients)
        if (ClientStillConnected(client))
            PostClientEvent(client, eventType);
    UnlockTable(*table_);
}

uint32_t TrackedDevicePublisher::ConnectedClients() const
{
    if (table_ == nullptr)
        return 0;
    uint32_t connected = 0;
    LockTable(*table_);
    for (ClientSlot &client : table_->clients)
        connected += ClientStillConnected(client) ? 1 : 0;
    UnlockTable(*table_);
    return connected;
}

uint32_t TrackedDevicePublisher::PendingEvents() const
{
    if (table_ == nullptr)
        return 0;
    uint32_t pending = 0;
    LockTable(*table_);
    for (ClientSlot &client : table_->clients)
        pending += ClientStillConnected(client) ? client.eventsPosted - client.eventsTaken : 0;
    UnlockTable(*table_);
    return pending;
}

int TrackedDevicePublisher::FirstFreeSlot() const
{
    if (table_ == nullptr)
        return -1;
    int free = -1;
    LockTable(*table_);
    for (uint32_t i = 0; i < kTrackedDeviceSlots && free < 0; ++i)
        if (table_->slots[i].deviceClass == 0)
            free = static_cast<int>(i);
    UnlockTable(*table_);
    return free;
}

TrackedDeviceSlot TrackedDevicePublisher::Slot(uint32_t index) const
{
    TrackedDeviceSlot slot{};
    if (table_ == nullptr || index >= kTrackedDeviceSlots)
        return slot;
    LockTable(*table_);
    slot = table_->slots[index];
    UnlockTable(*table_);
    return slot;
}

void TrackedDevicePublisher::StampPoseQueries(bool stamp)
{
    if (table_ != nullptr)
        table_->stampPoseQueries.store(stamp ? 1 : 0);
}

uint32_t TrackedDevicePublisher::InitCalls() const { return table_ ? table_->initCalls.load() : 0; }

uint32_t TrackedDevicePublisher::ShutdownCalls() const { return table_ ? table_->shutdownCalls.load() : 0; }

uint64_t TrackedDevicePublisher::PoseQueries() const { return table_ ? table_->poseQueries.load() : 0; }

uint32_t TrackedDevicePublisher::DoubleInits() const { return table_ ? table_->doubleInits.load() : 0; }

uint32_t TrackedDevicePublisher::QuitAcknowledgements() const
{
    return table_ ? table_->quitAcknowledgements.load() : 0;
}

uint32_t TrackedDevicePublisher::CallsAfterShutdown() const
{
    return table_ ? table_->callsAfterShutdown.load() : 0;
}

} // namespace sim
