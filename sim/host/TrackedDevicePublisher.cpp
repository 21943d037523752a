#include "TrackedDevicePublisher.h"

#include <new>
#include <thread>

namespace sim {

void LockTable(TrackedDeviceTable &table)
{
    while (table.lock.exchange(1, std::memory_order_acquire) != 0)
        std::this_thread::yield();
}

void UnlockTable(TrackedDeviceTable &table) { table.lock.store(0, std::memory_order_release); }

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

void TrackedDevicePublisher::StampPoseQueries(bool stamp)
{
    if (table_ != nullptr)
        table_->stampPoseQueries.store(stamp ? 1 : 0);
}

uint32_t TrackedDevicePublisher::InitCalls() const { return table_ ? table_->initCalls.load() : 0; }

uint32_t TrackedDevicePublisher::ShutdownCalls() const { return table_ ? table_->shutdownCalls.load() : 0; }

uint64_t TrackedDevicePublisher::PoseQueries() const { return table_ ? table_->poseQueries.load() : 0; }

} // namespace sim
