#include "PrivateBus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char **environ;

namespace sim {

namespace {

// Everyone may connect, own names and send; optionally nobody may send to org.bluez (the reply
// of the bus to such a call is AccessDenied, as from a system bus with a restrictive policy).
std::string Configuration(const std::string &socket, bool refuseBluez)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path=" + socket + "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_type=\"method_call\"/>\n"
           "    <allow send_type=\"signal\"/>\n"
           "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
           "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
           "    <allow receive_type=\"method_call\"/>\n"
           "    <allow receive_type=\"signal\"/>\n"
           "    <allow receive_requested_reply=\"true\" receive_type=\"method_return\"/>\n"
           "    <allow receive_requested_reply=\"true\" receive_type=\"error\"/>\n" +
           std::string(refuseBluez ? "    <deny send_destination=\"org.bluez\"/>\n" : "") +
           "  </policy>\n"
           "</busconfig>\n";
}

} // namespace

PrivateBus::~PrivateBus()
{
    Stop();
    if (!folder_.empty()) {
        std::remove((folder_ + "/bus.conf").c_str());
        std::remove((folder_ + "/bus").c_str());
        rmdir(folder_.c_str());
    }
}

bool PrivateBus::Start(std::string &error, bool refuseBluez)
{
    if (pid_ > 0)
        return true;
    if (folder_.empty()) {
        char pattern[] = "/tmp/tarvolt-bus-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            error = std::string("cannot create a folder for the bus: ") + std::strerror(errno);
            return false;
        }
        folder_ = pattern;
    }
    const std::string socket = folder_ + "/bus";
    std::remove(socket.c_str());
    const std::string config = folder_ + "/bus.conf";
    if (FILE *file = std::fopen(config.c_str(), "w")) {
        const std::string text = Configuration(socket, refuseBluez);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    } else {
        error = "cannot write " + config;
        return false;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The daemon writes its address to descriptor 3 once it listens. Its complaints about the
    // limits of an unprivileged test machine would only clutter the output; a daemon that does
    // not start is reported below all the same.
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    // Nor does it keep the caller's output open: a test that crashed would leave it behind, and a
    // test runner waiting for the end of that output would wait for it.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string configArg = "--config-file=" + config;
    std::vector<char *> argv = {const_cast<char *>("dbus-daemon"), const_cast<char *>(configArg.c_str()),
                                const_cast<char *>("--nofork"), const_cast<char *>("--nopidfile"),
                                const_cast<char *>("--print-address=3"), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "dbus-daemon", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        error = std::string("cannot start dbus-daemon (Debian package dbus-daemon): ") + std::strerror(spawned);
        return false;
    }
    pid_ = pid;
    std::string line;
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(pipeFds[0]);
    if (line.empty()) {
        Stop();
        error = "dbus-daemon ended without giving its address";
        return false;
    }
    // Without the daemon's guid, so that the address stays valid when the daemon is started again.
    address_ = "unix:path=" + socket;
    return true;
}

void PrivateBus::Stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

} // namespace sim
