#include "FakeBluez.h"

#include "SimClock.h"
#include "bluetooth/bluez/BluezText.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

using tarvolt::bluez::Value;

namespace {

constexpr const char *kAdapterPath = "/org/bluez/hci0";
constexpr const char *kAdapter = "org.bluez.Adapter1";
constexpr const char *kDevice = "org.bluez.Device1";
constexpr const char *kService = "org.bluez.GattService1";
constexpr const char *kCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char *kObjectManager = "org.freedesktop.DBus.ObjectManager";

std::string UuidText(const Guid &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

std::string AddressText(uint64_t address)
{
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(address >> 40 & 0xFF),
                  unsigned(address >> 32 & 0xFF), unsigned(address >> 24 & 0xFF), unsigned(address >> 16 & 0xFF),
                  unsigned(address >> 8 & 0xFF), unsigned(address & 0xFF));
    return text;
}

Value Strings(const std::vector<std::string> &items)
{
    std::vector<Value> values;
    for (const std::string &item : items)
        values.push_back(Value::String(item));
    return Value::Array("s", values);
}

std::string Utf8(const std::u16string &text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

} // namespace

struct FakeBluez::Peripheral {
    PeripheralScript script;
    bool connected = false;
    bool known = false;   // its Device1 object exists
    bool bonded = false;  // connected once: bluetoothd keeps it, with its services, across restarts
    bool gatt = false;    // its service objects exist
    std::map<std::string, Props> overrides;
};

FakeBluez::FakeBluez(std::string busAddress) : address_(std::move(busAddress)) {}

FakeBluez::~FakeBluez()
{
    Shutdown();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &entry : parked_)
        for (Parked &parked : entry.second)
            if (parked.call != nullptr)
                api_->sd_bus_message_unref(parked.call);
}

bool FakeBluez::Start(std::string &error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (bus_ != nullptr)
        return true;
    if (api_ == nullptr && (api_ = tarvolt::bluez::LoadSdBus(error)) == nullptr)
        return false;
    int r = api_->sd_bus_new(&bus_);
    if (r >= 0)
        r = api_->sd_bus_set_address(bus_, address_.c_str());
    if (r >= 0)
        r = api_->sd_bus_set_bus_client(bus_, 1);
    if (r >= 0)
        r = api_->sd_bus_start(bus_);
    if (r >= 0)
        r = api_->sd_bus_add_filter(bus_, nullptr, &FakeBluez::OnMessage, this);
    if (r >= 0)
        r = api_->sd_bus_add_match(bus_, nullptr,
                                   "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged'",
                                   &FakeBluez::OnMessage, this);
    if (r >= 0)
        r = api_->sd_bus_request_name(bus_, "org.bluez", 0);
    if (r < 0) {
        error = std::string("the fake bluetoothd cannot serve on the bus: ") + std::strerror(-r);
        if (bus_ != nullptr)
            api_->sd_bus_unref(bus_);
        bus_ = nullptr;
        return false;
    }
    if (wakeFd_ < 0)
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stopping_ = false;
    nextAdvertising_ = std::chrono::steady_clock::now();
    loop_ = std::thread([this] { Loop(); });
    return true;
}

void FakeBluez::StopLoop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (loop_.joinable())
        loop_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (bus_ != nullptr) {
        api_->sd_bus_close(bus_);
        api_->sd_bus_unref(bus_);
        bus_ = nullptr;
    }
}

void FakeBluez::Shutdown()
{
    StopLoop();
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
}

void FakeBluez::Vanish()
{
    StopLoop();
    std::lock_guard<std::mutex> lock(mutex_);
    // The links die with the daemon; what it had connected to it finds again in its storage.
    sessions_.clear();
    filters_.clear();
    notifySessions_.clear();
    unresolved_.clear();
    for (Peripheral &p : peripherals_) {
        p.connected = false;
        p.known = p.bonded;
        p.gatt = p.gatt && p.bonded;
    }
}

void FakeBluez::Wake()
{
    const uint64_t one = 1;
    if (wakeFd_ >= 0)
        (void)!write(wakeFd_, &one, sizeof one);
}

