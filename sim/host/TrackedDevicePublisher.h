#pragma once
// The simulated runtime's side of the tracked-device table: which devices exist, their classes,
// controller roles and poses, as client programs (through the openvr_api stand-in) see them.
// The vrserver program publishes a demo set; tests publish their own and script the client
// library through it.
#include "TrackedDeviceTable.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

namespace sim {

// How long the server waits for its clients to disconnect after asking them to quit before it
// kills them: vrserver kills processes that do not answer VREvent_Quit after 5 seconds (Valve's
// answer in ValveSoftware/openvr issue 1061; what it waits for is the client's VR_Shutdown, not
// the process's end). AcknowledgeQuit_Exiting extends the real limit by an undocumented amount;
// the simulated server does not extend it.
inline constexpr std::chrono::milliseconds kQuitLimit{5000};

// What became of the clients that the server asked to quit.
struct QuitResult {
    uint32_t clients = 0;       // connected when the request went out
    uint32_t acknowledged = 0;  // AcknowledgeQuit_Exiting calls while the server waited
    uint32_t killed = 0;        // still connected when the time ran out
    std::chrono::nanoseconds took{};  // from the request until no client was connected any more
};

// One line on a quit request's outcome, for the server's output.
std::string DescribeQuit(const QuitResult &quit);

class TrackedDevicePublisher {
public:
    TrackedDevicePublisher() = default;
    ~TrackedDevicePublisher() { Stop(); }
    TrackedDevicePublisher(const TrackedDevicePublisher &) = delete;
    TrackedDevicePublisher &operator=(const TrackedDevicePublisher &) = delete;

    // Creates the table with no devices and no script, and marks the host as running: from then
    // on client initialisation succeeds. False when the table cannot be created.
    bool Start();
    // Marks the host as gone and withdraws the table: later client initialisations fail.
    void Stop();
    bool Running() const { return table_ != nullptr; }

    // pose: a vr::TrackedDevicePose_t of either OpenVR header. sortKey orders controllers in
    // the sorted controller list (by default the device index).
    template <class Pose>
    void SetDevice(uint32_t index, int32_t deviceClass, int32_t role, const Pose &pose, int32_t sortKey = -1)
    {
        static_assert(sizeof(Pose) == kPoseRecordSize, "a vr::TrackedDevicePose_t");
        SetDeviceBytes(index, deviceClass, role, &pose, sortKey < 0 ? static_cast<int32_t>(index) : sortKey);
    }
    template <class Pose>
    void SetPose(uint32_t index, const Pose &pose)
    {
        static_assert(sizeof(Pose) == kPoseRecordSize, "a vr::TrackedDevicePose_t");
        SetPoseBytes(index, &pose);
    }
    // The device's serial number (Prop_SerialNumber_String), as its driver reports it.
    void SetSerial(uint32_t index, const char *serial);
    void RemoveDevice(uint32_t index);
    void RemoveAll();

    // The next `times` client initialisations fail with the given vr::EVRInitError code.
    void FailInit(int32_t times, int32_t code);
    // Every client initialisation takes this long before it answers, as the official library's
    // does while it loads the runtime's client and connects. A change takes effect also on
    // initialisations already waiting (0 ends their wait).
    void DelayInit(std::chrono::milliseconds delay);

    // The server shuts down: sends VREvent_Quit to every connected client, refuses new ones
    // (VRInitError_Init_ShuttingDown), waits until no client is connected any more and kills
    // those still connected after `limit`. Returns at once when no client is connected.
    QuitResult QuitClients(std::chrono::milliseconds limit = kQuitLimit);
    // Queues an event (a vr::EVREventType) for every connected client.
    void PostEvent(uint32_t eventType);
    uint32_t ConnectedClients() const;
    // Events queued for connected clients that they have not taken yet.
    uint32_t PendingEvents() const;

    // The first device slot without a device, or -1.
    int FirstFreeSlot() const;
    // A copy of a device slot (all zero outside the table).
    TrackedDeviceSlot Slot(uint32_t index) const;

    // Changes the runtime's settings under the table's lock (the user editing steamvr.vrsettings
    // while the runtime runs). False when the change did not fit.
    bool EditSettings(const std::function<bool(SettingsStore &)> &edit);
    // The table, for a host that answers its driver's settings from it; null when not running.
    TrackedDeviceTable *Table() const { return table_; }

    // Every pose query answers with its own time in place of the velocities (for measurements).
    void StampPoseQueries(bool stamp);

    uint32_t InitCalls() const;
    uint32_t ShutdownCalls() const;
    uint64_t PoseQueries() const;
    uint32_t DoubleInits() const;
    uint32_t QuitAcknowledgements() const;
    uint32_t CallsAfterShutdown() const;

private:
    void SetDeviceBytes(uint32_t index, int32_t deviceClass, int32_t role, const void *pose, int32_t sortKey);
    void SetPoseBytes(uint32_t index, const void *pose);

    SharedRegion region_;
    TrackedDeviceTable *table_ = nullptr;
};

} // namespace sim
