// The fake bluetoothd's devices and their GATT objects: the link, the services that follow it,
// notify sessions and sockets, reads, and bluetoothd's timers on them.
#include "FakeBluez.h"

#include "FakeNames.h"
#include "SimClock.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace sim {

using namespace fake_bluez;

namespace {

// src/device.c: DISCONNECT_TIMER.
constexpr std::chrono::seconds kDisconnectTimer{2};
// The kernel gives up creating a link to a device that does not advertise.
constexpr std::chrono::seconds kConnectAttempt{5};

} // namespace

bool FakeBluez::HandleDevice(sd_bus_message *call, const std::string &interface, const std::string &member,
                             const std::string &path, const std::string &sender)
{
    const int p = PeripheralAt(path);
    if (p < 0)
        return false;
    if (interface == kDevice && member == "Connect") {
        DoConnect(call, p);
    } else if (interface == kDevice && member == "Disconnect") {
        ++stats_.closes;
        DoDisconnect(call, p);
    } else if (interface == kCharacteristic && member == "StartNotify") {
        DoStartNotify(call, p, path);
    } else if (interface == kCharacteristic && member == "AcquireNotify" && modes_.acquireNotify) {
        DoAcquireNotify(call, p, path);
    } else if (interface == kCharacteristic && member == "StopNotify") {
        // Anyone's StopNotify ends an acquired socket (src/gatt-client.c: characteristic_stop_notify).
        if (acquired_.count(path) != 0) {
            ReleaseSocket(path);
            Reply(call);
            return true;
        }
        auto &clients = notifySessions_[path];
        if (clients.erase(sender) == 0) {
            ReplyError(call, "org.bluez.Error.Failed", "No notify session started");
            return true;
        }
        Reply(call);
        if (clients.empty())
            EmitChanged(path, kCharacteristic, {{"Notifying", Value::Bool(false)}});
    } else if (interface == kCharacteristic && member == "ReadValue") {
        // The value read is stored and signalled as a notification's is, to every subscriber
        // (src/gatt-client.c: characteristic_read_value, chrc_read_cb, write_characteristic_cb).
        if (!At(p).connected) {
            ReplyError(call, "org.bluez.Error.Failed", "Not connected");
            return true;
        }
        values_[path] = At(p).value;
        EmitChanged(path, kCharacteristic, {{"Value", Value::Bytes(At(p).value)}});
        Reply(call, {Value::Bytes(At(p).value)});
    } else {
        return false;
    }
    return true;
}

// src/device.c: dev_connect, device_connect_le, att_connect_cb.
void FakeBluez::DoConnect(sd_bus_message *call, int p)
{
    ++connects_;
    // One attempt at a time: a Connect while another is pending is refused (dev->connect).
    const auto pending = parked_.find({p, Step::Connect});
    if ((pending != parked_.end() && !pending->second.empty()) || !At(p).failingConnects.empty()) {
        ReplyError(call, "org.bluez.Error.InProgress", "In Progress");
        return;
    }
    if (held_.count({p, Step::Connect})) {
        Park(call, p, Step::Connect);
        return;
    }
    Peripheral &peripheral = At(p);
    if (!peripheral.script.connectable || peripheral.script.connectError != 0) {
        // bluetoothd maps every failure of an LE connection attempt to this one.
        ReplyError(call, "org.bluez.Error.Failed", "le-connection-abort-by-local");
        return;
    }
    if (peripheral.connected) {
        Reply(call);
        return;
    }
    if (!peripheral.script.advertising) {
        // The kernel waits for an advertisement to connect to, then gives up.
        api_->sd_bus_message_ref(call);
        peripheral.failingConnects.push_back(call);
        if (peripheral.failingConnects.size() == 1)
            peripheral.connectFailsAt = SimClockInstance().Now() + kConnectAttempt;
        return;
    }
    peripheral.connected = true;
    peripheral.bonded = true;  // Connect makes a device permanent (btd_device_set_temporary)
    // The change is queued first and flushed ahead of the reply (gdbus/object.c: g_dbus_send_message).
    EmitChanged(DevicePathOf(p), kDevice, {{"Connected", Value::Bool(true)}});
    Reply(call);
    LinkUp(p);
}