void FakeBluez::Loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        int r;
        do {
            r = api_->sd_bus_process(bus_, nullptr);
        } while (r > 0);
        if (r < 0)
            break;  // the bus went away: nothing more to serve
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextAdvertising_) {
            Advertise();
            nextAdvertising_ = now + interval_;
        }
        ++passes_;
        changed_.notify_all();
        pollfd fds[2] = {};
        fds[0].fd = api_->sd_bus_get_fd(bus_);
        fds[0].events = static_cast<short>(api_->sd_bus_get_events(bus_));
        fds[1].fd = wakeFd_;
        fds[1].events = POLLIN;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextAdvertising_ - now).count();
        lock.unlock();
        poll(fds, 2, static_cast<int>(std::max<long long>(1, wait)));
        uint64_t drained;
        (void)!read(wakeFd_, &drained, sizeof drained);
        lock.lock();
    }
    changed_.notify_all();
}

int FakeBluez::OnMessage(sd_bus_message *message, void *userdata, sd_bus_error *)
{
    auto *self = static_cast<FakeBluez *>(userdata);
    uint8_t type = 0;
    self->api_->sd_bus_message_get_type(message, &type);
    if (type == SD_BUS_MESSAGE_METHOD_CALL)
        return self->HandleCall(message);
    const char *member = self->api_->sd_bus_message_get_member(message);
    if (type == SD_BUS_MESSAGE_SIGNAL && member != nullptr && std::string(member) == "NameOwnerChanged")
        self->HandleOwnerChanged(message);
    return 0;
}

void FakeBluez::HandleOwnerChanged(sd_bus_message *message)
{
    std::vector<Value> args;
    if (!tarvolt::bluez::ReadValues(*api_, message, args) || args.size() != 3 || args[2].text != "")
        return;
    // A client that leaves the bus takes its discovery session and its notifications along.
    const std::string &client = args[0].text;
    filters_.erase(client);
    if (sessions_.erase(client) != 0 && sessions_.empty())
        EndDiscovery();
    for (auto &entry : notifySessions_)
        entry.second.erase(client);
}

