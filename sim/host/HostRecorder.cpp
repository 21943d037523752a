#include "HostRecorder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace sim {

std::string PropertyWriteRecord::AsString() const
{
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return std::string(bytes.begin(), end);
}

int32_t PropertyWriteRecord::AsInt32() const
{
    int32_t value = 0;
    if (bytes.size() >= sizeof value)
        std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

namespace {
std::atomic<ViolationHandler> violationHandler{nullptr};
} // namespace

void SetViolationHandler(ViolationHandler handler) { violationHandler.store(handler); }

void HostRecorder::Notify()
{
    ++version_;
    changed_.notify_all();
}

void HostRecorder::AddLog(const std::string &text)
{
    std::function<void(const std::string &)> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        logs_.push_back({text, Clock::now(), frame_});
        listener = logListener_;
        Notify();
    }
    if (listener)
        listener(text);
}

void HostRecorder::AddDevice(const DeviceRecord &device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.push_back(device);
    Notify();
}

void HostRecorder::AddPropertyWrite(PropertyWriteRecord record)
{
    std::lock_guard<std::mutex> lock(mutex_);
    propertyWrites_.push_back(std::move(record));
    Notify();
}

void HostRecorder::AddComponent(const ComponentRecord &component)
{
    std::lock_guard<std::mutex> lock(mutex_);
    components_.push_back(component);
    Notify();
}

void HostRecorder::AddUpdate(ComponentUpdate update)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ComponentRecord &c : components_)
        if (c.handle == update.handle)
            update.name = c.name;
    update.frame = frame_;
    updates_.push_back(std::move(update));
    Notify();
}

void HostRecorder::AddPose(const PoseRecord &pose)
{
    std::lock_guard<std::mutex> lock(mutex_);
    lastPose_ = pose;
    lastPose_.frame = frame_;
    ++poseCount_;
    if (keepPoses_)
        poses_.push_back(lastPose_);
    Notify();
}

void HostRecorder::AddViolation(const std::string &what)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        violations_.push_back(what);
        Notify();
    }
    if (ViolationHandler handler = violationHandler.load())
        handler(what);
    else
        std::fprintf(stderr, "simulated server: %s\n", what.c_str());
}

std::vector<std::string> HostRecorder::Violations() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
}

bool HostRecorder::FindComponent(vr::VRInputComponentHandle_t handle, ComponentRecord &out) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ComponentRecord &c : components_) {
        if (c.handle == handle) {
            out = c;
            return true;
        }
    }
    return false;
}

void HostRecorder::SetLogListener(std::function<void(const std::string &)> listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    logListener_ = std::move(listener);
}

void HostRecorder::KeepPoseHistory(bool keep)
{
    std::lock_guard<std::mutex> lock(mutex_);
    keepPoses_ = keep;
}

std::vector<LogRecord> HostRecorder::Logs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return logs_;
}

std::vector<std::string> HostRecorder::LogTexts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> texts;
    texts.reserve(logs_.size());
    for (const LogRecord &l : logs_)
        texts.push_back(l.text);
    return texts;
}

size_t HostRecorder::CountLogLocked(const std::string &text, bool prefix) const
{
    size_t n = 0;
    for (const LogRecord &l : logs_)
        if (prefix ? l.text.compare(0, text.size(), text) == 0 : l.text == text)
            ++n;
    return n;
}

size_t HostRecorder::CountLog(const std::string &text) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLogLocked(text, false);
}

size_t HostRecorder::CountLogPrefix(const std::string &prefix) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLogLocked(prefix, true);
}

std::vector<DeviceRecord> HostRecorder::Devices() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_;
}

std::vector<PropertyWriteRecord> HostRecorder::PropertyWrites() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return propertyWrites_;
}

std::vector<ComponentRecord> HostRecorder::Components() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return components_;
}

std::vector<ComponentUpdate> HostRecorder::Updates() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return updates_;
}

std::vector<PoseRecord> HostRecorder::Poses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return poses_;
}

size_t HostRecorder::PoseCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return poseCount_;
}

bool HostRecorder::LastPose(PoseRecord &out) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (poseCount_ == 0)
        return false;
    out = lastPose_;
    return true;
}

std::string HostRecorder::ComponentName(vr::VRInputComponentHandle_t handle) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ComponentRecord &c : components_)
        if (c.handle == handle)
            return c.name;
    return {};
}

bool HostRecorder::WaitUntil(const std::function<bool()> &predicate, std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen = version_;
        }
        if (predicate())
            return true;
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_until(lock, deadline, [&] { return version_ != seen; }))
            return false;
    }
}

bool HostRecorder::WaitForLog(const std::string &text, std::chrono::milliseconds limit, size_t count)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return CountLogLocked(text, false) >= count; });
}

bool HostRecorder::WaitForLogPrefix(const std::string &prefix, std::chrono::milliseconds limit,
                                    size_t count)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return CountLogLocked(prefix, true) >= count; });
}

void HostRecorder::Wake()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Notify();
}

void HostRecorder::SetFrame(uint64_t frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    frame_ = frame;
}

uint64_t HostRecorder::Frame() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frame_;
}

} // namespace sim
