#include "relay_standin.h"
#include "WideText.h"

#include <windows.h>

#include <cstdlib>

namespace standin {

namespace {

std::string HandleKind(DWORD which)
{
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return "none";
    switch (GetFileType(h)) {
    case FILE_TYPE_CHAR:
        return "char";
    case FILE_TYPE_DISK:
        return "disk";
    case FILE_TYPE_PIPE:
        return "pipe";
    default:
        return "unknown";
    }
}

} // namespace

// Wide calls throughout: the narrow ones would report a folder named outside the ANSI code page
// with '?' for its characters.
std::string Environment(const char *name)
{
    const std::wstring wideName = sim::Utf8ToWide(name);
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    return length < size ? sim::WideToUtf8(value.substr(0, length)) : std::string();
}

std::string Observe(const std::string &probe)
{
    const DWORD capacity = MAX_PATH * 4;
    wchar_t path[capacity];
    const DWORD n = GetModuleFileNameW(nullptr, path, capacity);
    wchar_t cwd[capacity];
    const DWORD m = GetCurrentDirectoryW(capacity, cwd);
    std::string text;
    text += "executable=" + sim::WideToUtf8(std::wstring(path, n < capacity ? n : 0)) + "\n";
    text += "cwd=" + sim::WideToUtf8(std::wstring(cwd, m < capacity ? m : 0)) + "\n";
    text += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    text += std::string("console=") + (GetConsoleWindow() != nullptr ? "1" : "0") + "\n";
    text += "stdin=" + HandleKind(STD_INPUT_HANDLE) + "\n";
    text += "stdout=" + HandleKind(STD_OUTPUT_HANDLE) + "\n";
    text += "stderr=" + HandleKind(STD_ERROR_HANDLE) + "\n";
    // The probe is a pipe end the test made inheritable; with inheritance its value would name
    // that pipe here as well.
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(probe.c_str(), nullptr, 10)));
    DWORD flags = 0;
    const bool inherited = h != nullptr && GetHandleInformation(h, &flags) && GetFileType(h) == FILE_TYPE_PIPE;
    text += std::string("probe_inherited=") + (inherited ? "1" : "0") + "\n";
    return text;
}

void RunUntilTerminated()
{
    for (;;)
        Sleep(INFINITE);
}

} // namespace standin
