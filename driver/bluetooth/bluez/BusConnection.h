#pragma once
// One connection to a D-Bus bus through sd-bus, with its own event loop on a thread that this
// object owns and ends. sd-bus objects are used by one thread at a time, so every use of the
// bus happens under one mutex; the loop releases it while it waits for the socket.
//
// Method calls from other threads are sent asynchronously and awaited on a condition variable,
// each with a time limit; the wait also ends when the connection drops or when waits are
// interrupted. Signals are handed to the owner on the loop thread, in the order the bus delivered
// them, under the mutex (for bookkeeping only); work posted with Post runs on the loop thread
// afterwards, without the mutex, and may call back into the connection.
#include "DbusValue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvolt::bluez {

struct Reply {
    bool ok = false;
    std::string errorName;     // when not ok: the D-Bus error name, or one of ours below
    std::string errorMessage;
    std::vector<Value> values;  // when ok
};

// Error names for failures that happen on this side of the bus.
inline constexpr const char *kErrorDisconnected = "org.freedesktop.DBus.Error.Disconnected";
inline constexpr const char *kErrorNoReply = "org.freedesktop.DBus.Error.NoReply";
inline constexpr const char *kErrorInterrupted = "tarvolt.Error.Interrupted";
inline constexpr const char *kErrorCannotSend = "tarvolt.Error.CannotSend";

struct Signal {
    std::string sender;
    std::string path;
    std::string interface;
    std::string member;
    std::vector<Value> args;
};

struct MethodCall {
    std::string destination;
    std::string path;
    std::string interface;
    std::string member;
    std::vector<Value> args;
};

class BusConnection {
public:
    using SignalHandler = std::function<void(const Signal &)>;
    using DisconnectHandler = std::function<void()>;

    // Connects to the bus at `address` (empty: the system bus, as sd-bus finds it, honouring
    // DBUS_SYSTEM_BUS_ADDRESS), adds the match rules and starts the loop. Null with the reason
    // in `error` when the bus cannot be reached.
    static std::shared_ptr<BusConnection> Open(const SdBusApi &api, const std::string &address,
                                               const std::vector<std::string> &matches, SignalHandler onSignal,
                                               DisconnectHandler onDisconnect, std::string &error);
    ~BusConnection();
    BusConnection(const BusConnection &) = delete;
    BusConnection &operator=(const BusConnection &) = delete;

    // Runs with the reply on the loop thread, under the mutex, before any signal that came after
    // the reply is handled: for state that must be replaced in order with the signals.
    using InOrder = std::function<void(Reply &)>;
    // Calls a method and waits for its reply, at most `timeout`.
    Reply Call(const MethodCall &call, std::chrono::milliseconds timeout, InOrder inOrder = {});
    // Sends a method call without waiting for its reply; false when it could not be sent.
    bool Send(const MethodCall &call);
    // Runs `task` on the loop thread, without the mutex, after the signals being handled now.
    void Post(std::function<void()> task);
    // Watches a descriptor from the loop: `onReady` runs on the loop thread, without the mutex,
    // whenever it is readable or has hung up, with poll's events; returning false ends the watch.
    // The watch (and whatever `onReady` holds) is let go by the loop soon after Unwatch, at the
    // latest when the connection closes. Returns 0 when the connection is closed.
    using FdHandler = std::function<bool(short events)>;
    uint64_t Watch(int fd, FdHandler onReady);
    void Unwatch(uint64_t id);
    bool IsOpen() const { return open_.load(); }
    std::string UniqueName() const;
    // While interrupted, every wait ends at once with kErrorInterrupted.
    void SetInterrupted(bool interrupted);
    // Ends the loop and closes the connection; waits in progress end with kErrorDisconnected.
    void Close();

private:
    struct Pending {
        BusConnection *owner = nullptr;
        sd_bus_slot *slot = nullptr;
        InOrder inOrder;
        bool done = false;
        Reply reply;
    };

    BusConnection(const SdBusApi &api, sd_bus *bus, int wakeFd, SignalHandler onSignal,
                  DisconnectHandler onDisconnect);
    static int OnSignalMessage(sd_bus_message *message, void *userdata, sd_bus_error *error);
    static int OnReplyMessage(sd_bus_message *message, void *userdata, sd_bus_error *error);
    static Reply ReplyOf(const SdBusApi &api, sd_bus_message *message);
    int NewCall(const MethodCall &call, sd_bus_message **message);  // mutex held
    void Wake();
    void Loop();
    void FailPendingLocked(const char *name, const char *message);
    bool RunPosted();
    struct FdWatch {
        uint64_t id;
        int fd;
        std::shared_ptr<FdHandler> onReady;
    };
    // Polls the bus, the wake-up descriptor and the watches; runs the watches that are ready.
    void PollOnce(std::unique_lock<std::mutex> &lock);
    bool OnLoopThread() const { return std::this_thread::get_id() == loopId_.load(); }

    const SdBusApi &api_;
    mutable std::mutex mutex_;  // guards bus_, pending_ and the waits
    std::condition_variable changed_;
    sd_bus *bus_;
    int wakeFd_;
    SignalHandler onSignal_;
    DisconnectHandler onDisconnect_;
    std::map<Pending *, std::shared_ptr<Pending>> pending_;
    std::atomic<bool> open_{true};
    bool stopping_ = false;
    bool interrupted_ = false;
    std::string uniqueName_;

    std::mutex postedMutex_;  // also guards the watches
    std::deque<std::function<void()>> posted_;
    std::vector<FdWatch> watches_;
    uint64_t nextWatch_ = 1;

    std::thread loop_;
    std::atomic<std::thread::id> loopId_{};
};

} // namespace tarvolt::bluez
