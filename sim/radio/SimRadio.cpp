#include "SimRadio.h"

#include "SimClock.h"
#include "SimObjects.h"
#include "bluetooth/StopSignal.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

constexpr ResultCode kNullPointer = static_cast<ResultCode>(0x80004003u);  // E_POINTER

// A notification as the platform's data reader sees it, or one whose buffer cannot be read.
class Notification final : public radio::ValueChangedArgs {
public:
    Notification(const std::vector<uint8_t> &bytes, ResultCode error) : bytes_(bytes), error_(error) {}
    uint32_t UnconsumedBufferLength() override
    {
        if (error_ != 0)
            throw radio::PlatformError(error_);
        return static_cast<uint32_t>(bytes_.size() - read_);
    }
    void ReadBytes(uint8_t *destination, uint32_t count) override
    {
        // A null array is refused whatever the length: the platform's reader documents no
        // exception for an empty read.
        if (destination == nullptr)
            throw radio::PlatformError(kNullPointer);
        if (count > bytes_.size() - read_)
            throw radio::PlatformError(radio::kFail);
        if (count != 0)
            std::memcpy(destination, bytes_.data() + read_, count);
        read_ += count;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t read_ = 0;
    ResultCode error_;
};

} // namespace

namespace {
std::atomic<SimRadio *> instance{nullptr};
} // namespace

SimRadio &SimRadioInstance()
{
    SimRadio *radio = instance.load();
    if (radio != nullptr)
        return *radio;
    auto *made = new SimRadio();
    if (instance.compare_exchange_strong(radio, made))
        return *made;
    delete made;  // another thread made it first
    return *radio;
}

namespace {
// The library that holds the radio is unloaded, or the program ends. The radio goes with it when
// nothing of it is in use any more, so that a runtime that loads the driver again and again does
// not collect one radio per load; otherwise it stays, for the driver's threads that may still use
// it while the program exits.
struct ReleaseAtUnload {
    ~ReleaseAtUnload()
    {
        SimRadio *radio = instance.load();
        if (radio == nullptr)
            return;
#if !defined(_WIN32)
        // The event thread must not outlive the library's code (on Windows it keeps the library
        // loaded until it has ended).
        radio->Shutdown();
#endif
        if (!radio->Unused() || !instance.compare_exchange_strong(radio, nullptr))
            return;
        delete radio;
    }
} releaseAtUnload;
} // namespace

RadioControl &SimRadioControl() { return SimRadioInstance(); }

std::shared_ptr<radio::Watcher> SimRadio::CreateWatcher()
{
    auto watcher = std::make_shared<SimWatcher>(*this);
    std::lock_guard<std::mutex> lock(mutex_);
    // As under Wine, which has none of the Bluetooth classes: activation fails.
    if (readiness_ == Readiness::ClassesUnavailable)
        throw radio::PlatformError(radio::kClassNotRegistered);
    ++stats_.watchersCreated;
    watcher->fault = TakeWatcherFault();
    ForgetExpired(watchers_);
    watchers_.push_back(watcher);
    return watcher;
}

std::shared_ptr<radio::Device> SimRadio::FromBluetoothAddress(uint64_t address)
{
    int id = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (readiness_ == Readiness::ClassesUnavailable)
            throw radio::PlatformError(radio::kClassNotRegistered);
        if (readiness_ != Readiness::Ready)
            return nullptr;
        for (size_t i = 0; i < peripherals_.size(); ++i)
            if (peripherals_[i].script.address == address)
                id = static_cast<int>(i);
    }
    if (id < 0)
        return nullptr;
    Checkpoint(id, Step::Connect);
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = peripherals_[static_cast<size_t>(id)];
    if (!available_)
        return nullptr;
    if (p.script.connectError != 0)
        throw radio::PlatformError(p.script.connectError);
    if (!p.script.connectable)
        return nullptr;
    SettleLocked(p);
    auto device = std::make_shared<SimDevice>(
        *this, id, p.connected ? radio::ConnectionStatus::Connected : radio::ConnectionStatus::Disconnected,
        p.lastRelease);
    ForgetExpired(p.devices);
    p.devices.push_back(device);
    p.unheldSince.reset();  // a new holder
    return device;
}

