// One connection to a D-Bus bus: opening it, method calls and their replies, signals, closing it
// (its loop is in BusLoop.cpp).
#include "BusConnection.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvolt::bluez {

namespace {

std::string ErrnoText(int negativeErrno) { return std::strerror(-negativeErrno); }

// Time left before the reply has certainly been given up: sd-bus itself answers a call that
// passed its time limit with NoReply; this only guards against a loop that no longer runs.
constexpr std::chrono::milliseconds kWaitMargin{2000};

} // namespace

std::shared_ptr<BusConnection> BusConnection::Open(const SdBusApi &api, const std::string &address,
                                                   const std::vector<std::string> &matches, SignalHandler onSignal,
                                                   DisconnectHandler onDisconnect, std::string &error)
{
    sd_bus *bus = nullptr;
    int r = 0;
    if (address.empty()) {
        r = api.sd_bus_open_system(&bus);
    } else {
        r = api.sd_bus_new(&bus);
        if (r >= 0)
            r = api.sd_bus_set_address(bus, address.c_str());
        if (r >= 0)
            r = api.sd_bus_set_bus_client(bus, 1);
        if (r >= 0)
            r = api.sd_bus_start(bus);
    }
    if (r < 0) {
        error = "cannot connect to the system bus: " + ErrnoText(r);
        if (bus != nullptr)
            api.sd_bus_unref(bus);
        return nullptr;
    }
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        error = std::string("cannot create an event descriptor: ") + std::strerror(errno);
        api.sd_bus_close(bus);
        api.sd_bus_unref(bus);
        return nullptr;
    }
    std::shared_ptr<BusConnection> connection(
        new BusConnection(api, bus, wakeFd, std::move(onSignal), std::move(onDisconnect)));
    // Match rules before the loop runs: nothing can be missed between them and the first call.
    for (const std::string &rule : matches) {
        r = api.sd_bus_add_match(bus, nullptr, rule.c_str(), &BusConnection::OnSignalMessage, connection.get());
        if (r < 0) {
            error = "cannot subscribe to signals on the system bus: " + ErrnoText(r);
            return nullptr;  // the destructor closes the bus
        }
    }
    const char *unique = nullptr;
    if (api.sd_bus_get_unique_name(bus, &unique) >= 0 && unique != nullptr)
        connection->uniqueName_ = unique;
    // The loop keeps the connection alive while it runs, so that the last reference can never go
    // from under it; Close (or the bus dropping) ends it.
    connection->loop_ = std::thread([self = connection] { self->Loop(); });
    return connection;
}

BusConnection::BusConnection(const SdBusApi &api, sd_bus *bus, int wakeFd, SignalHandler onSignal,
                             DisconnectHandler onDisconnect)
    : api_(api), bus_(bus), wakeFd_(wakeFd), onSignal_(std::move(onSignal)), onDisconnect_(std::move(onDisconnect))
{
}

BusConnection::~BusConnection()
{
    // Runs after the loop has returned: on the loop thread itself when the loop held the last
    // reference (the bus dropped), otherwise after Close joined it.
    Close();
    if (loop_.joinable())
        loop_.detach();
    std::lock_guard<std::mutex> lock(mutex_);
    if (bus_ != nullptr) {
        // Closed without flushing: a peer that stopped reading must not hold the caller.
        api_.sd_bus_close(bus_);
        api_.sd_bus_unref(bus_);
        bus_ = nullptr;
    }
    close(wakeFd_);
}

void BusConnection::Close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        open_ = false;
        FailPendingLocked(kErrorDisconnected, "The connection was closed");
    }
    Wake();
    // From a task on the loop thread the loop simply ends after the task.
    if (!OnLoopThread() && loop_.joinable())
        loop_.join();
}

std::string BusConnection::UniqueName() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return uniqueName_;
}

void BusConnection::SetInterrupted(bool interrupted)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = interrupted;
    }
    changed_.notify_all();
}

int BusConnection::NewCall(const MethodCall &call, sd_bus_message **message)
{
    int r = api_.sd_bus_message_new_method_call(bus_, message, call.destination.c_str(), call.path.c_str(),
                                                call.interface.c_str(), call.member.c_str());
    for (size_t i = 0; r >= 0 && i < call.args.size(); ++i)
        r = AppendValue(api_, *message, call.args[i]);
    if (r < 0 && *message != nullptr) {
        api_.sd_bus_message_unref(*message);
        *message = nullptr;
    }
    return r;
}

Reply BusConnection::ReplyOf(const SdBusApi &api, sd_bus_message *message)
{
    Reply reply;
    if (const sd_bus_error *error = api.sd_bus_message_get_error(message)) {
        reply.errorName = error->name ? error->name : "";
        reply.errorMessage = error->message ? error->message : "";
        return reply;
    }
    if (!ReadValues(api, message, reply.values)) {
        reply.errorName = "org.freedesktop.DBus.Error.InvalidSignature";
        reply.errorMessage = "The reply could not be read";
        reply.values.clear();
        return reply;
    }
    reply.ok = true;
    return reply;
}

