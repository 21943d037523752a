#include "NotifySocket.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace tarvolt::bluez {

namespace {

// At most this many notifications are read per wake-up, so that a flood cannot starve the loop's
// other work; the rest wait for the next pass.
constexpr int kBurst = 64;

// Whether the other end has gone: a datagram of no bytes and the end both read as 0.
bool HungUp(int fd)
{
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

} // namespace

NotifySocket::NotifySocket(std::shared_ptr<const UnixFd> fd, uint16_t mtu, Datagram onDatagram, Ended onEnd)
    // A notification carries at most MTU - 3 bytes; an MTU below the minimum of 23 is not trusted.
    : fd_(std::move(fd)), bound_(std::max<size_t>(mtu, 23)), onDatagram_(std::move(onDatagram)),
      onEnd_(std::move(onEnd))
{
}

NotifySocket::~NotifySocket() = default;

std::shared_ptr<NotifySocket> NotifySocket::Start(const std::shared_ptr<BusConnection> &connection, std::shared_ptr<const UnixFd> fd,
                                                  uint16_t mtu, Datagram onDatagram, Ended onEnd)
{
    const int descriptor = fd->Get();
    std::shared_ptr<NotifySocket> socket(new NotifySocket(std::move(fd), mtu, std::move(onDatagram), std::move(onEnd)));
    // The watch holds the socket while the loop reads it; Close lets it go.
    socket->connection_ = connection;
    const uint64_t watch = connection->Watch(descriptor, [socket](short events) { return socket->OnReady(events); });
    if (watch == 0)
        return nullptr;
    socket->watch_ = watch;
    return socket;
}

void NotifySocket::Close()
{
    if (closed_.exchange(true))
        return;
    if (auto connection = connection_.lock())
        connection->Unwatch(watch_);
}

bool NotifySocket::OnReady(short events)
{
    (void)events;
    std::string buffer(bound_, '\0');
    for (int i = 0; i < kBurst; ++i) {
        if (closed_)
            return false;
        const ssize_t n = recv(fd_->Get(), buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n > 0) {
            onDatagram_(buffer.substr(0, std::min(static_cast<size_t>(n), buffer.size())));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n == 0 && !HungUp(fd_->Get())) {
            onDatagram_(std::string());  // a notification without bytes
            continue;
        }
        // The end, or an error: reported once, then nothing more is read.
        if (!closed_.exchange(true))
            onEnd_();
        return false;
    }
    return true;
}

} // namespace tarvolt::bluez
