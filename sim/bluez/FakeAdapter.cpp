// The fake bluetoothd's adapter: discovery per client with its filter, the device objects that
// advertising reports make and update, and what ends with the last discovery.
#include "FakeBluez.h"

#include "FakeNames.h"
#include "SimClock.h"

#include <cstdlib>

namespace sim {

using namespace fake_bluez;

namespace {

// One entry of a SetDiscoveryFilter dictionary, checked as bluetoothd parses it (src/adapter.c:
// parse_discovery_filter_entry and its parsers).
bool ParseFilterEntry(const std::string &key, const tarvolt::bluez::Value &v, bool &rssi, bool &pathloss,
                      std::string &transport, bool &duplicate, bool &uuids, bool &pattern)
{
    if (key == "RSSI")
        return v.type == 'n' && v.integer >= -127 && v.integer <= 20 && (rssi = true);
    if (key == "Pathloss")
        return v.type == 'q' && v.natural <= 137 && (pathloss = true);
    if (key == "Transport") {
        transport = v.text;
        return v.type == 's' && (v.text == "auto" || v.text == "le" || v.text == "bredr");
    }
    if (key == "DuplicateData") {
        duplicate = v.boolean;
        return v.type == 'b';
    }
    if (key == "UUIDs") {
        uuids = !v.items.empty();
        return v.Signature() == "as";
    }
    if (key == "Pattern") {
        pattern = !v.text.empty();
        return v.type == 's';
    }
    return (key == "Discoverable" || key == "AutoConnect") && v.type == 'b';
}

} // namespace

bool FakeBluez::HandleAdapter(sd_bus_message *call, const std::string &member, const std::string &sender,
                              const std::vector<Value> &args)
{
    if (member != "SetDiscoveryFilter" && member != "StartDiscovery" && member != "StopDiscovery")
        return false;
    if (!powered_) {
        ReplyError(call, "org.bluez.Error.NotReady", "Resource Not Ready");
        return true;
    }
    if (member == "SetDiscoveryFilter") {
        // src/adapter.c: set_discovery_filter, parse_discovery_filter_dict.
        Filter filter;
        bool valid = args.size() == 1 && args[0].Signature() == "a{sv}";
        for (size_t i = 0; valid && i < args[0].items.size(); ++i)
            valid = ParseFilterEntry(args[0].items[i].items[0].text, args[0].items[i].items[1].items[0], filter.rssi,
                                     filter.pathloss, filter.transport, filter.duplicate, filter.uuids, filter.pattern);
        if (!valid || (filter.rssi && filter.pathloss)) {
            ReplyError(call, "org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
            return true;
        }
        ++stats_.watchersCreated;  // counts the filters set
        filters_[sender] = filter;
        if (sessions_.count(sender))
            sessions_[sender] = filter;
        Reply(call);
        return true;
    }
    if (member == "StartDiscovery") {
        // src/adapter.c: start_discovery.
        ++stats_.starts;
        if (sessions_.count(sender)) {
            ReplyError(call, "org.bluez.Error.InProgress", "Operation already in progress");
            return true;
        }
        const bool first = sessions_.empty();
        const auto filter = filters_.find(sender);
        sessions_[sender] = filter != filters_.end() ? filter->second : Filter{};
        Reply(call);
        if (first) {
            EmitChanged(kAdapterPath, kAdapter, {{"Discovering", Value::Bool(true)}});
            nextAdvertising_ = std::chrono::steady_clock::now();
        }
        return true;
    }
    // src/adapter.c: stop_discovery.
    ++stats_.stops;
    if (sessions_.count(sender) == 0) {
        ReplyError(call, "org.bluez.Error.Failed", "No discovery started");
        return true;
    }
    Reply(call);
    EndSession(sender);
    return true;
}

bool FakeBluez::Filtered() const
{
    for (const auto &session : sessions_)
        if (!session.second.Regular())
            return true;
    return false;
}

void FakeBluez::Advertise()
{
    if (!adapter_ || !powered_ || sessions_.empty() || paused_)
        return;
    // A filter with UUIDs lets through only what advertises one of them; the scripted peripherals
    // advertise none (src/adapter.c: is_filter_match).
    bool match = false;
    for (const auto &session : sessions_)
        match = match || !session.second.uuids;
    for (size_t i = 0; i < peripherals_.size() && match; ++i)
        if (peripherals_[i].script.advertising && !peripherals_[i].connected)
            Report(static_cast<int>(i));
}

// One advertising report (src/adapter.c: btd_adapter_device_found).
void FakeBluez::Report(int i)
{
    Peripheral &p = At(i);
    const std::string path = DevicePathOf(i);
    // Each report restarts a temporary device's timer (src/device.c: device_update_last_seen).
    p.lastSeen = SimClockInstance().Now();
    const std::string name = Utf8(p.script.name);
    if (!p.known) {
        p.known = true;
        p.rssi = p.script.rssi;
        p.found = true;
        if (!name.empty())
            p.name = name;
        EmitAdded(path);
        return;
    }
    Props changed;
    // A filter with RSSI or Pathloss (before commit e004414a1: any filter) has every report
    // signalled; otherwise only a change of 8 dBm or more, or the first value after none
    // (src/device.c: device_set_rssi_with_delta).
    bool proximity = modes_.rssiRule == BluezModes::RssiRule::UpTo587;
    for (const auto &session : sessions_)
        proximity = proximity || session.second.rssi || session.second.pathloss;
    const int threshold = Filtered() && proximity ? 0 : 8;
    if (p.rssi == 0 || std::abs(p.rssi - p.script.rssi) >= threshold) {
        if (!(p.rssi == 0 && p.script.rssi == 0)) {
            p.rssi = p.script.rssi;
            changed["RSSI"] = Value::Int16(p.rssi);
        }
    }
    // A complete local name always replaces the one held, a name read over GATT included
    // (src/adapter.c: btd_adapter_device_found, btd_device_device_set_name).
    if (!name.empty() && p.name != name) {
        p.name = name;
        changed["Name"] = Value::String(name);
        changed["Alias"] = Value::String(name);
    }
    p.found = true;
    if (!changed.empty())
        EmitChanged(path, kDevice, changed);
}

void FakeBluez::EndSession(const std::string &client)
{
    if (sessions_.erase(client) != 0 && sessions_.empty())
        EndDiscovery();
}

// The last discovery ended (src/adapter.c: discovery_cleanup, then the Discovering change once
// the kernel stopped).
void FakeBluez::EndDiscovery()
{
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        Peripheral &p = peripherals_[i];
        // What this discovery heard loses its RSSI (invalidate_rssi_and_tx_power).
        if (p.found && p.rssi != 0) {
            p.rssi = 0;
            EmitChanged(DevicePathOf(static_cast<int>(i)), kDevice, {}, {"RSSI"});
        }
        p.found = false;
        // Temporary devices that cannot be connected to go with it.
        if (p.known && !p.bonded && !p.script.connectable && !p.connected) {
            p.known = false;
            EmitRemoved(DevicePathOf(static_cast<int>(i)), {kDevice});
        }
    }
    EmitChanged(kAdapterPath, kAdapter, {{"Discovering", Value::Bool(false)}});
}

// Temporary (never connected) devices go TemporaryTimeout after they were last heard
// (src/device.c: set_temporary_timer, device_disappeared).
void FakeBluez::ExpireTemporaryDevices()
{
    const auto now = SimClockInstance().Now();
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        Peripheral &p = peripherals_[i];
        if (!p.known || p.bonded || p.connected || now - p.lastSeen < modes_.temporaryTimeout)
            continue;
        p.known = p.found = false;
        p.rssi = 0;
        p.name.clear();
        EmitRemoved(DevicePathOf(static_cast<int>(i)), {kDevice});
    }
}