Reply BusConnection::Call(const MethodCall &call, std::chrono::milliseconds timeout, InOrder inOrder)
{
    Reply failed;
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_ || !open_ || bus_ == nullptr) {
        failed.errorName = kErrorDisconnected;
        failed.errorMessage = "Not connected to the bus";
        return failed;
    }
    if (interrupted_) {
        failed.errorName = kErrorInterrupted;
        failed.errorMessage = "Interrupted";
        return failed;
    }
    sd_bus_message *message = nullptr;
    int r = NewCall(call, &message);
    if (r < 0) {
        failed.errorName = kErrorCannotSend;
        failed.errorMessage = ErrnoText(r);
        return failed;
    }
    const uint64_t usec = static_cast<uint64_t>(timeout.count()) * 1000u;
    if (OnLoopThread()) {
        // A handler on the loop thread: nobody else would read the reply, so read it here.
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message *answer = nullptr;
        r = api_.sd_bus_call(bus_, message, usec, &error, &answer);
        api_.sd_bus_message_unref(message);
        Reply reply;
        if (r < 0) {
            reply.errorName = error.name ? error.name : kErrorCannotSend;
            reply.errorMessage = error.message ? error.message : ErrnoText(r);
        } else {
            reply = ReplyOf(api_, answer);
            if (inOrder)
                inOrder(reply);
        }
        api_.sd_bus_error_free(&error);
        if (answer != nullptr)
            api_.sd_bus_message_unref(answer);
        return reply;
    }
    auto pending = std::make_shared<Pending>();
    pending->owner = this;
    pending->inOrder = std::move(inOrder);
    r = api_.sd_bus_call_async(bus_, &pending->slot, message, &BusConnection::OnReplyMessage, pending.get(), usec);
    api_.sd_bus_message_unref(message);
    if (r < 0) {
        failed.errorName = kErrorCannotSend;
        failed.errorMessage = ErrnoText(r);
        return failed;
    }
    pending_[pending.get()] = pending;
    Wake();
    const auto deadline = std::chrono::steady_clock::now() + timeout + kWaitMargin;
    const bool ended = changed_.wait_until(lock, deadline, [&] { return pending->done || interrupted_; });
    if (!pending->done) {
        pending->reply.ok = false;
        pending->reply.errorName = ended ? kErrorInterrupted : kErrorNoReply;
        pending->reply.errorMessage = ended ? "Interrupted" : "No reply in time";
    }
    if (pending->slot != nullptr) {
        api_.sd_bus_slot_unref(pending->slot);  // drops the call if it is still waiting
        pending->slot = nullptr;
    }
    pending_.erase(pending.get());
    return pending->reply;
}

bool BusConnection::Send(const MethodCall &call)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_ || !open_ || bus_ == nullptr)
        return false;
    sd_bus_message *message = nullptr;
    if (NewCall(call, &message) < 0)
        return false;
    const int r = api_.sd_bus_send(bus_, message, nullptr);
    api_.sd_bus_message_unref(message);
    lock.unlock();
    Wake();
    return r >= 0;
}

int BusConnection::OnSignalMessage(sd_bus_message *message, void *userdata, sd_bus_error *)
{
    auto *self = static_cast<BusConnection *>(userdata);
    const SdBusApi &api = self->api_;
    Signal signal;
    auto text = [](const char *s) { return std::string(s ? s : ""); };
    signal.sender = text(api.sd_bus_message_get_sender(message));
    signal.path = text(api.sd_bus_message_get_path(message));
    signal.interface = text(api.sd_bus_message_get_interface(message));
    signal.member = text(api.sd_bus_message_get_member(message));
    if (!ReadValues(api, message, signal.args))
        return 0;  // an unreadable signal is dropped; the next one is read as usual
    try {
        self->onSignal_(signal);
    } catch (...) {
        // Bookkeeping that fails (allocation) loses this signal, never the loop.
    }
    return 0;
}

int BusConnection::OnReplyMessage(sd_bus_message *message, void *userdata, sd_bus_error *)
{
    // On the loop thread inside sd_bus_process, with the mutex held by the loop; the waiter, woken
    // after the processing, drops the slot.
    auto *pending = static_cast<Pending *>(userdata);
    try {
        pending->reply = ReplyOf(pending->owner->api_, message);
        if (pending->inOrder)
            pending->inOrder(pending->reply);
    } catch (...) {
        pending->reply = Reply{};
        pending->reply.errorName = kErrorCannotSend;
        pending->reply.errorMessage = "The reply could not be kept";
    }
    pending->done = true;
    return 0;
}

void BusConnection::FailPendingLocked(const char *name, const char *message)
{
    for (auto &entry : pending_) {
        Pending &p = *entry.second;
        if (p.done)
            continue;
        p.done = true;
        p.reply.ok = false;
        p.reply.errorName = name;
        p.reply.errorMessage = message;
        if (p.slot != nullptr) {
            api_.sd_bus_slot_unref(p.slot);
            p.slot = nullptr;
        }
    }
    changed_.notify_all();
}

} // namespace tarvolt::bluez
