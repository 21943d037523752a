#pragma once
// What the simulated runtime saw of the driver: every log line, announced device, property write,
// component, component update and published pose, in arrival order. Log lines arrive from any
// of the driver's threads; tests wait on the recorder for a condition instead of sleeping.
#include <openvr_driver.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

struct LogRecord {
    std::string text;
    Clock::time_point time;
    uint64_t frame;  // frames run before this line arrived
};

struct DeviceRecord {
    std::string serial;
    vr::ETrackedDeviceClass deviceClass;
    vr::ITrackedDeviceServerDriver *driver;
    bool accepted;
};

struct PropertyWriteRecord {
    vr::PropertyContainerHandle_t container;
    vr::ETrackedDeviceProperty prop;
    vr::EPropertyWriteType writeType;
    vr::PropertyTypeTag_t tag;
    std::vector<uint8_t> bytes;

    std::string AsString() const;  // the bytes up to the first NUL
    int32_t AsInt32() const;
};

enum class ComponentKind { Boolean, Scalar };

struct ComponentRecord {
    std::string name;
    ComponentKind kind;
    vr::PropertyContainerHandle_t container;
    vr::VRInputComponentHandle_t handle;
    vr::EVRScalarType scalarType;    // scalar components only
    vr::EVRScalarUnits scalarUnits;  // scalar components only
};

struct ComponentUpdate {
    std::string name;  // of the component the handle belongs to; empty for an unknown handle
    vr::VRInputComponentHandle_t handle;
    ComponentKind kind;
    bool boolValue;
    float scalarValue;
    double timeOffset;
    uint64_t frame;  // the frame (1-based) in which the update came
};

struct PoseRecord {
    uint32_t deviceIndex;
    vr::DriverPose_t pose;  // as published: in raw tracking space
    uint32_t size;
    uint64_t frame;
    Clock::time_point time;
    // Where applications see the device: the published pose in standing space (row-major 3x4,
    // rotation and then the position in metres).
    double standing[3][4];
};

// What SteamVR does not tolerate of a driver (an input or pose call for a device that is not
// active, a shutdown step that stalls) is a violation: recorded by the host and reported to this
// handler, which test programs point at a test failure. Without one, it is printed to stderr.
using ViolationHandler = void (*)(const std::string &what);
void SetViolationHandler(ViolationHandler handler);

class HostRecorder {
public:
    void AddLog(const std::string &text);
    void AddDevice(const DeviceRecord &device);
    void AddPropertyWrite(PropertyWriteRecord record);
    void AddComponent(const ComponentRecord &component);
    void AddUpdate(ComponentUpdate update);
    void AddPose(const PoseRecord &pose);
    void AddViolation(const std::string &what);

    // Called for every log line as it arrives (under no lock of the recorder).
    void SetLogListener(std::function<void(const std::string &)> listener);
    // Keep every published pose (default) or only the last one and a count, for long runs.
    void KeepPoseHistory(bool keep);

    std::vector<LogRecord> Logs() const;
    std::vector<std::string> LogTexts() const;
    size_t CountLog(const std::string &text) const;
    size_t CountLogPrefix(const std::string &prefix) const;
    std::vector<DeviceRecord> Devices() const;
    std::vector<PropertyWriteRecord> PropertyWrites() const;
    std::vector<ComponentRecord> Components() const;
    std::vector<ComponentUpdate> Updates() const;
    std::vector<PoseRecord> Poses() const;
    size_t PoseCount() const;
    bool LastPose(PoseRecord &out) const;
    std::string ComponentName(vr::VRInputComponentHandle_t handle) const;
    // The component a handle names; false for a handle the host never handed out.
    bool FindComponent(vr::VRInputComponentHandle_t handle, ComponentRecord &out) const;
    std::vector<std::string> Violations() const;

    // Waits until the predicate holds, evaluating it again each time something is recorded;
    // false when the time limit passed first. The predicate may call the recorder's getters.
    bool WaitUntil(const std::function<bool()> &predicate, std::chrono::milliseconds limit);
    // Waits for the count-th log line equal to text (or starting with it, for a prefix).
    bool WaitForLog(const std::string &text, std::chrono::milliseconds limit, size_t count = 1);
    bool WaitForLogPrefix(const std::string &prefix, std::chrono::milliseconds limit, size_t count = 1);
    // Makes every waiter evaluate its predicate again (a condition outside the recorder changed).
    void Wake();

    void SetFrame(uint64_t frame);
    uint64_t Frame() const;

private:
    size_t CountLogLocked(const std::string &text, bool prefix) const;
    void Notify();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LogRecord> logs_;
    std::vector<DeviceRecord> devices_;
    std::vector<PropertyWriteRecord> propertyWrites_;
    std::vector<ComponentRecord> components_;
    std::vector<ComponentUpdate> updates_;
    std::vector<PoseRecord> poses_;
    std::vector<std::string> violations_;
    PoseRecord lastPose_{};
    size_t poseCount_ = 0;
    bool keepPoses_ = true;
    uint64_t frame_ = 0;
    uint64_t version_ = 0;
    std::function<void(const std::string &)> logListener_;
};

} // namespace sim
