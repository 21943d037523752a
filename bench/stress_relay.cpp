// A relay that takes the pose lock flat out: lock, copy one stamped 80-byte record, unlock, and at
// once again. It never backs off: a held lock is tried again after a CPU pause hint, however
// long it takes. The worst a writer on the block can do to the frame update's wait without
// breaking the lock's protocol. Started by the driver in its place of
// vistrel (make bench's own package); it ends when its server does, or when the driver ends it.
// Only for measuring (make bench); never shipped.
#include "SharedPose.h"
#include "TrackedDeviceTable.h"

#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
inline void Pause() { _mm_pause(); }
#else
inline void Pause() {}
#endif

#include <chrono>
#include <cstdint>
#include <cstring>

int main()
{
    using namespace tarvolt;
    const pid_t server = getppid();
    PoseBlockHandle mapping = OpenPoseBlockMapping();
    void *view = mapping != nullptr ? MapPoseBlock(mapping) : nullptr;
    if (view == nullptr)
        return 1;
    SharedPose &block = *static_cast<SharedPose *>(view);

    vr::TrackedDevicePose_t record;
    std::memset(static_cast<void *>(&record), 0, sizeof record);
    for (int i = 0; i < 3; ++i)
        record.mDeviceToAbsoluteTracking.m[i][i] = 1.0f;
    record.mDeviceToAbsoluteTracking.m[1][3] = 1.0f;
    record.eTrackingResult = vr::TrackingResult_Running_OK;
    record.bPoseIsValid = record.bDeviceIsConnected = true;

    for (uint64_t pass = 0;; ++pass) {
        // The stamp says when this record was made, as the simulated runtime's pose queries do.
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        sim::StampPoseQuery(record.vVelocity.v,
                            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        while (block.lock.exchange(1, std::memory_order_seq_cst) != 0)
            Pause();
        std::memcpy(static_cast<void *>(&block.pose), &record, sizeof record);
        ReleasePoseLock(block.lock);
        // An orphan is handed to a reaper: its server has ended.
        if ((pass & 0xFFFF) == 0 && getppid() != server)
            break;
    }
    UnmapPoseBlock(view);
    ClosePoseBlockMapping(mapping);
    return 0;
}
