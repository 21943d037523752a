// SteamVR's server on Linux is the process vrserver; /proc gives every process's name.
#include "SteamVr.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarvolt::probe {

bool SteamVrServerRunning()
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return false;
    bool found = false;
    while (const dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%ld/comm", pid);
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char name[64];
        const ssize_t n = read(fd, name, sizeof name - 1);
        close(fd);
        if (n <= 0)
            continue;
        name[n] = '\0';
        name[std::strcspn(name, "\n")] = '\0';
        if (strcasecmp(name, "vrserver") == 0) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

} // namespace tarvolt::probe
