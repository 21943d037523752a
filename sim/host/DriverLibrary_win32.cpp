#include "DriverLibrary.h"
#include "WideText.h"

#include <windows.h>

namespace sim {

bool DriverLibrary::Open(const std::string &path)
{
    Close();
    // The runtime loads drivers by their wide path; a narrow load could not reach a folder named
    // outside the ANSI code page.
    HMODULE module = LoadLibraryW(Utf8ToWide(path).c_str());
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
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4)
        return ".";
    const std::string path = WideToUtf8(std::wstring(buffer, n));
    return path.substr(0, path.find_last_of("\\/"));
}

std::string BuildDirectory()
{
    const std::string bin = ExecutableDirectory();
    return bin.substr(0, bin.find_last_of("\\/"));
}

} // namespace sim
