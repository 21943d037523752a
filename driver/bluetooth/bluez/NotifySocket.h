#pragma once
// The socket that bluetoothd hands out for a characteristic's notifications (AcquireNotify): one
// datagram per notification, and nothing else; unlike the Value property, which any client's
// read also changes. It is read on the bus connection's loop. Its end (bluetoothd closed it: the
// link dropped, someone's StopNotify, bluetoothd ended) or an error is reported once, as the end
// of the notifications.
#include "BusConnection.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace tarvolt::bluez {

class NotifySocket : public std::enable_shared_from_this<NotifySocket> {
public:
    using Datagram = std::function<void(const std::string &bytes)>;
    using Ended = std::function<void()>;

    // Starts reading `fd` on the connection's loop; `mtu`, as bluetoothd reported it, bounds each
    // read. Null when the connection is closed.
    static std::shared_ptr<NotifySocket> Start(const std::shared_ptr<BusConnection> &connection, std::shared_ptr<const UnixFd> fd,
                                               uint16_t mtu, Datagram onDatagram, Ended onEnd);
    // No callback starts after this; the descriptor closes, which ends the notifications at
    // bluetoothd, as soon as the loop lets go of it.
    void Close();
    ~NotifySocket();

private:
    NotifySocket(std::shared_ptr<const UnixFd> fd, uint16_t mtu, Datagram onDatagram, Ended onEnd);
    bool OnReady(short events);  // loop thread

    std::shared_ptr<const UnixFd> fd_;
    size_t bound_;
    Datagram onDatagram_;
    Ended onEnd_;
    std::atomic<bool> closed_{false};
    std::weak_ptr<BusConnection> connection_;
    std::atomic<uint64_t> watch_{0};
};

} // namespace tarvolt::bluez
