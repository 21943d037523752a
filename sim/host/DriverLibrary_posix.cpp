#include "DriverLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace sim {

bool DriverLibrary::Open(const std::string &path)
{
    Close();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char *e = dlerror();
        error_ = e ? e : "dlopen failed";
        return false;
    }
    return true;
}

void *DriverLibrary::Symbol(const char *name) const
{
    return handle_ ? dlsym(handle_, name) : nullptr;
}

void DriverLibrary::Close()
{
    if (handle_ != nullptr)
        dlclose(handle_);
    handle_ = nullptr;
}

std::string DriverFileName() { return "driver_tarvolt_rq508.so"; }

std::string DriverBinaryDirectory(const std::string &packageRoot)
{
    return packageRoot + "/tarvolt_rq508/bin/linux64";
}

std::string ExecutableDirectory()
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return ".";
    std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/'));
}

std::string BuildDirectory()
{
    const std::string bin = ExecutableDirectory();
    return bin.substr(0, bin.find_last_of('/'));
}

} // namespace sim