int FakeBluez::HandleCall(sd_bus_message *call)
{
    auto text = [](const char *s) { return std::string(s ? s : ""); };
    const std::string path = text(api_->sd_bus_message_get_path(call));
    const std::string interface = text(api_->sd_bus_message_get_interface(call));
    const std::string member = text(api_->sd_bus_message_get_member(call));
    const std::string sender = text(api_->sd_bus_message_get_sender(call));
    ++calls_[member];
    changed_.notify_all();
    std::vector<Value> args;
    if (!tarvolt::bluez::ReadValues(*api_, call, args)) {
        ReplyError(call, "org.freedesktop.DBus.Error.InvalidArgs", "Invalid arguments");
        return 1;
    }
    const std::map<std::string, Props> object = Interfaces(path);
    if (path == "/" && interface == kObjectManager && member == "GetManagedObjects") {
        Reply(call, {ManagedObjects()});
        return 1;
    }
    if (object.count(interface) == 0) {
        ReplyError(call, object.empty() ? "org.freedesktop.DBus.Error.UnknownObject"
                                        : "org.freedesktop.DBus.Error.UnknownMethod",
                   "Method not known for this object");
        return 1;
    }
    if (interface == kAdapter && member == "SetDiscoveryFilter") {
        std::string transport = "auto";
        bool valid = args.size() == 1 && args[0].Signature() == "a{sv}";
        for (size_t i = 0; valid && i < args[0].items.size(); ++i) {
            const std::string &key = args[0].items[i].items[0].text;
            const Value &v = args[0].items[i].items[1].items[0];
            if (key == "Transport" && v.type == 's' && (v.text == "auto" || v.text == "le" || v.text == "bredr"))
                transport = v.text;
            else if (key != "DuplicateData" || v.type != 'b')
                valid = key == "RSSI" || key == "UUIDs" || key == "Pathloss" || key == "Discoverable" || key == "Pattern";
        }
        if (!valid) {
            ReplyError(call, "org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
            return 1;
        }
        ++stats_.watchersCreated;  // counts the filters set
        filters_[sender] = transport;
        if (sessions_.count(sender))
            sessions_[sender] = transport;
        Reply(call);
        return 1;
    }
    if (interface == kAdapter && member == "StartDiscovery") {
        ++stats_.starts;
        if (!powered_) {
            ReplyError(call, "org.bluez.Error.NotReady", "Resource Not Ready");
            return 1;
        }
        if (sessions_.count(sender)) {
            ReplyError(call, "org.bluez.Error.InProgress", "Operation already in progress");
            return 1;
        }
        const bool first = sessions_.empty();
        const auto filter = filters_.find(sender);
        sessions_[sender] = filter != filters_.end() ? filter->second : "auto";
        Reply(call);
        if (first) {
            EmitChanged(kAdapterPath, kAdapter, {{"Discovering", Value::Bool(true)}});
            nextAdvertising_ = std::chrono::steady_clock::now();
        }
        return 1;
    }
    if (interface == kAdapter && member == "StopDiscovery") {
        ++stats_.stops;
        if (sessions_.erase(sender) == 0) {
            ReplyError(call, "org.bluez.Error.Failed", "No discovery started");
            return 1;
        }
        Reply(call);
        if (sessions_.empty())
            EndDiscovery();
        return 1;
    }
    const int peripheral = PeripheralAt(path);
    if (interface == kDevice && member == "Connect") {
        DoConnect(call, peripheral);
        return 1;
    }
    if (interface == kDevice && member == "Disconnect") {
        ++stats_.closes;
        // As bluetoothd: Disconnect also cancels a Connect not yet answered. The attempt is
        // given up (its caller gets an error) and never brings the link up behind our back.
        CancelParkedConnects(peripheral);
        Disconnect(peripheral);
        Reply(call);
        return 1;
    }
    if (interface == kCharacteristic && member == "StartNotify") {
        DoStartNotify(call, peripheral, path);
        return 1;
    }
    if (interface == kCharacteristic && member == "StopNotify") {
        auto &clients = notifySessions_[path];
        if (clients.erase(sender) == 0) {
            ReplyError(call, "org.bluez.Error.Failed", "No notify session started");
            return 1;
        }
        Reply(call);
        if (clients.empty())
            EmitChanged(path, kCharacteristic, {{"Notifying", Value::Bool(false)}});
        return 1;
    }
    ReplyError(call, "org.freedesktop.DBus.Error.UnknownMethod", "Method not known for this object");
    return 1;
}

void FakeBluez::DoConnect(sd_bus_message *call, int p)
{
    ++connects_;
    if (held_.count({p, Step::Connect})) {
        Park(call, p, Step::Connect);
        return;
    }
    Peripheral &peripheral = peripherals_[static_cast<size_t>(p)];
    if (!peripheral.script.connectable || peripheral.script.connectError != 0) {
        // bluetoothd maps every failure of an LE connection attempt to this one.
        ReplyError(call, "org.bluez.Error.Failed", "le-connection-abort-by-local");
        return;
    }
    if (peripheral.connected) {
        Reply(call);
        return;
    }
    peripheral.connected = true;
    peripheral.bonded = true;
    Reply(call);  // the link is up; the services come after
    EmitChanged(DevicePathOf(p), kDevice, {{"Connected", Value::Bool(true)}});
    const Outcome &query = peripheral.script.servicesQuery;
    if (query.error != 0 || query.status != CommunicationStatus::Success) {
        // Browsing the services failed: bluetoothd drops the link.
        Disconnect(p);
        return;
    }
    if (!peripheral.gatt) {
        peripheral.gatt = true;
        for (size_t s = 0; s < peripheral.script.services.size(); ++s) {
            EmitAdded(ServicePath(p, s));
            for (size_t c = 0; c < peripheral.script.services[s].characteristics.size(); ++c)
                EmitAdded(CharacteristicPath(p, s, c));
        }
    }
    if (held_.count({p, Step::Services})) {
        unresolved_.insert(p);
        Park(nullptr, p, Step::Services);
        return;
    }
    ResolveServices(p);
}

void FakeBluez::ResolveServices(int p)
{
    unresolved_.erase(p);
    if (peripherals_[static_cast<size_t>(p)].connected)
        EmitChanged(DevicePathOf(p), kDevice, {{"ServicesResolved", Value::Bool(true)}});
}

void FakeBluez::DoStartNotify(sd_bus_message *call, int p, const std::string &path)
{
    if (held_.count({p, Step::Subscribe})) {
        Park(call, p, Step::Subscribe, path);
        return;
    }
    Peripheral &peripheral = peripherals_[static_cast<size_t>(p)];
    const std::string sender = api_->sd_bus_message_get_sender(call) ? api_->sd_bus_message_get_sender(call) : "";
    Outcome outcome;
    for (size_t s = 0; s < peripheral.script.services.size(); ++s)
        for (size_t c = 0; c < peripheral.script.services[s].characteristics.size(); ++c)
            if (CharacteristicPath(p, s, c) == path)
                outcome = peripheral.script.services[s].characteristics[c].subscribe;
    // Not connected: the session is kept and registered when the services are back.
    if (peripheral.connected && (outcome.error != 0 || outcome.status != CommunicationStatus::Success)) {
        if (outcome.status == CommunicationStatus::AccessDenied)
            ReplyError(call, "org.bluez.Error.NotPermitted", "Write not permitted");
        else if (outcome.status == CommunicationStatus::Unreachable)
            ReplyError(call, "org.bluez.Error.NotConnected", "Not Connected");
        else
            ReplyError(call, "org.bluez.Error.Failed", "Operation failed with ATT error: 0x0e");
        return;
    }
    auto &clients = notifySessions_[path];
    const bool first = clients.empty();
    clients.insert(sender);
    Reply(call);
    if (first)
        EmitChanged(path, kCharacteristic, {{"Notifying", Value::Bool(true)}});
}

void FakeBluez::Park(sd_bus_message *call, int p, Step step, const std::string &path)
{
    if (call != nullptr)
        api_->sd_bus_message_ref(call);
    parked_[{p, step}].push_back({call, path});
    changed_.notify_all();
}

void FakeBluez::CancelParkedConnects(int p)
{
    const auto found = parked_.find({p, Step::Connect});
    if (found == parked_.end())
        return;
    for (Parked &parked : found->second) {
        if (parked.call == nullptr)
            continue;
        ReplyError(parked.call, "org.bluez.Error.Failed", "Operation was cancelled");
        api_->sd_bus_message_unref(parked.call);
    }
    parked_.erase(found);
    changed_.notify_all();
}

void FakeBluez::Disconnect(int p)
{
    Peripheral &peripheral = peripherals_[static_cast<size_t>(p)];
    if (!peripheral.connected)
        return;
    peripheral.connected = false;
    unresolved_.erase(p);
    // bluetoothd announces the services gone first, then the link.
    EmitChanged(DevicePathOf(p), kDevice, {{"ServicesResolved", Value::Bool(false)}});
    EmitChanged(DevicePathOf(p), kDevice, {{"Connected", Value::Bool(false)}});
}

void FakeBluez::EndDiscovery()
{
    EmitChanged(kAdapterPath, kAdapter, {{"Discovering", Value::Bool(false)}});
    // Devices never connected that cannot be connected to go with the discovery that found them.
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        Peripheral &p = peripherals_[i];
        if (p.known && !p.bonded && !p.script.connectable) {
            p.known = false;
            EmitRemoved(DevicePathOf(static_cast<int>(i)), {kDevice});
        }
    }
}

