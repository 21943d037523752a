#pragma once
// A D-Bus daemon of its own for a test or the demo, so that nothing depends on (or touches) the
// machine's system bus: dbus-daemon with a configuration written for it, listening on a socket in
// a fresh temporary folder. It can be stopped and started again on the same socket, as a system
// bus that goes away and comes back, and it can refuse every call to org.bluez, as a system bus
// whose policy does not let the user talk to bluetoothd.
#include <string>
#include <sys/types.h>

namespace sim {

class PrivateBus {
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Starts the daemon and waits until it listens; false with the reason otherwise.
    bool Start(std::string &error, bool refuseBluez = false);
    // Ends the daemon (the bus drops for every client); Start brings it back at the same address.
    void Stop();
    const std::string &Address() const { return address_; }

private:
    std::string folder_;
    std::string address_;
    pid_t pid_ = -1;
};

} // namespace sim
