#include "RelaySupervisor.h"

#include "Clock.h"
#include "DriverLog.h"
#include "PoseLock.h"
#include "RelayProcess.h"
#include "RepeatLimiter.h"
#include "SharedPose.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

namespace tarvolt {

namespace {

using Duration = Clock::Duration;

// Faults found in records are logged at most this often.
constexpr std::chrono::seconds kFaultLogPeriod{1};

// Between the frame update and the thread: while the block is taken, frames do not read it.
std::atomic<bool> blockTaken{false};
std::atomic<int32_t> blockReaders{0};
// Faulty records counted by the frame update and not logged yet; whether the thread has been
// told of them (it is woken only when this was clear).
std::atomic<uint64_t> recordFaults[kRecordFaults]{};
std::atomic<bool> faultsNoted{false};

struct Supervision {
    std::thread thread;
    // Looked at right before every start. A start that Deactivate's request meets under way
    // finishes, and Deactivate ends that relay with the rest (it joins this thread first).
    std::atomic<bool> stop{false};
    SharedPose *block = nullptr;
    RepeatLimiter lines{[] { return PlatformClock().Now(); }};
    // When the thread last logged record faults (its own thread only).
    Clock::TimePoint faultsLogged{};
};

Supervision supervision;

bool Stopping() { return supervision.stop.load(); }

std::chrono::nanoseconds RealTime(Duration pause)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(PlatformClock().RealPause(pause));
}

bool AnyRecordFaults()
{
    for (const std::atomic<uint64_t> &count : recordFaults)
        if (count.load(std::memory_order_relaxed) != 0)
            return true;
    return false;
}

// Logs the record faults counted since the last time, at most once a kFaultLogPeriod. While a
// period runs the frame update does not wake the thread again; at its end the thread looks
// itself, and once a period passed without faults the next fault wakes it at once.
void LogRecordFaults()
{
    if (!faultsNoted.load())
        return;
    const Clock::TimePoint now = PlatformClock().Now();
    if (now - supervision.faultsLogged < kFaultLogPeriod)
        return;
    bool any = false;
    for (int f = 0; f < kRecordFaults; ++f)
        if (const uint64_t count = recordFaults[f].exchange(0, std::memory_order_relaxed)) {
            supervision.lines.Log(RecordFaultLine(static_cast<RecordFault>(f)), count);
            any = true;
        }
    supervision.faultsLogged = now;
    if (!any) {
        faultsNoted.store(false);
        // A fault counted just before the flag was cleared woke nobody: look again later.
        if (AnyRecordFaults())
            faultsNoted.store(true);
    }
}

// How long the thread may wait before it must look at the record faults again.
std::chrono::nanoseconds FaultWait()
{
    if (!faultsNoted.load())
        return std::chrono::nanoseconds::max();
    const Duration left = supervision.faultsLogged + kFaultLogPeriod - PlatformClock().Now();
    return RealTime(std::max(left, Duration::zero()));
}

// Waits `pause` on the build's clock; false as soon as the stop is requested.
bool Pause(Duration pause)
{
    Clock &clock = PlatformClock();
    const Clock::TimePoint end = clock.Now() + pause;
    for (;;) {
        if (Stopping())
            return false;
        const Clock::TimePoint now = clock.Now();
        if (now >= end)
            return true;
        WaitForRelayEnd(std::min(RealTime(end - now), FaultWait()));
        LogRecordFaults();
    }
}

// The relay has ended: its block is the driver's alone until the next relay starts. Frames stop
// reading it, and the one reading now is waited for (it holds the lock for one 80-byte copy, or
// gives up within its brief wait); a lock still set then was left by the dead relay.
// True when the relay left the lock set.
bool TakeBlockBack()
{
    SharedPose *block = supervision.block;
    if (block == nullptr)
        return false;
    blockTaken.store(true);
    while (blockReaders.load() != 0)
        YieldThread();
    const bool stale = block->lock.load() != 0;
    std::memset(static_cast<void *>(&block->pose), 0, sizeof block->pose);
    block->lock.store(0);
    blockTaken.store(false);
    return stale;
}

void SupervisionMain()
{
    Clock &clock = PlatformClock();
    Duration pause = Duration::zero();
    // The relay Activate started; without one (its start failed) the first pause comes at once.
    bool running = RelayProcessStarted();
    Clock::TimePoint started = clock.Now();
    while (!Stopping()) {
        Duration ran = Duration::zero();
        if (running) {
            const bool ended = WaitForRelayEnd(FaultWait());
            LogRecordFaults();
            if (!ended || Stopping())
                continue;
            // The block is cleared before the end is told, so that whoever reads the line finds
            // the rifle not tracking already.
            const RelayEnd end = CollectRelayEnd();
            const bool staleLock = TakeBlockBack();
            supervision.lines.Log(RelayEndLine(end));
            if (staleLock)
                supervision.lines.Log("Freed the pose lock that the ended Vistrel process held.");
            ran = clock.Now() - started;
        }
        pause = RestartPause(pause, ran);
        if (!Pause(pause))
            break;
        if (Stopping())
            break;
        running = LaunchRelayProcess(kRelayProgramName);
        supervision.lines.Log(running ? "Vistrel process restarted." : "Vistrel process could not be restarted.");
        started = clock.Now();
    }
}

} // namespace

Clock::Duration RestartPause(Clock::Duration last, Clock::Duration ran)
{
    if (last == Duration::zero() || ran >= kSteadyRelayRun)
        return kFirstRestartPause;
    return std::min<Duration>(last * 2, kLongestRestartPause);
}

void StartRelaySupervision(SharedPose *block)
{
    StopRelaySupervision();
    supervision.stop = false;
    supervision.block = block;
    supervision.lines.Reset();
    supervision.faultsLogged = Clock::TimePoint{};
    blockTaken = false;
    if (!OpenRelayWatch()) {
        Log("Failed to watch the Vistrel process; it will not be restarted.");
        return;
    }
    try {
        supervision.thread = std::thread(SupervisionMain);
    } catch (const std::system_error &) {
        CloseRelayWatch();
        Log("Failed to watch the Vistrel process; it will not be restarted.");
    }
}

void RequestRelaySupervisionStop()
{
    supervision.stop = true;
    WakeRelayWatch();
}

void StopRelaySupervision()
{
    RequestRelaySupervisionStop();
    if (supervision.thread.joinable()) {
        try {
            supervision.thread.join();
        } catch (const std::system_error &) {
            supervision.thread.detach();
        }
    }
    // No frame runs now (the device stopped them first), so nobody raises the wake any more.
    CloseRelayWatch();
    supervision.block = nullptr;
}

bool BeginBlockRead()
{
    blockReaders.fetch_add(1);
    if (!blockTaken.load())
        return true;
    blockReaders.fetch_sub(1);
    return false;
}

void EndBlockRead() { blockReaders.fetch_sub(1); }

void NoteRecordFault(RecordFault fault)
{
    recordFaults[static_cast<int>(fault)].fetch_add(1, std::memory_order_relaxed);
    if (!faultsNoted.exchange(true))
        WakeRelayWatch();
}

} // namespace tarvolt