void FakeBluez::Advertise()
{
    if (!adapter_ || !powered_ || sessions_.empty() || paused_)
        return;
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        Peripheral &p = peripherals_[i];
        if (!p.script.advertising || p.connected)
            continue;
        if (!p.known) {
            p.known = true;
            EmitAdded(DevicePathOf(static_cast<int>(i)));
        } else {
            // With a discovery filter set, every report is passed on, also an unchanged one.
            EmitChanged(DevicePathOf(static_cast<int>(i)), kDevice, {{"RSSI", Value::Int16(p.script.rssi)}});
        }
    }
}

std::string FakeBluez::DevicePathOf(int p) const
{
    return tarvolt::bluez::DevicePath(kAdapterPath, peripherals_[static_cast<size_t>(p)].script.address);
}

std::string FakeBluez::ServicePath(int p, size_t s) const
{
    char text[16];
    std::snprintf(text, sizeof text, "/service%04x", unsigned(0x10 * (s + 1)));
    return DevicePathOf(p) + text;
}

std::string FakeBluez::CharacteristicPath(int p, size_t s, size_t c) const
{
    char text[16];
    std::snprintf(text, sizeof text, "/char%04x", unsigned(0x10 * (s + 1) + 2 + 2 * c));
    return ServicePath(p, s) + text;
}

int FakeBluez::PeripheralAt(const std::string &path)
{
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        const std::string device = DevicePathOf(static_cast<int>(i));
        if (path == device || path.compare(0, device.size() + 1, device + "/") == 0)
            return static_cast<int>(i);
    }
    return -1;
}

