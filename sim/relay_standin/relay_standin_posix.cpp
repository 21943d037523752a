#include "relay_standin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace standin {

namespace {

std::string LinkTarget(const std::string &link)
{
    char buffer[4096];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string("none");
}

} // namespace

std::string Environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string Observe(const std::string &probe)
{
    char cwd[4096];
    std::string text;
    text += "executable=" + LinkTarget("/proc/self/exe") + "\n";
    text += "cwd=" + std::string(getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?") + "\n";
    text += "pid=" + std::to_string(getpid()) + "\n";
    // A terminal on any standard stream is the POSIX form of a console.
    text += std::string("console=") + (isatty(0) || isatty(1) || isatty(2) ? "1" : "0") + "\n";
    text += "stdin=" + LinkTarget("/proc/self/fd/0") + "\n";
    text += "stdout=" + LinkTarget("/proc/self/fd/1") + "\n";
    text += "stderr=" + LinkTarget("/proc/self/fd/2") + "\n";
    const int fd = probe.empty() ? -1 : std::atoi(probe.c_str());
    text += std::string("probe_inherited=") + (fd >= 0 && fcntl(fd, F_GETFD) != -1 ? "1" : "0") + "\n";
    // Any descriptor beyond the standard three came from the parent.
    int extra = 0;
    for (int d = 3; d < 1024; ++d)
        extra += fcntl(d, F_GETFD) != -1 ? 1 : 0;
    text += "extra_descriptors=" + std::to_string(extra) + "\n";
    return text;
}

void RunUntilTerminated()
{
    for (;;)
        pause();
}

} // namespace standin
