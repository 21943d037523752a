// The fake bluetoothd's bus side: its connection and loop, the calls it dispatches and the
// signals and replies it sends.
#include "FakeBluez.h"

#include "FakeNames.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace sim {

using namespace fake_bluez;

FakeBluez::FakeBluez(std::string busAddress) : address_(std::move(busAddress)) {}

FakeBluez::~FakeBluez()
{
    Shutdown();
    std::lock_guard<std::mutex> lock(mutex_);
    auto unref = [&](sd_bus_message *m) {
        if (m != nullptr)
            api_->sd_bus_message_unref(m);
    };
    for (auto &entry : parked_)
        for (Parked &parked : entry.second)
            unref(parked.call);
    for (Peripheral &p : peripherals_) {
        std::for_each(p.disconnects.begin(), p.disconnects.end(), unref);
        std::for_each(p.failingConnects.begin(), p.failingConnects.end(), unref);
    }
    for (auto &entry : acquired_)
        close(entry.second.fd);
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
        RunTimers();
        ExpireTemporaryDevices();
        ++passes_;
        changed_.notify_all();
        // The bus, the wake-up and the notification sockets handed out, whose other end may close.
        std::vector<pollfd> fds(2);
        fds[0].fd = api_->sd_bus_get_fd(bus_);
        fds[0].events = static_cast<short>(api_->sd_bus_get_events(bus_));
        fds[1].fd = wakeFd_;
        fds[1].events = POLLIN;
        std::vector<std::string> sockets;
        for (const auto &entry : acquired_) {
            fds.push_back({entry.second.fd, POLLIN, 0});
            sockets.push_back(entry.first);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextAdvertising_ - now).count();
        lock.unlock();
        poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(1, wait)));
        uint64_t drained;
        (void)!read(wakeFd_, &drained, sizeof drained);
        lock.lock();
        for (size_t i = 0; i < sockets.size(); ++i) {
            const auto found = acquired_.find(sockets[i]);
            if (found == acquired_.end() || found->second.fd != fds[i + 2].fd || fds[i + 2].revents == 0)
                continue;
            // Whatever the client writes is dropped; its end closing releases the notifications
            // (src/gatt-client.c: sock_hup).
            char byte;
            if (fds[i + 2].revents & (POLLHUP | POLLERR) || recv(found->second.fd, &byte, 1, MSG_DONTWAIT) == 0)
                ReleaseSocket(sockets[i]);
        }
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
    // A client that leaves the bus takes its discovery and its notify sessions along
    // (src/adapter.c: discovery_disconnect; src/gatt-client.c: notify_client_disconnect).
    const std::string &client = args[0].text;
    filters_.erase(client);
    EndSession(client);
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
        ++treeReads_;
        Reply(call, {ManagedObjects()});
        return 1;
    }
    if (object.count(interface) != 0) {
        if (interface == kAdapter ? HandleAdapter(call, member, sender, args)
                                  : HandleDevice(call, interface, member, path, sender))
            return 1;
    }
    ReplyError(call, object.empty() ? "org.freedesktop.DBus.Error.UnknownObject" : "org.freedesktop.DBus.Error.UnknownMethod",
               "Method not known for this object");
    return 1;
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

void FakeBluez::EmitChanged(const std::string &path, const std::string &interface, const Props &changed,
                            const std::vector<std::string> &invalidated)
{
    Props values = changed;
    const int p = PeripheralAt(path);
    if (p >= 0)
        for (const auto &o : At(p).overrides[interface])
            if (values.count(o.first))
                values[o.first] = o.second;
    std::vector<std::pair<std::string, Value>> entries(values.begin(), values.end());
    Emit(path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
         {Value::String(interface), Value::StringVariantDict(entries), Strings(invalidated)});
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

} // namespace sim
