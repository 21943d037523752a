#include "ChildProcess.h"

#include "DriverLibrary.h"

#include <windows.h>

namespace testing_support {

namespace {
HANDLE AsHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }
} // namespace

ChildProcess::~ChildProcess()
{
    if (toChild_ != -1)
        CloseHandle(AsHandle(toChild_));
    if (fromChild_ != -1)
        CloseHandle(AsHandle(fromChild_));
    if (process_ != nullptr) {
        TerminateProcess(process_, 1);
        Wait();
    }
}

bool ChildProcess::Start(const std::string &program, const std::vector<std::string> &arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0))
        return false;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        return false;
    }
    // The child gets only its own ends.
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);

    std::string commandLine = "\"" + program + "\"";
    for (const std::string &a : arguments)
        commandLine += " " + a;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL ok = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &startup, &info);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!ok) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    toChild_ = reinterpret_cast<intptr_t>(inWrite);
    fromChild_ = reinterpret_cast<intptr_t>(outRead);
    return true;
}

bool ChildProcess::WriteLine(const std::string &line)
{
    const std::string text = line + "\n";
    DWORD written = 0;
    return WriteFile(AsHandle(toChild_), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool ChildProcess::ReadLine(std::string &line)
{
    line.clear();
    char c = 0;
    DWORD n = 0;
    for (;;) {
        if (!ReadFile(AsHandle(fromChild_), &c, 1, &n, nullptr) || n == 0)
            return false;
        if (c == '\n')
            return true;
        if (c != '\r')
            line += c;
    }
}

int ChildProcess::Wait()
{
    if (process_ == nullptr)
        return -1;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    const int result = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
    CloseHandle(process_);
    process_ = nullptr;
    return result;
}

std::string ProgramPath(const std::string &name) { return sim::ExecutableDirectory() + "\\" + name + ".exe"; }
std::string ExecutableSuffix() { return ".exe"; }
char PathSeparator() { return '\\'; }

void SetEnvironment(const std::string &name, const std::string &value)
{
    SetEnvironmentVariableA(name.c_str(), value.c_str());
}

std::string CurrentDirectory()
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool SetCurrentDirectoryTo(const std::string &path) { return SetCurrentDirectoryA(path.c_str()) != 0; }

ProcessWatch::~ProcessWatch()
{
    if (process_ != nullptr)
        CloseHandle(process_);
}

bool ProcessWatch::Open(uint32_t processId)
{
    processId_ = processId;
    process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    return process_ != nullptr;
}

int ProcessWatch::WaitForEnd(std::chrono::milliseconds limit)
{
    DWORD code = 0;
    if (process_ == nullptr || WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_, &code))
        return -1;
    return static_cast<int>(code);
}

std::string OpenInheritableProbe()
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0))
        return "0";
    return std::to_string(reinterpret_cast<uintptr_t>(read));
}

} // namespace testing_support