// The GATT client's work once the link is up: the services, then ServicesResolved
// (src/gatt-client.c: btd_gatt_client_ready; src/device.c: device_svc_resolved).
void FakeBluez::LinkUp(int p)
{
    Peripheral &peripheral = At(p);
    const Outcome &query = peripheral.script.servicesQuery;
    if ((query.error != 0 || query.status != CommunicationStatus::Success) &&
        (query.times < 0 || peripheral.failedBrowses++ < query.times)) {
        // Browsing the services failed: bluetoothd drops the link.
        LinkDown(p);
        return;
    }
    // A changed attribute table is found when the cache is checked again on connecting.
    if (peripheral.gatt && peripheral.handleShift != peripheral.nextHandleShift)
        RemoveGatt(p);
    peripheral.handleShift = peripheral.nextHandleShift;
    if (!peripheral.gatt && modes_.servicesResolvedFirst) {
        peripheral.resolved = true;
        EmitChanged(DevicePathOf(p), kDevice, {{"ServicesResolved", Value::Bool(true)}});
        if (held_.count({p, Step::Services})) {
            Park(nullptr, p, Step::Services);
            return;
        }
        ExportGatt(p);
        ReadGapName(p);
        return;
    }
    if (!peripheral.gatt)
        ExportGatt(p);
    if (held_.count({p, Step::Services})) {
        Park(nullptr, p, Step::Services);
        return;
    }
    ResolveServices(p);
}

void FakeBluez::ResolveServices(int p)
{
    Peripheral &peripheral = At(p);
    if (!peripheral.connected)
        return;
    peripheral.resolved = true;
    EmitChanged(DevicePathOf(p), kDevice, {{"ServicesResolved", Value::Bool(true)}});
    ReadGapName(p);
}

// The GAP service's Device Name replaces the name held (profiles/gap/gas.c: read_device_name_cb).
void FakeBluez::ReadGapName(int p)
{
    Peripheral &peripheral = At(p);
    if (!peripheral.connected || peripheral.gapName.empty() || peripheral.gapName == peripheral.name)
        return;
    peripheral.name = peripheral.gapName;
    EmitChanged(DevicePathOf(p), kDevice,
                {{"Name", Value::String(peripheral.name)}, {"Alias", Value::String(peripheral.name)}});
}

void FakeBluez::ExportGatt(int p)
{
    Peripheral &peripheral = At(p);
    if (peripheral.gatt)
        return;
    peripheral.gatt = true;
    for (size_t s = 0; s < peripheral.script.services.size(); ++s) {
        EmitAdded(ServicePath(p, s));
        for (size_t c = 0; c < peripheral.script.services[s].characteristics.size(); ++c)
            EmitAdded(CharacteristicPath(p, s, c));
    }
}

void FakeBluez::RemoveGatt(int p)
{
    Peripheral &peripheral = At(p);
    if (!peripheral.gatt)
        return;
    for (size_t s = 0; s < peripheral.script.services.size(); ++s) {
        for (size_t c = 0; c < peripheral.script.services[s].characteristics.size(); ++c) {
            const std::string path = CharacteristicPath(p, s, c);
            ReleaseSocket(path);
            notifySessions_.erase(path);  // the sessions go with their object
            values_.erase(path);
            EmitRemoved(path, {kCharacteristic});
        }
        EmitRemoved(ServicePath(p, s), {kService});
    }
    peripheral.gatt = false;
}

