#pragma once
// The simulated radio behind tarvolt::radio::Radio. One mutex guards its state; handlers are
// always called with it released, on the radio's event thread, so that they may call back into
// the radio (the advertisement handler stops the watcher) as they may on the real platform.
#include "EventThread.h"
#include "RadioControl.h"
#include "SimClock.h"
#include "bluetooth/HandlerList.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace sim {

namespace radio = tarvolt::radio;

class SimRadio;
class SimWatcher;
class SimDevice;
class SimCharacteristic;

// An event of one object: its handlers by token, as on the platform.
template <typename Handler>
using EventSource = radio::HandlerList<Handler>;

// How often a peripheral advertises while a watcher is started, in real time.
inline constexpr std::chrono::milliseconds kAdvertiseInterval{50};

// Drops the references to objects nobody holds any more, so that a long run's objects do not
// pile up behind them (an object made with make_shared keeps its memory while referenced).
template <class T>
void ForgetExpired(std::vector<std::weak_ptr<T>> &references)
{
    references.erase(std::remove_if(references.begin(), references.end(),
                                    [](const std::weak_ptr<T> &r) { return r.expired(); }),
                     references.end());
}

using SimTime = tarvolt::Clock::TimePoint;  // on the simulation's clock

struct Peripheral {
    PeripheralScript script;  // the radio's copy: queries count down its outcomes' `times`
    bool connected = false;
    bool otherHolder = false;      // another program keeps the link up and has it restored
    bool restorePending = false;   // dropped while maintained; restored once reachable
    std::optional<SimTime> unheldSince;  // connected, and nobody has held the link since then
    // When one of its devices was last released without Close (written by the device's destructor,
    // which may run with the radio's mutex held), in ticks of the simulation's clock.
    std::shared_ptr<std::atomic<int64_t>> lastRelease = std::make_shared<std::atomic<int64_t>>(0);
    std::vector<std::weak_ptr<SimDevice>> devices;
    std::vector<std::weak_ptr<SimCharacteristic>> characteristics;
};

class SimRadio final : public radio::Radio, public RadioControl {
public:
    // radio::Radio
    void EnterApartment() override {}
    std::shared_ptr<radio::Watcher> CreateWatcher() override;
    std::shared_ptr<radio::Device> FromBluetoothAddress(uint64_t address) override;
    std::vector<std::shared_ptr<radio::Device>> ConnectedDevices() override;
    std::u16string GuidToString(const radio::Guid &guid) override;
    radio::RadioCheck CheckRadio() override;
    int CallbacksHeld() override { return Stats().attachedHandlers; }

    // RadioControl
    int AddPeripheral(const PeripheralScript &script) override;
    void SetReadiness(Readiness readiness) override;
    void SetAdvertising(int peripheral, bool advertising) override;
    void SetAdvertiseInterval(std::chrono::milliseconds interval) override;
    void Notify(int peripheral, const std::vector<uint8_t> &bytes) override;
    void NotifyFailing(int peripheral, ResultCode error) override;
    void Drop(int peripheral) override;
    void EndScan() override;
    void SetRadioAvailable(bool available) override;
    void Hold(int peripheral, Step step) override;
    bool WaitUntilHeld(int peripheral, Step step, std::chrono::milliseconds limit) override;
    void Release(int peripheral, Step step) override;
    void PauseEvents() override;
    void ResumeEvents() override;
    bool WaitUntilIdle(std::chrono::milliseconds limit) override;
    RadioStats Stats() override;
    void CompressTime(uint32_t factor) override;
    void SetOtherHolder(int peripheral, bool holds) override;
    void DropWithoutEvent(int peripheral) override;
    void SetWatcherFault(WatcherFault fault, int count) override;
    void Shutdown() override;

    // Whether nothing of the radio is in use: no event thread, no event, no held step, and no
    // watcher, device or characteristic that anyone still holds. Never blocks: false while
    // another thread holds the radio's lock (at a process's end it may be one that no longer runs).
    bool Unused();

    // For the radio's objects.
    std::mutex &Mutex() { return mutex_; }
    Peripheral &PeripheralLocked(int id) { return peripherals_.at(static_cast<size_t>(id)); }
    void Post(std::function<void()> event);  // mutex held
    // Blocks while the step is held; raises a cancelled operation's error when the worker's
    // stop signal ends the wait first. Mutex not held.
    void Checkpoint(int peripheral, Step step);
    void Count(int RadioStats::*counter);
    void RecordResult(ResultCode result);
    void WatcherStarted();  // mutex held
    bool RadioAvailableLocked() const { return available_; }
    Readiness ReadinessLocked() const { return readiness_; }
    // Posts a connection status change to a device (mutex held).
    void PostStatus(const std::shared_ptr<SimDevice> &device, radio::ConnectionStatus status);
    // The link of a peripheral (SimLink.cpp), mutex held. Connected: the link comes up and every
    // open device hears of it. Settle: a link that nobody has held for its close hold goes down.
    // Unheld: the last holder let go now.
    void ConnectLocked(Peripheral &p);
    void SettleLocked(Peripheral &p);
    void UnheldLocked(Peripheral &p);
    WatcherFault TakeWatcherFault();  // mutex held
    // A maintained link that is down comes back once the peripheral can be reached.
    void ScheduleRestoreLocked(int id);

private:
    // Runs `event` on the event thread once `delay` has passed on the simulation's clock.
    void PostAfter(std::chrono::milliseconds delay, std::function<void()> event);  // mutex held
    bool HeldLocked(const Peripheral &p) const;
    // Drops the link; `events`: the open devices hear of it. A maintained link is restored.
    void LoseLinkLocked(Peripheral &p, bool events);
    void RestoreLocked(int id);

    void NotifyWith(int peripheral, const std::vector<uint8_t> &bytes, ResultCode error);
    void EnsureThreadLocked();
    void EventLoop();
    // True on the radio's own event thread, which a held step never holds.
    static bool OnEventThread();
    void AdvertiseOnce(std::unique_lock<std::mutex> &lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> events_;
    std::multimap<SimTime, std::function<void()>> timers_;  // PostAfter's events, by when they are due
    bool delivering_ = false;
    bool stopping_ = false;
    bool paused_ = false;
    bool available_ = true;
    bool running_ = false;        // the event thread is in its loop
    bool stopHooked_ = false;     // held steps wake on the worker's stop signal
    EventThread thread_;
    std::chrono::milliseconds interval_{kAdvertiseInterval};
    std::chrono::steady_clock::time_point nextAdvertising_{};
    std::vector<std::weak_ptr<SimWatcher>> watchers_;
    std::vector<Peripheral> peripherals_;
    std::set<std::pair<int, Step>> held_;
    std::set<std::pair<int, Step>> waiting_;
    RadioStats stats_;
    Readiness readiness_ = Readiness::Ready;
    WatcherFault watcherFault_ = WatcherFault::None;
    int watcherFaults_ = 0;  // watchers still to get it (-1: every one)
};

SimRadio &SimRadioInstance();

} // namespace sim
