#include "PoseLock.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace tarvolt {

namespace {

// Reads before it exchanges, so that a waiter does not take the byte's cache line away from the
// holder at every try.
bool TryOnce(std::atomic<uint8_t> &lock)
{
    return lock.load(std::memory_order_relaxed) == 0 && lock.exchange(1, std::memory_order_seq_cst) == 0;
}

} // namespace

int64_t MonotonicNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CpuPauseHint()
{
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
    _mm_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}

bool AcquirePoseLockBriefly(std::atomic<uint8_t> &lock, const PoseLockWait &wait)
{
    if (lock.exchange(1, std::memory_order_seq_cst) == 0)
        return true;
    const int64_t start = wait.now();
    for (uint32_t i = 0; i < wait.spinTries; ++i) {
        wait.pause();
        if (TryOnce(lock))
            return true;
    }
    while (wait.now() - start < wait.boundNs) {
        wait.yield();
        if (TryOnce(lock))
            return true;
    }
    return false;
}

void AcquirePoseLock(std::atomic<uint8_t> &lock)
{
    if (AcquirePoseLockBriefly(lock))
        return;
    do
        SleepMilliseconds(kLockRetryMs);
    while (lock.exchange(1, std::memory_order_seq_cst) != 0);
}

bool AcquirePoseLockWithin(std::atomic<uint8_t> &lock, uint32_t maxSleeps)
{
    if (AcquirePoseLockBriefly(lock))
        return true;
    for (uint32_t sleeps = 0; sleeps < maxSleeps; ++sleeps) {
        SleepMilliseconds(kLockRetryMs);
        if (lock.exchange(1, std::memory_order_seq_cst) == 0)
            return true;
    }
    return false;
}

void ReleasePoseLock(std::atomic<uint8_t> &lock) { lock.store(0, std::memory_order_release); }

} // namespace tarvolt