// src/device.c: dev_disconnect, device_request_disconnect.
void FakeBluez::DoDisconnect(sd_bus_message *call, int p)
{
    // Disconnect also gives up a Connect not yet answered: its caller gets an error, and the
    // attempt never brings the link up behind the caller's back.
    CancelConnects(p);
    Peripheral &peripheral = At(p);
    if (!modes_.slowDisconnect || !peripheral.connected) {
        LinkDown(p);
        Reply(call);
        return;
    }
    api_->sd_bus_message_ref(call);
    peripheral.disconnects.push_back(call);
    if (!peripheral.disconnecting) {
        peripheral.disconnecting = true;
        peripheral.disconnectAt = SimClockInstance().Now() + kDisconnectTimer;
    }
}

// src/device.c: device_remove_connection; src/gatt-client.c: btd_gatt_client_disconnected.
void FakeBluez::LinkDown(int p)
{
    Peripheral &peripheral = At(p);
    if (!peripheral.connected)
        return;
    for (const std::string &path : CharacteristicPaths(p))
        ReleaseSocket(path);
    if (modes_.cacheNo)
        RemoveGatt(p);
    peripheral.connected = peripheral.resolved = peripheral.disconnecting = false;
    peripheral.lastSeen = SimClockInstance().Now();
    // bluetoothd announces the services gone first, then the link.
    EmitChanged(DevicePathOf(p), kDevice, {{"ServicesResolved", Value::Bool(false)}});
    EmitChanged(DevicePathOf(p), kDevice, {{"Connected", Value::Bool(false)}});
    for (sd_bus_message *call : peripheral.disconnects) {
        Reply(call);
        api_->sd_bus_message_unref(call);
    }
    peripheral.disconnects.clear();
}

// How a refused subscription is answered (src/gatt-client.c: create_gatt_dbus_error); false
// when the script lets it succeed.
bool FakeBluez::RefuseSubscription(sd_bus_message *call, int p, const std::string &path)
{
    Peripheral &peripheral = At(p);
    Outcome outcome;
    for (size_t s = 0; s < peripheral.script.services.size(); ++s)
        for (size_t c = 0; c < peripheral.script.services[s].characteristics.size(); ++c)
            if (CharacteristicPath(p, s, c) == path)
                outcome = peripheral.script.services[s].characteristics[c].subscribe;
    // The script's count is of descriptor writes, whichever call made them.
    if ((outcome.error == 0 && outcome.status == CommunicationStatus::Success) ||
        (outcome.times >= 0 && peripheral.refusedWrites++ >= outcome.times))
        return false;
    if (outcome.status == CommunicationStatus::AccessDenied)
        ReplyError(call, "org.bluez.Error.NotPermitted", "Write not permitted");
    else if (outcome.status == CommunicationStatus::Unreachable)
        ReplyError(call, "org.bluez.Error.NotConnected", "Not Connected");
    else
        ReplyError(call, "org.bluez.Error.Failed", "Operation failed with ATT error: 0x0e");
    return true;
}

// src/gatt-client.c: characteristic_start_notify, register_notify_cb.
void FakeBluez::DoStartNotify(sd_bus_message *call, int p, const std::string &path)
{
    if (held_.count({p, Step::Subscribe})) {
        Park(call, p, Step::Subscribe, path);
        return;
    }
    Peripheral &peripheral = At(p);
    const std::string sender = api_->sd_bus_message_get_sender(call) ? api_->sd_bus_message_get_sender(call) : "";
    if (peripheral.disconnecting) {
        ReplyError(call, "org.bluez.Error.NotConnected", "Not Connected");
        return;
    }
    if (acquired_.count(path) != 0) {
        ReplyError(call, "org.bluez.Error.NotPermitted", "Notify acquired");
        return;
    }
    auto &clients = notifySessions_[path];
    if (clients.count(sender) != 0) {
        // Registered again only once the link is back.
        if (peripheral.connected)
            Reply(call);
        else
            ReplyError(call, "org.bluez.Error.InProgress", "In Progress");
        return;
    }
    // Not connected: the session is kept and registered when the services are back.
    if (peripheral.connected && RefuseSubscription(call, p, path))
        return;
    const bool first = clients.empty();
    clients.insert(sender);
    Reply(call);
    if (first)
        EmitChanged(path, kCharacteristic, {{"Notifying", Value::Bool(true)}});
}