std::map<std::string, FakeBluez::Props> FakeBluez::Interfaces(const std::string &path)
{
    std::map<std::string, Props> out;
    if (!adapter_)
        return out;
    if (path == kAdapterPath) {
        out[kAdapter] = {{"Address", Value::String("00:1A:7D:DA:71:13")},
                         {"AddressType", Value::String("public")},
                         {"Name", Value::String("fake-hci0")},
                         {"Alias", Value::String("fake-hci0")},
                         {"Powered", Value::Bool(powered_)},
                         {"Discovering", Value::Bool(!sessions_.empty())},
                         {"Discoverable", Value::Bool(false)},
                         {"UUIDs", Strings({})},
                         {"Roles", Strings({"central", "peripheral"})}};
        return out;
    }
    const int p = PeripheralAt(path);
    if (p < 0 || !peripherals_[static_cast<size_t>(p)].known)
        return out;
    Peripheral &peripheral = peripherals_[static_cast<size_t>(p)];
    const PeripheralScript &script = peripheral.script;
    auto apply = [&](const char *interface, Props props) {
        for (const auto &o : peripheral.overrides[interface])
            props[o.first] = o.second;
        out[interface] = std::move(props);
    };
    if (path == DevicePathOf(p)) {
        std::vector<std::string> uuids;
        for (const ServiceScript &s : script.services)
            uuids.push_back(UuidText(s.uuid));
        std::string alias = AddressText(script.address);
        for (char &c : alias)
            c = c == ':' ? '-' : c;
        Props props = {{"Address", Value::String(AddressText(script.address))},
                       {"AddressType", Value::String("public")},
                       {"Alias", Value::String(script.name.empty() ? alias : Utf8(script.name))},
                       {"Paired", Value::Bool(false)},
                       {"Bonded", Value::Bool(false)},
                       {"Trusted", Value::Bool(false)},
                       {"Blocked", Value::Bool(false)},
                       {"LegacyPairing", Value::Bool(false)},
                       {"Connected", Value::Bool(peripheral.connected)},
                       {"ServicesResolved", Value::Bool(peripheral.connected && peripheral.gatt && !unresolved_.count(p))},
                       {"UUIDs", Strings(uuids)},
                       {"Adapter", Value::ObjectPath(kAdapterPath)}};
        if (!script.name.empty())
            props["Name"] = Value::String(Utf8(script.name));
        if (!sessions_.empty())
            props["RSSI"] = Value::Int16(script.rssi);
        apply(kDevice, std::move(props));
        return out;
    }
    if (!peripheral.gatt)
        return out;
    for (size_t s = 0; s < script.services.size(); ++s) {
        if (path == ServicePath(p, s)) {
            apply(kService, {{"UUID", Value::String(UuidText(script.services[s].uuid))},
                             {"Primary", Value::Bool(true)},
                             {"Device", Value::ObjectPath(DevicePathOf(p))},
                             {"Includes", Value::Array("o", {})}});
            return out;
        }
        for (size_t c = 0; c < script.services[s].characteristics.size(); ++c) {
            if (path != CharacteristicPath(p, s, c))
                continue;
            apply(kCharacteristic, {{"UUID", Value::String(UuidText(script.services[s].characteristics[c].uuid))},
                                    {"Service", Value::ObjectPath(ServicePath(p, s))},
                                    {"Value", Value::Bytes({})},
                                    {"Notifying", Value::Bool(!notifySessions_[path].empty())},
                                    {"Flags", Strings({"read", "write", "notify"})}});
            return out;
        }
    }
    return out;
}

Value FakeBluez::ManagedObjects()
{
    std::vector<std::string> paths;
    if (adapter_)
        paths.push_back(kAdapterPath);
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        const int p = static_cast<int>(i);
        if (!peripherals_[i].known)
            continue;
        paths.push_back(DevicePathOf(p));
        if (!peripherals_[i].gatt)
            continue;
        for (size_t s = 0; s < peripherals_[i].script.services.size(); ++s) {
            paths.push_back(ServicePath(p, s));
            for (size_t c = 0; c < peripherals_[i].script.services[s].characteristics.size(); ++c)
                paths.push_back(CharacteristicPath(p, s, c));
        }
    }
    std::vector<Value> objects;
    for (const std::string &path : paths) {
        std::vector<Value> interfaces;
        for (const auto &interface : Interfaces(path)) {
            std::vector<std::pair<std::string, Value>> props(interface.second.begin(), interface.second.end());
            interfaces.push_back(Value::DictEntry(Value::String(interface.first), Value::StringVariantDict(props)));
        }
        objects.push_back(Value::DictEntry(Value::ObjectPath(path), Value::Array("{sa{sv}}", interfaces)));
    }
    return Value::Array("{oa{sa{sv}}}", objects);
}