std::vector<std::shared_ptr<radio::Device>> SimRadio::ConnectedDevices()
{
    std::vector<uint64_t> addresses;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (readiness_ == Readiness::ClassesUnavailable)
            throw radio::PlatformError(radio::kClassNotRegistered);
        if (readiness_ != Readiness::Ready || !available_)
            return {};
        for (Peripheral &p : peripherals_) {
            SettleLocked(p);
            if (p.connected)
                addresses.push_back(p.script.address);
        }
    }
    std::vector<std::shared_ptr<radio::Device>> devices;
    for (uint64_t address : addresses)
        if (auto device = FromBluetoothAddress(address))
            devices.push_back(std::move(device));
    return devices;
}

std::u16string SimRadio::GuidToString(const radio::Guid &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2,
                  g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                  g.data4[7]);
    return std::u16string(text, text + std::strlen(text));
}

radio::RadioCheck SimRadio::CheckRadio()
{
    std::lock_guard<std::mutex> lock(mutex_);
    switch (readiness_) {
    case Readiness::Ready:
        return {};
    case Readiness::NoAdapter:
        return {readiness_, "the simulated machine has no Bluetooth adapter"};
    case Readiness::AdapterOff:
        return {readiness_, "the simulated Bluetooth adapter is switched off"};
    case Readiness::StackMissing:
        return {readiness_, "the simulated machine's Bluetooth service is not running"};
    case Readiness::ClassesUnavailable:
        return {readiness_, "the simulated machine has no Bluetooth classes"};
    case Readiness::Unusable:
    default:
        return {Readiness::Unusable, "the simulated machine's Bluetooth cannot be used"};
    }
}

void SimRadio::SetReadiness(Readiness readiness)
{
    std::lock_guard<std::mutex> lock(mutex_);
    readiness_ = readiness;
    // Switching Bluetooth off aborts every scan, as on the platform.
    if (readiness != Readiness::Ready)
        for (auto &weak : watchers_)
            if (auto w = weak.lock())
                w->AbortLocked(kStopRadioNotAvailable);
}

int SimRadio::AddPeripheral(const PeripheralScript &script)
{
    std::lock_guard<std::mutex> lock(mutex_);
    peripherals_.push_back(Peripheral{});
    Peripheral &p = peripherals_.back();
    p.script = script;
    if (script.connectedAtStart) {
        p.connected = true;
        p.unheldSince = SimClockInstance().Now();
    }
    changed_.notify_all();
    return static_cast<int>(peripherals_.size() - 1);
}

void SimRadio::SetAdvertising(int peripheral, bool advertising)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = PeripheralLocked(peripheral);
    p.script.advertising = advertising;
    if (advertising && p.restorePending)
        ScheduleRestoreLocked(peripheral);
    changed_.notify_all();
}

void SimRadio::SetAdvertiseInterval(std::chrono::milliseconds interval)
{
    std::lock_guard<std::mutex> lock(mutex_);
    interval_ = interval;
}

void SimRadio::CompressTime(uint32_t factor)
{
    if (factor == 0)
        factor = 1;
    SimClockInstance().Compress(factor);
    std::lock_guard<std::mutex> lock(mutex_);
    interval_ = std::max(std::chrono::milliseconds(1), kAdvertiseInterval / factor);
    changed_.notify_all();  // timers due on the simulation's clock come sooner
}

void SimRadio::Notify(int peripheral, const std::vector<uint8_t> &bytes) { NotifyWith(peripheral, bytes, 0); }

void SimRadio::NotifyFailing(int peripheral, ResultCode error) { NotifyWith(peripheral, {}, error); }

void SimRadio::NotifyWith(int peripheral, const std::vector<uint8_t> &bytes, ResultCode error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Post([this, peripheral, bytes, error] {
        std::vector<std::shared_ptr<SimCharacteristic>> targets;
        {
            std::lock_guard<std::mutex> inner(mutex_);
            Peripheral &p = PeripheralLocked(peripheral);
            for (auto &weak : p.characteristics) {
                auto c = weak.lock();
                auto d = c ? c->device.lock() : nullptr;
                if (c && c->notifying && d && !d->closed && p.connected)
                    targets.push_back(c);
            }
        }
        for (auto &c : targets) {
            Notification args(bytes, error);
            c->RaiseValueChanged(args);
        }
    });
}

void SimRadio::EndScan()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &weak : watchers_)
        if (auto w = weak.lock())
            w->AbortLocked(kStopOtherError);
}