// src/gatt-client.c: characteristic_acquire_notify, register_notify_io_cb, create_sock.
void FakeBluez::DoAcquireNotify(sd_bus_message *call, int p, const std::string &path)
{
    if (held_.count({p, Step::Subscribe})) {
        Park(call, p, Step::Subscribe, path);
        return;
    }
    if (!At(p).connected) {
        ReplyError(call, "org.bluez.Error.Failed", "Not connected");
        return;
    }
    if (acquired_.count(path) != 0) {
        ReplyError(call, "org.bluez.Error.NotPermitted", "Notify acquired");
        return;
    }
    if (!notifySessions_[path].empty()) {
        ReplyError(call, "org.bluez.Error.InProgress", "In Progress");
        return;
    }
    if (RefuseSubscription(call, p, path))
        return;
    int fds[2];
    if (socketpair(AF_LOCAL, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) < 0) {
        ReplyError(call, "org.bluez.Error.Failed", std::strerror(errno));
        return;
    }
    Value handed;
    handed.type = 'h';
    handed.integer = fds[1];
    Reply(call, {handed, Value::UInt16(modes_.mtu)});  // the message carries a copy of the descriptor
    close(fds[1]);
    const char *sender = api_->sd_bus_message_get_sender(call);
    acquired_[path] = {fds[0], sender ? sender : ""};
    EmitChanged(path, kCharacteristic, {{"NotifyAcquired", Value::Bool(true)}});
}

// src/gatt-client.c: destroy_sock.
void FakeBluez::ReleaseSocket(const std::string &path)
{
    const auto found = acquired_.find(path);
    if (found == acquired_.end())
        return;
    close(found->second.fd);
    acquired_.erase(found);
    EmitChanged(path, kCharacteristic, {{"NotifyAcquired", Value::Bool(false)}});
}

void FakeBluez::RunTimers()
{
    const auto now = SimClockInstance().Now();
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        const int p = static_cast<int>(i);
        Peripheral &peripheral = peripherals_[i];
        if (peripheral.disconnecting && now >= peripheral.disconnectAt)
            LinkDown(p);
        if (peripheral.failingConnects.empty())
            continue;
        const bool heard = peripheral.script.advertising && powered_;
        if (!heard && now < peripheral.connectFailsAt)
            continue;
        std::vector<sd_bus_message *> calls = std::move(peripheral.failingConnects);
        peripheral.failingConnects.clear();
        if (heard && !peripheral.connected) {
            peripheral.connected = peripheral.bonded = true;
            EmitChanged(DevicePathOf(p), kDevice, {{"Connected", Value::Bool(true)}});
        }
        for (sd_bus_message *call : calls) {
            if (heard)
                Reply(call);
            else
                ReplyError(call, "org.bluez.Error.Failed", "le-connection-abort-by-local");
            api_->sd_bus_message_unref(call);
        }
        if (heard)
            LinkUp(p);
    }
}

void FakeBluez::Park(sd_bus_message *call, int p, Step step, const std::string &path)
{
    if (call != nullptr)
        api_->sd_bus_message_ref(call);
    parked_[{p, step}].push_back({call, path});
    treeReadsAtPark_ = treeReads_;
    changed_.notify_all();
}

void FakeBluez::CancelConnects(int p)
{
    // src/device.c: device_request_disconnect answers the pending Connect.
    std::vector<sd_bus_message *> calls = std::move(At(p).failingConnects);
    At(p).failingConnects.clear();
    const auto found = parked_.find({p, Step::Connect});
    if (found != parked_.end()) {
        for (Parked &parked : found->second)
            if (parked.call != nullptr)
                calls.push_back(parked.call);
        parked_.erase(found);
    }
    for (sd_bus_message *call : calls) {
        ReplyError(call, "org.bluez.Error.Failed", "br-connection-canceled");
        api_->sd_bus_message_unref(call);
    }
    changed_.notify_all();
}

} // namespace sim
