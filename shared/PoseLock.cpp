#include "PoseLock.h"

namespace tarvolt {

void AcquirePoseLock(std::atomic<uint8_t> &lock)
{
    while (lock.exchange(1, std::memory_order_seq_cst) != 0)
        SleepMilliseconds(kLockRetryMs);
}

bool AcquirePoseLockWithin(std::atomic<uint8_t> &lock, uint32_t maxSleeps)
{
    for (uint32_t sleeps = 0;; ++sleeps) {
        if (lock.exchange(1, std::memory_order_seq_cst) == 0)
            return true;
        if (sleeps == maxSleeps)
            return false;
        SleepMilliseconds(kLockRetryMs);
    }
}

void ReleasePoseLock(std::atomic<uint8_t> &lock) { lock.store(0, std::memory_order_release); }

} // namespace tarvolt