void FakeBluez::Emit(const std::string &path, const char *interface, const char *member, const std::vector<Value> &args)
{
    if (bus_ == nullptr)
        return;
    sd_bus_message *m = nullptr;
    int r = api_->sd_bus_message_new_signal(bus_, &m, path.c_str(), interface, member);
    for (size_t i = 0; r >= 0 && i < args.size(); ++i)
        r = tarvolt::bluez::AppendValue(*api_, m, args[i]);
    if (r >= 0)
        api_->sd_bus_send(bus_, m, nullptr);
    if (m != nullptr)
        api_->sd_bus_message_unref(m);
}

void FakeBluez::EmitChanged(const std::string &path, const std::string &interface, const Props &changed)
{
    Props values = changed;
    const int p = PeripheralAt(path);
    if (p >= 0)
        for (const auto &o : peripherals_[static_cast<size_t>(p)].overrides[interface])
            if (values.count(o.first))
                values[o.first] = o.second;
    std::vector<std::pair<std::string, Value>> entries(values.begin(), values.end());
    Emit(path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
         {Value::String(interface), Value::StringVariantDict(entries), Value::Array("s", {})});
    Wake();
}

void FakeBluez::EmitAdded(const std::string &path)
{
    std::vector<Value> interfaces;
    for (const auto &interface : Interfaces(path)) {
        std::vector<std::pair<std::string, Value>> props(interface.second.begin(), interface.second.end());
        interfaces.push_back(Value::DictEntry(Value::String(interface.first), Value::StringVariantDict(props)));
    }
    Emit("/", kObjectManager, "InterfacesAdded", {Value::ObjectPath(path), Value::Array("{sa{sv}}", interfaces)});
    Wake();
}

void FakeBluez::EmitRemoved(const std::string &path, const std::vector<std::string> &interfaces)
{
    Emit("/", kObjectManager, "InterfacesRemoved", {Value::ObjectPath(path), Strings(interfaces)});
    Wake();
}

void FakeBluez::Reply(sd_bus_message *call, const std::vector<Value> &values)
{
    if (bus_ == nullptr)
        return;
    sd_bus_message *m = nullptr;
    int r = api_->sd_bus_message_new_method_return(call, &m);
    for (size_t i = 0; r >= 0 && i < values.size(); ++i)
        r = tarvolt::bluez::AppendValue(*api_, m, values[i]);
    if (r >= 0)
        api_->sd_bus_send(bus_, m, nullptr);
    if (m != nullptr)
        api_->sd_bus_message_unref(m);
    Wake();
}

void FakeBluez::ReplyError(sd_bus_message *call, const char *name, const char *message)
{
    if (bus_ == nullptr)
        return;
    sd_bus_message *m = nullptr;
    const sd_bus_error error = SD_BUS_ERROR_MAKE_CONST(name, message);
    if (api_->sd_bus_message_new_method_error(call, &m, &error) >= 0)
        api_->sd_bus_send(bus_, m, nullptr);
    if (m != nullptr)
        api_->sd_bus_message_unref(m);
    Wake();
}

// RadioControl

int FakeBluez::AddPeripheral(const PeripheralScript &script)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral p;
    p.script = script;
    peripherals_.push_back(std::move(p));
    Wake();
    return static_cast<int>(peripherals_.size() - 1);
}