void FakeBluez::EndScan()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (sessions_.empty())
        return;
    sessions_.clear();
    EndDiscovery();
}

void FakeBluez::SetAnotherClientDiscovering(bool discovering)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!discovering) {
        EndSession(kAnotherClient);
        return;
    }
    if (sessions_.count(kAnotherClient) != 0)
        return;
    const bool first = sessions_.empty();
    sessions_[kAnotherClient] = Filter{};
    if (first)
        EmitChanged(kAdapterPath, kAdapter, {{"Discovering", Value::Bool(true)}});
    Advertise();
}

void FakeBluez::SetPowered(bool powered)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (powered_ == powered)
        return;
    powered_ = powered;
    EmitChanged(kAdapterPath, kAdapter, {{"Powered", Value::Bool(powered)}});
    if (powered)
        return;
    // Powering off ends every discovery session and every link.
    if (!sessions_.empty()) {
        sessions_.clear();
        EndDiscovery();
    }
    for (size_t i = 0; i < peripherals_.size(); ++i)
        LinkDown(static_cast<int>(i));
}

void FakeBluez::RemoveAdapter()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!adapter_)
        return;
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        Peripheral &p = peripherals_[i];
        for (const std::string &path : CharacteristicPaths(static_cast<int>(i)))
            ReleaseSocket(path);
        p.connected = p.resolved = p.found = false;
        p.rssi = 0;
        if (p.known)
            EmitRemoved(DevicePathOf(static_cast<int>(i)), {kDevice});
        p.known = p.gatt = false;
    }
    sessions_.clear();
    EmitRemoved(kAdapterPath, {kAdapter});
    adapter_ = false;
}

void FakeBluez::SetReadiness(Readiness readiness)
{
    // What a BlueZ machine can have of each; the Windows Runtime's classes have no equivalent.
    switch (readiness) {
    case Readiness::Ready: SetPowered(true); break;
    case Readiness::NoAdapter: RemoveAdapter(); break;
    case Readiness::AdapterOff: SetPowered(false); break;
    case Readiness::StackMissing: Vanish(); break;
    case Readiness::ClassesUnavailable:
    case Readiness::Unusable: break;
    }
}

} // namespace sim
