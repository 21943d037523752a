#pragma once
// The tracked devices of the simulated runtime, as its server publishes them to client programs:
// a named shared-memory table that the openvr_api stand-in reads. It holds each device slot's
// class, controller role and pose (in standing space, as applications see it), the room setup
// between raw and standing space, the connected clients with their event queues, a script that
// tests use to make client initialisation fail or take time, and counters of what clients did.
// The layout depends on no OpenVR header, so that both the host (driver header) and the stand-in
// (client header) can include it.
#include "SettingsStore.h"
#include "TrackingSpaces.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace sim {

inline constexpr const char *kTrackedDeviceTableName = "TarvoltSim_TrackedDevices";
inline constexpr uint32_t kTrackedDeviceSlots = 64;    // vr::k_unMaxTrackedDeviceCount
inline constexpr uint32_t kPoseRecordSize = 80;        // sizeof(vr::TrackedDevicePose_t)
inline constexpr uint32_t kSerialNumberSize = 64;      // with its NUL

struct TrackedDeviceSlot {
    int32_t deviceClass;  // vr::ETrackedDeviceClass; 0 (invalid) marks an empty slot
    int32_t role;         // vr::ETrackedControllerRole
    int32_t sortKey;      // controllers are listed by ascending key, then by index
    uint32_t reserved;
    unsigned char pose[kPoseRecordSize];  // a vr::TrackedDevicePose_t, byte for byte
    char serial[kSerialNumberSize];       // Prop_SerialNumber_String; empty: the device has none
};

inline constexpr uint32_t kClientSlots = 16;
inline constexpr uint32_t kClientEventQueue = 16;

enum ClientState : uint32_t {
    kClientFree = 0,
    kClientConnected = 1,  // between a successful initialisation and VR_Shutdown
    kClientShutDown = 2,   // VR_Shutdown called
    kClientKilled = 3,     // still connected when the server's quit request ran out of time
};

// One client program's connection, guarded by the table's lock. The server tells a client that
// has ended from one that still runs by its id and start time (ProcessIdentity.h).
struct ClientSlot {
    uint32_t state;  // ClientState
    uint32_t processId;
    uint64_t processStart;
    uint32_t eventsPosted;  // event types written into the queue, by the server
    uint32_t eventsTaken;   // of those, taken by the client's PollNextEvent
    uint32_t eventTypes[kClientEventQueue];
};

struct TrackedDeviceTable {
    std::atomic<uint32_t> hostRunning;  // 1 while the publishing host lives
    std::atomic<uint32_t> lock;         // guards slots and clients: the holder's process id, 0 when free
    TrackedDeviceSlot slots[kTrackedDeviceSlots];  // poses in standing space

    // The room setup: standing space from raw space. Written once when the table is created.
    RigidTransform standingFromRaw;

    // Script: the next initFailuresLeft client initialisations fail with initFailureCode; every
    // initialisation takes initDelayMs before it answers (read again while it waits, so that a
    // test can end a long wait).
    std::atomic<int32_t> initFailuresLeft;
    std::atomic<int32_t> initFailureCode;
    std::atomic<int32_t> initDelayMs;

    // Set by the server's quit request: from then on initialisations are refused.
    std::atomic<uint32_t> quitRequested;
    ClientSlot clients[kClientSlots];  // guarded by lock

    // What clients did.
    std::atomic<uint32_t> initCalls;
    std::atomic<uint32_t> shutdownCalls;
    std::atomic<uint64_t> poseQueries;
    std::atomic<uint32_t> doubleInits;          // initialisations while already connected
    std::atomic<uint32_t> quitAcknowledgements;  // AcknowledgeQuit_Exiting calls
    std::atomic<uint32_t> callsAfterShutdown;    // OpenVR calls after VR_Shutdown ended a connection

    // The runtime's settings, for the driver (through the host) and for clients; guarded by lock.
    SettingsStore settings;

    // Measurement: when non-zero, every pose a query returns carries the time of the query
    // instead of its velocity (see StampPoseQuery), so that a pose that has travelled through
    // the relay and the driver tells how old it is.
    std::atomic<uint32_t> stampPoseQueries;
};

// The steady clock's nanoseconds in the three velocity components, 20 bits each as whole
// numbers (exact in single precision, and so through the relay and the driver's conversion).
inline void StampPoseQuery(float velocity[3], uint64_t nanoseconds)
{
    velocity[0] = static_cast<float>((nanoseconds >> 40) & 0xFFFFF);
    velocity[1] = static_cast<float>((nanoseconds >> 20) & 0xFFFFF);
    velocity[2] = static_cast<float>(nanoseconds & 0xFFFFF);
}
inline uint64_t PoseQueryStamp(const double velocity[3])
{
    const auto part = [](double v) { return static_cast<uint64_t>(v) & 0xFFFFF; };
    return part(velocity[0]) << 40 | part(velocity[1]) << 20 | part(velocity[2]);
}

static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free,
              "the table is shared between processes");

// Spin lock over the slots and clients (both sides hold it only for a copy of at most 64 slots).
void LockTable(TrackedDeviceTable &table);
void UnlockTable(TrackedDeviceTable &table);

// Under the table's lock. A connected client whose process has ended has lost its connection,
// as the runtime's server sees its pipe break: the slot is freed and false returned.
bool ClientStillConnected(ClientSlot &client);
// Queues an event type for the client; false when its queue is full.
bool PostClientEvent(ClientSlot &client, uint32_t eventType);
// Takes the client's oldest queued event type; false when there is none.
bool TakeClientEvent(ClientSlot &client, uint32_t &eventType);

// A named shared-memory region: a section on Windows, a shm_open object on POSIX.
struct SharedRegion {
    void *handle = nullptr;
    void *view = nullptr;
};
// Creates the region, or opens the existing one of that name, read-write.
bool CreateSharedRegion(const char *name, size_t size, SharedRegion &region);
// Opens an existing region; false when there is none.
bool OpenSharedRegion(const char *name, size_t size, SharedRegion &region);
void CloseSharedRegion(SharedRegion &region, size_t size);
// Deletes the name, so that clients no longer find the region (POSIX; a Windows section goes
// with its last handle).
void RemoveSharedRegionName(const char *name);

} // namespace sim