void FakeBluez::SetAdvertising(int peripheral, bool advertising)
{
    std::lock_guard<std::mutex> lock(mutex_);
    peripherals_.at(static_cast<size_t>(peripheral)).script.advertising = advertising;
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

void FakeBluez::Notify(int peripheral, const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = peripherals_.at(static_cast<size_t>(peripheral));
    if (!p.connected)
        return;
    for (size_t s = 0; s < p.script.services.size(); ++s)
        for (size_t c = 0; c < p.script.services[s].characteristics.size(); ++c) {
            const std::string path = CharacteristicPath(peripheral, s, c);
            if (!notifySessions_[path].empty())
                EmitChanged(path, kCharacteristic, {{"Value", Value::Bytes(bytes)}});
        }
}

void FakeBluez::NotifyFailing(int peripheral, ResultCode)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Peripheral &p = peripherals_.at(static_cast<size_t>(peripheral));
    if (!p.connected)
        return;
    for (size_t s = 0; s < p.script.services.size(); ++s)
        for (size_t c = 0; c < p.script.services[s].characteristics.size(); ++c) {
            const std::string path = CharacteristicPath(peripheral, s, c);
            if (!notifySessions_[path].empty())
                EmitChanged(path, kCharacteristic, {{"Value", Value::String("not bytes")}});
        }
}

void FakeBluez::Drop(int peripheral)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Disconnect(peripheral);
}

void FakeBluez::EndScan()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (sessions_.empty())
        return;
    sessions_.clear();
    EndDiscovery();
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
        if (step == Step::Connect)
            DoConnect(p.call, peripheral);
        else if (step == Step::Subscribe)
            DoStartNotify(p.call, peripheral, p.path);
        else if (step == Step::Services)
            ResolveServices(peripheral);
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
    stats.scanning = static_cast<int>(sessions_.size());
    for (const auto &session : sessions_)
        stats.activeScanning += session.second == "le" ? 1 : 0;
    return stats;
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
        Disconnect(static_cast<int>(i));
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

void FakeBluez::RemoveAdapter()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!adapter_)
        return;
    for (size_t i = 0; i < peripherals_.size(); ++i) {
        Peripheral &p = peripherals_[i];
        p.connected = false;
        if (p.known)
            EmitRemoved(DevicePathOf(static_cast<int>(i)), {kDevice});
        p.known = p.gatt = false;
    }
    sessions_.clear();
    EmitRemoved(kAdapterPath, {kAdapter});
    adapter_ = false;
}

void FakeBluez::OverrideProperty(int peripheral, const std::string &interface, const std::string &name,
                                 const Value &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    peripherals_.at(static_cast<size_t>(peripheral)).overrides["org.bluez." + interface][name] = value;
}

bool FakeBluez::WaitForStats(const std::function<bool(const RadioStats &)> &done, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(stats_); });
}

bool FakeBluez::Impersonate(int peripheral, const std::vector<uint8_t> &bytes)
{
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Peripheral &p = peripherals_.at(static_cast<size_t>(peripheral));
        for (size_t s = 0; s < p.script.services.size(); ++s)
            for (size_t c = 0; c < p.script.services[s].characteristics.size(); ++c)
                paths.push_back(CharacteristicPath(peripheral, s, c));
    }
    sd_bus *bus = nullptr;
    int r = api_->sd_bus_new(&bus);
    if (r >= 0)
        r = api_->sd_bus_set_address(bus, address_.c_str());
    if (r >= 0)
        r = api_->sd_bus_set_bus_client(bus, 1);
    if (r >= 0)
        r = api_->sd_bus_start(bus);
    for (size_t i = 0; r >= 0 && i < paths.size(); ++i) {
        sd_bus_message *m = nullptr;
        r = api_->sd_bus_message_new_signal(bus, &m, paths[i].c_str(), "org.freedesktop.DBus.Properties",
                                            "PropertiesChanged");
        const std::vector<std::pair<std::string, Value>> changed = {{"Value", Value::Bytes(bytes)}};
        for (const Value &v : {Value::String(kCharacteristic), Value::StringVariantDict(changed), Value::Array("s", {})})
            if (r >= 0)
                r = tarvolt::bluez::AppendValue(*api_, m, v);
        if (r >= 0)
            r = api_->sd_bus_send(bus, m, nullptr);
        if (m != nullptr)
            api_->sd_bus_message_unref(m);
    }
    if (r >= 0) {
        // The bus daemon handles one client's messages in order: once it has answered this call,
        // the signals are queued for their receivers, ahead of anything the fake sends later.
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

bool FakeBluez::WaitForCalls(const std::string &member, int count, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return calls_[member] >= count; });
}

int FakeBluez::Connects()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connects_;
}

} // namespace sim
