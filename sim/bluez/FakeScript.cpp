// What a test or the demo scripts on the fake bluetoothd: peripherals, held steps, bluetoothd
// ending or its adapter going, and what other programs on the machine do to its shared objects.
#include "FakeBluez.h"

#include "FakeNames.h"
#include "SimClock.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace sim {

using namespace fake_bluez;

void FakeBluez::SetModes(const BluezModes &modes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    modes_ = modes;
}

int FakeBluez::AddPeripheral(const PeripheralScript &script)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral p;
    p.script = script;
    p.gapName = Utf8(script.gapName);
    peripherals_.push_back(std::move(p));
    const int id = static_cast<int>(peripherals_.size() - 1);
    if (script.connectedAtStart) {
        // Left connected by a session that ended without letting it go.
        Peripheral &added = At(id);
        added.known = added.bonded = added.connected = true;
        added.name = Utf8(script.name);
        EmitAdded(DevicePathOf(id));
        LinkUp(id);
    }
    Wake();
    return id;
}

void FakeBluez::SetAdvertising(int peripheral, bool advertising)
{
    std::lock_guard<std::mutex> lock(mutex_);
    At(peripheral).script.advertising = advertising;
    Wake();
}

void FakeBluez::SetAdvertiseInterval(std::chrono::milliseconds interval)
{
    std::lock_guard<std::mutex> lock(mutex_);
    interval_ = interval;
}

void FakeBluez::CompressTime(uint32_t factor)
{
    SimClockInstance().Compress(factor);
    std::lock_guard<std::mutex> lock(mutex_);
    interval_ = std::max(std::chrono::milliseconds(1), interval_ / (factor == 0 ? 1 : factor));
}

void FakeBluez::Drop(int peripheral)
{
    std::lock_guard<std::mutex> lock(mutex_);
    LinkDown(peripheral);
}

void FakeBluez::Vanish()
{
    StopLoop();
    std::lock_guard<std::mutex> lock(mutex_);
    // The links die with the daemon; what it had connected to it finds again in its storage.
    sessions_.clear();
    filters_.clear();
    notifySessions_.clear();
    for (auto &entry : acquired_)
        close(entry.second.fd);
    acquired_.clear();
    for (Peripheral &p : peripherals_) {
        for (sd_bus_message *call : p.disconnects)
            api_->sd_bus_message_unref(call);
        for (sd_bus_message *call : p.failingConnects)
            api_->sd_bus_message_unref(call);
        p.disconnects.clear();
        p.failingConnects.clear();
        p.connected = p.resolved = p.found = p.disconnecting = false;
        p.rssi = 0;
        p.known = p.bonded;
        p.gatt = p.gatt && p.bonded && !modes_.cacheNo;
    }
}

void FakeBluez::Hold(int peripheral, Step step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    held_.insert({peripheral, step});
}

bool FakeBluez::WaitUntilHeld(int peripheral, Step step, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        const auto found = parked_.find({peripheral, step});
        return found != parked_.end() && !found->second.empty();
    });
}

void FakeBluez::Release(int peripheral, Step step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    held_.erase({peripheral, step});
    std::vector<Parked> parked = std::move(parked_[{peripheral, step}]);
    parked_.erase({peripheral, step});
    for (Parked &p : parked) {
        const char *member = p.call != nullptr ? api_->sd_bus_message_get_member(p.call) : nullptr;
        if (step == Step::Connect) {
            DoConnect(p.call, peripheral);
        } else if (step == Step::Subscribe && member != nullptr && std::string(member) == "AcquireNotify") {
            DoAcquireNotify(p.call, peripheral, p.path);
        } else if (step == Step::Subscribe) {
            DoStartNotify(p.call, peripheral, p.path);
        } else if (step == Step::Services && !At(peripheral).gatt && At(peripheral).resolved) {
            ExportGatt(peripheral);  // resolved first, the objects after
            ReadGapName(peripheral);
        } else if (step == Step::Services) {
            ResolveServices(peripheral);
        }
        if (p.call != nullptr)
            api_->sd_bus_message_unref(p.call);
    }
}

