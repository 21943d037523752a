#pragma once
// sd-bus, the D-Bus client of libsystemd, reached through a table of its functions that is
// filled at run time. The driver library does not link against libsystemd: a machine without it
// (or with elogind's copy of sd-bus instead) must still load the driver, whose Bluetooth link
// then fails softly, step after step, instead of SteamVR refusing to load the library at all.
#include <systemd/sd-bus.h>

#include <string>
#include <vector>

namespace tarvolt::bluez {

struct SdBusApi {
#define TARVOLT_SDBUS_FUNCTIONS(X)                                                                 \
    X(sd_bus_new) X(sd_bus_set_address) X(sd_bus_set_bus_client) X(sd_bus_start)                   \
    X(sd_bus_open_system) X(sd_bus_is_open) X(sd_bus_close) X(sd_bus_unref) X(sd_bus_get_fd)       \
    X(sd_bus_get_events) X(sd_bus_get_timeout) X(sd_bus_process) X(sd_bus_send) X(sd_bus_call)     \
    X(sd_bus_call_async) X(sd_bus_add_match) X(sd_bus_add_filter) X(sd_bus_slot_unref)             \
    X(sd_bus_get_unique_name) X(sd_bus_request_name) X(sd_bus_release_name)                       \
    X(sd_bus_message_new_method_call) X(sd_bus_message_new_signal)                                 \
    X(sd_bus_message_new_method_return) X(sd_bus_message_new_method_error)                         \
    X(sd_bus_message_ref) X(sd_bus_message_unref) X(sd_bus_message_get_type)                       \
    X(sd_bus_message_get_path) X(sd_bus_message_get_interface) X(sd_bus_message_get_member)        \
    X(sd_bus_message_get_sender) X(sd_bus_message_get_destination) X(sd_bus_message_get_error)     \
    X(sd_bus_message_append_basic) X(sd_bus_message_append_array) X(sd_bus_message_open_container) \
    X(sd_bus_message_close_container) X(sd_bus_message_read_basic) X(sd_bus_message_read_array)    \
    X(sd_bus_message_enter_container) X(sd_bus_message_exit_container)                             \
    X(sd_bus_message_peek_type) X(sd_bus_message_skip) X(sd_bus_error_free)
#define TARVOLT_SDBUS_MEMBER(name) decltype(&::name) name = nullptr;
    TARVOLT_SDBUS_FUNCTIONS(TARVOLT_SDBUS_MEMBER)
#undef TARVOLT_SDBUS_MEMBER
};

// The libraries tried, in order: systemd's, then elogind's (distributions without systemd).
const std::vector<std::string> &DefaultSdBusLibraries();

// The table from the first of the libraries that loads and has every function; the library stays
// loaded for the life of the process, and the table is kept for later calls with the same names.
// Null when none does, with the reason in `error`.
// Makes the tables LoadSdBus fills, if not made yet. A static object that closes bus connections
// in its destructor (a radio kept for the life of a program) calls this in its constructor, so
// that the tables are destroyed after it at exit, not before.
void KeepSdBusTables();
const SdBusApi *LoadSdBus(std::string &error, const std::vector<std::string> &libraries = DefaultSdBusLibraries());

} // namespace tarvolt::bluez
