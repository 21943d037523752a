#pragma once
// The simulated runtime's side of the tracked-device table: which devices exist, their classes,
// controller roles and poses, as client programs (through the openvr_api stand-in) see them.
// The vrserver program publishes a demo set; tests publish their own and script the client
// library through it.
#include "TrackedDeviceTable.h"

#include <cstdint>
#include <cstring>

namespace sim {

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
    void RemoveDevice(uint32_t index);
    void RemoveAll();

    // The next `times` client initialisations fail with the given vr::EVRInitError code.
    void FailInit(int32_t times, int32_t code);

    // Every pose query answers with its own time in place of the velocities (for measurements).
    void StampPoseQueries(bool stamp);

    uint32_t InitCalls() const;
    uint32_t ShutdownCalls() const;
    uint64_t PoseQueries() const;

private:
    void SetDeviceBytes(uint32_t index, int32_t deviceClass, int32_t role, const void *pose, int32_t sortKey);
    void SetPoseBytes(uint32_t index, const void *pose);

    SharedRegion region_;
    TrackedDeviceTable *table_ = nullptr;
};

} // namespace sim