void FakeBluez::PauseEvents()
{
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = true;
}

void FakeBluez::ResumeEvents()
{
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = false;
    Wake();
}

bool FakeBluez::WaitUntilIdle(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = passes_ + 2;
    Wake();
    return changed_.wait_for(lock, limit, [&] { return passes_ >= target || bus_ == nullptr; });
}

RadioStats FakeBluez::Stats()
{
    std::lock_guard<std::mutex> lock(mutex_);
    RadioStats stats = stats_;
    for (const auto &session : sessions_) {
        if (session.first == kAnotherClient)
            continue;
        ++stats.scanning;
        stats.activeScanning += session.second.transport == "le" ? 1 : 0;
    }
    return stats;
}

void FakeBluez::OverrideProperty(int peripheral, const std::string &interface, const std::string &name,
                                 const Value &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    At(peripheral).overrides["org.bluez." + interface][name] = value;
}

void FakeBluez::Notify(int peripheral, const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = At(peripheral);
    if (!p.connected)
        return;
    p.value = bytes;
    for (const std::string &path : CharacteristicPaths(peripheral)) {
        const auto acquired = acquired_.find(path);
        if (acquired != acquired_.end()) {
            // One datagram each, no Value change; a notification carries at most MTU - 3 bytes
            // (src/gatt-client.c: notify_io_cb).
            const size_t size = std::min<size_t>(bytes.size(), modes_.mtu > 3 ? modes_.mtu - 3u : 0u);
            (void)!send(acquired->second.fd, bytes.data(), size, MSG_NOSIGNAL | MSG_DONTWAIT);
        } else if (!notifySessions_[path].empty()) {
            // Stored and signalled even when equal (src/gatt-client.c: notify_cb).
            values_[path] = bytes;
            EmitChanged(path, kCharacteristic, {{"Value", Value::Bytes(bytes)}});
        }
    }
}

void FakeBluez::NotifyFailing(int peripheral, ResultCode)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!At(peripheral).connected)
        return;
    for (const std::string &path : CharacteristicPaths(peripheral))
        if (acquired_.count(path) == 0 && !notifySessions_[path].empty())
            EmitChanged(path, kCharacteristic, {{"Value", Value::String("not bytes")}});
}

void FakeBluez::MakeKnown(int peripheral)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = At(peripheral);
    if (p.known)
        return;
    // Loaded from storage: its cached name, no RSSI (src/device.c: device_create_from_storage).
    p.known = p.bonded = true;
    p.name = Utf8(p.script.name);
    EmitAdded(DevicePathOf(peripheral));
}

void FakeBluez::ConnectByAnotherClient(int peripheral, bool subscribe)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = At(peripheral);
    if (!p.known) {
        p.known = true;
        p.name = Utf8(p.script.name);
        EmitAdded(DevicePathOf(peripheral));
    }
    if (!p.connected) {
        // The link outlives its maker: nothing ties it to the client that asked for it
        // (src/device.c: dev_connect installs no watch on the caller).
        p.connected = p.bonded = true;
        EmitChanged(DevicePathOf(peripheral), kDevice, {{"Connected", Value::Bool(true)}});
        LinkUp(peripheral);
    }
    if (!subscribe || !p.gatt)
        return;
    for (const std::string &path : CharacteristicPaths(peripheral)) {
        auto &clients = notifySessions_[path];
        const bool first = clients.empty();
        clients.insert(kAnotherClient);
        if (first)
            EmitChanged(path, kCharacteristic, {{"Notifying", Value::Bool(true)}});
    }
}

