#include "DriverLibrary.h"

#include <windows.h>

namespace sim {

bool DriverLibrary::Open(const std::string &path)
{
    Close();
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error_ = "LoadLibrary failed with error " + std::to_string(GetLastError()) + " for " + path;
        return false;
    }
    handle_ = module;
    return true;
}

void *DriverLibrary::Symbol(const char *name) const
{
    if (handle_ == nullptr)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DriverLibrary::Close()
{
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

std::string DriverFileName() { return "driver_tarvolt_rq508.dll"; }

std::string DriverBinaryDirectory(const std::string &packageRoot)
{
    return packageRoot + "\\tarvolt_rq508\\bin\\win64";
}

std::string ExecutableDirectory()
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return ".";
    std::string path(buffer, n);
    return path.substr(0, path.find_last_of("\\/"));
}

std::string BuildDirectory()
{
    const std::string bin = ExecutableDirectory();
    return bin.substr(0, bin.find_last_of("\\/"));
}

} // namespace sim
