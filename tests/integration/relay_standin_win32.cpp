#include "relay_standin.h"

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

std::string Observe(const std::string &probe)
{
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    char cwd[MAX_PATH * 4];
    const DWORD m = GetCurrentDirectoryA(sizeof cwd, cwd);
    std::string text;
    text += "executable=" + std::string(path, n < sizeof path ? n : 0) + "\n";
    text += "cwd=" + std::string(cwd, m < sizeof cwd ? m : 0) + "\n";
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