bool FakeBluez::AsAnotherClient(const std::function<int(sd_bus *)> &act)
{
    sd_bus *bus = nullptr;
    int r = api_->sd_bus_new(&bus);
    if (r >= 0)
        r = api_->sd_bus_set_address(bus, address_.c_str());
    if (r >= 0)
        r = api_->sd_bus_set_bus_client(bus, 1);
    if (r >= 0)
        r = api_->sd_bus_start(bus);
    if (r >= 0)
        r = act(bus);
    if (r >= 0) {
        // The bus daemon handles one client's messages in order: once it has answered this call,
        // what the client sent before is queued for its receivers, ahead of anything sent later.
        sd_bus_message *call = nullptr;
        sd_bus_message *reply = nullptr;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        r = api_->sd_bus_message_new_method_call(bus, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                 "org.freedesktop.DBus", "GetId");
        if (r >= 0)
            r = api_->sd_bus_call(bus, call, 0, &error, &reply);
        api_->sd_bus_error_free(&error);
        if (reply != nullptr)
            api_->sd_bus_message_unref(reply);
        if (call != nullptr)
            api_->sd_bus_message_unref(call);
    }
    if (bus != nullptr) {
        api_->sd_bus_close(bus);
        api_->sd_bus_unref(bus);
    }
    return r >= 0;
}

bool FakeBluez::AnotherClientCalls(int peripheral, const std::string &member)
{
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paths = CharacteristicPaths(peripheral);
    }
    return AsAnotherClient([&](sd_bus *bus) {
        int r = 0;
        for (size_t i = 0; r >= 0 && i < paths.size(); ++i) {
            sd_bus_message *call = nullptr;
            sd_bus_message *reply = nullptr;
            sd_bus_error error = SD_BUS_ERROR_NULL;
            r = api_->sd_bus_message_new_method_call(bus, &call, "org.bluez", paths[i].c_str(), kCharacteristic,
                                                     member.c_str());
            if (r >= 0 && member == "ReadValue")
                r = tarvolt::bluez::AppendValue(*api_, call, Value::StringVariantDict({}));
            if (r >= 0)
                r = api_->sd_bus_call(bus, call, 0, &error, &reply);
            if (r < 0 && error.name != nullptr)
                r = 0;  // answered, with a refusal
            api_->sd_bus_error_free(&error);
            if (reply != nullptr)
                api_->sd_bus_message_unref(reply);
            if (call != nullptr)
                api_->sd_bus_message_unref(call);
        }
        return r;
    });
}

bool FakeBluez::Impersonate(int peripheral, const std::vector<uint8_t> &bytes)
{
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paths = CharacteristicPaths(peripheral);
    }
    return AsAnotherClient([&](sd_bus *bus) {
        int r = 0;
        for (size_t i = 0; r >= 0 && i < paths.size(); ++i) {
            sd_bus_message *m = nullptr;
            r = api_->sd_bus_message_new_signal(bus, &m, paths[i].c_str(), "org.freedesktop.DBus.Properties",
                                                "PropertiesChanged");
            const std::vector<std::pair<std::string, Value>> changed = {{"Value", Value::Bytes(bytes)}};
            for (const Value &v : {Value::String(kCharacteristic), Value::StringVariantDict(changed), Strings({})})
                if (r >= 0)
                    r = tarvolt::bluez::AppendValue(*api_, m, v);
            if (r >= 0)
                r = api_->sd_bus_send(bus, m, nullptr);
            if (m != nullptr)
                api_->sd_bus_message_unref(m);
        }
        return r;
    });
}

void FakeBluez::ChangeAttributeTable(int peripheral)
{
    std::lock_guard<std::mutex> lock(mutex_);
    At(peripheral).nextHandleShift += 0x100;
}

int FakeBluez::Connects()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connects_;
}

bool FakeBluez::WaitForCalls(const std::string &member, int count, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return calls_[member] >= count; });
}

bool FakeBluez::WaitForTreeReadWhileHeld(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return treeReads_ > treeReadsAtPark_; });
}

bool FakeBluez::WaitForStats(const std::function<bool(const RadioStats &)> &done, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(stats_); });
}

} // namespace sim