void SimRadio::SetRadioAvailable(bool available)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (available_ == available)
        return;
    available_ = available;
    if (!available) {
        for (auto &weak : watchers_)
            if (auto w = weak.lock())
                w->AbortLocked(kStopRadioNotAvailable);
        for (Peripheral &p : peripherals_)
            LoseLinkLocked(p, true);
    } else {
        for (size_t id = 0; id < peripherals_.size(); ++id)
            if (peripherals_[id].restorePending)
                ScheduleRestoreLocked(static_cast<int>(id));
    }
    changed_.notify_all();
}

void SimRadio::Hold(int peripheral, Step step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    held_.insert({peripheral, step});
}

bool SimRadio::WaitUntilHeld(int peripheral, Step step, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return waiting_.count({peripheral, step}) != 0; });
}

void SimRadio::Release(int peripheral, Step step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    held_.erase({peripheral, step});
    changed_.notify_all();
}

// A held step is a platform operation that has not finished. Like the worker's wait for a real
// one, it ends when the device is deactivated (the worker's stop signal), and the operation then
// fails as a cancelled one.
void SimRadio::Checkpoint(int peripheral, Step step)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (held_.count({peripheral, step}) == 0 || OnEventThread())
        return;
    if (!stopHooked_) {
        stopHooked_ = true;
        tarvolt::radio::WorkerStop().OnRaise([this] {
            std::lock_guard<std::mutex> woken(mutex_);
            changed_.notify_all();
        });
    }
    waiting_.insert({peripheral, step});
    changed_.notify_all();
    tarvolt::radio::StopSignal &stop = tarvolt::radio::WorkerStop();
    changed_.wait(lock, [&] { return held_.count({peripheral, step}) == 0 || stop.Raised(); });
    waiting_.erase({peripheral, step});
    if (held_.count({peripheral, step}) != 0)
        throw radio::PlatformError(radio::kCanceled);
}

bool SimRadio::WaitUntilIdle(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.empty() && !delivering_; });
}

RadioStats SimRadio::Stats()
{
    std::vector<std::shared_ptr<SimWatcher>> watchers;
    std::vector<std::shared_ptr<SimDevice>> devices;
    std::vector<std::shared_ptr<SimCharacteristic>> characteristics;
    RadioStats stats;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stats = stats_;
        for (auto &w : watchers_)
            if (auto s = w.lock())
                watchers.push_back(s);
        for (auto &p : peripherals_) {
            for (auto &d : p.devices)
                if (auto s = d.lock())
                    devices.push_back(s);
            for (auto &c : p.characteristics)
                if (auto s = c.lock())
                    characteristics.push_back(s);
        }
    }
    for (auto &w : watchers) {
        stats.attachedHandlers += w->received.Count() + w->stopped.Count();
        std::lock_guard<std::mutex> lock(mutex_);
        stats.scanning += w->started ? 1 : 0;
        stats.activeScanning += w->mode == radio::ScanningMode::Active ? 1 : 0;
    }
    stats.devicesHeld = static_cast<int>(devices.size());
    for (auto &d : devices)
        stats.attachedHandlers += d->statusChanged.Count();
    for (auto &c : characteristics)
        stats.attachedHandlers += c->valueChanged.Count();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &d : devices)
        stats.maintained += d->maintained ? 1 : 0;
    for (auto &c : characteristics)
        stats.notifying += c->notifying ? 1 : 0;
    return stats;
}

bool SimRadio::Unused()
{
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || running_ || delivering_ || !events_.empty() || !timers_.empty() || !held_.empty() ||
        !waiting_.empty())
        return false;
    const auto gone = [](const auto &references) {
        return std::all_of(references.begin(), references.end(), [](const auto &r) { return r.expired(); });
    };
    if (!gone(watchers_))
        return false;
    for (const Peripheral &p : peripherals_)
        if (!gone(p.devices) || !gone(p.characteristics))
            return false;
    return true;
}

void SimRadio::Count(int RadioStats::*counter)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++(stats_.*counter);
}

void SimRadio::RecordResult(ResultCode result)
{
    if (result == radio::kOk)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.handlerFailures.push_back(result);
}

void SimRadio::PostStatus(const std::shared_ptr<SimDevice> &device, radio::ConnectionStatus status)
{
    Post([this, device, status] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            device->status = status;
        }
        device->RaiseStatusChanged();
    });
}

} // namespace sim
