// Paths and arguments are UTF-8 strings here; every call that takes or hands out one uses the
// wide form, so that folders named outside the ANSI code page work as they do under the runtime.
#include "ProgramRun.h"
#include "WideText.h"

#include <windows.h>
#include <tlhelp32.h>

namespace testing_support {

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

void CloseH(intptr_t &h)
{
    if (h != -1 && h != 0)
        CloseHandle(AsHandle(h));
    h = -1;
}

std::wstring Quote(const std::string &arg) { return L"\"" + sim::Utf8ToWide(arg) + L"\""; }

} // namespace

ProgramRun::~ProgramRun()
{
    if (id_ != 0 && !exited_)
        Kill();
    CloseStdin();
    StopReader();
    CloseH(process_);
}

bool ProgramRun::Start(const std::string &program, const std::vector<std::string> &args, const StartOptions &options)
{
    const std::wstring programPath = sim::Utf8ToWide(program);
    std::wstring commandLine = Quote(program);
    for (const std::string &a : args)
        commandLine += L" " + Quote(a);
    PROCESS_INFORMATION pi{};
    STARTUPINFOW si{};
    si.cb = sizeof si;

    if (options.likeTheDriver) {
        // As the driver starts the relay: no console window, nothing inherited, no std handles.
        if (!CreateProcessW(programPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &si, &pi))
            return false;
        EndOutput();
    } else {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
        if (!CreatePipe(&outRead, &outWrite, &sa, 0))
            return false;
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        if (options.stdinMode == StdinMode::Pipe) {
            CreatePipe(&inRead, &inWrite, &sa, 0);
            SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        } else if (options.stdinMode == StdinMode::Null) {
            inRead = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
        }
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = inRead;
        si.hStdOutput = outWrite;
        si.hStdError = outWrite;
        const BOOL started = CreateProcessW(programPath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &si, &pi);
        CloseHandle(outWrite);
        if (inRead != nullptr && inRead != INVALID_HANDLE_VALUE)
            CloseHandle(inRead);
        if (!started) {
            CloseHandle(outRead);
            if (inWrite != nullptr)
                CloseHandle(inWrite);
            return false;
        }
        stdoutRead_ = reinterpret_cast<intptr_t>(outRead);
        stdinWrite_ = inWrite != nullptr ? reinterpret_cast<intptr_t>(inWrite) : -1;
        reader_ = std::thread(&ProgramRun::ReadOutput, this);
    }
    CloseHandle(pi.hThread);
    process_ = reinterpret_cast<intptr_t>(pi.hProcess);
    id_ = pi.dwProcessId;
    return true;
}

void ProgramRun::ReadOutput()
{
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(AsHandle(stdoutRead_), buffer, sizeof buffer, &n, nullptr) && n > 0)
        AddOutput(buffer, n);
    EndOutput();
}

void ProgramRun::StopReader()
{
    if (!reader_.joinable())
        return;
    // The output ends with the child: programs it starts in turn inherit no handles (the driver
    // starts the relay so), so nothing else holds the pipe open.
    reader_.join();
    CloseH(stdoutRead_);
}

std::optional<int> ProgramRun::WaitForExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!exited_) {
        if (WaitForSingleObject(AsHandle(process_), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
            return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(AsHandle(process_), &code);
        exited_ = true;
        exitCode_ = static_cast<int>(code);
    }
    WaitForOutputEnd(deadline);
    return exitCode_;
}

void ProgramRun::WriteStdin(const std::string &text)
{
    DWORD written = 0;
    if (stdinWrite_ != -1)
        WriteFile(AsHandle(stdinWrite_), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void ProgramRun::CloseStdin() { CloseH(stdinWrite_); }

bool ProgramRun::Interrupt() { return false; }

void ProgramRun::Kill()
{
    if (id_ == 0 || exited_)
        return;
    TerminateProcess(AsHandle(process_), 137);
    WaitForExit(std::chrono::milliseconds(10000));
}

std::string ProgramIn(const std::string &directory, const std::string &name)
{
    return directory + "\\" + name + ".exe";
}

std::string PathIn(const std::string &directory, const std::string &entry) { return directory + "\\" + entry; }

int64_t FindChildProcess(int64_t parentId, const std::string &name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    const std::string file = name + ".exe";
    int64_t found = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == static_cast<DWORD>(parentId) && lstrcmpiA(entry.szExeFile, file.c_str()) == 0) {
            found = entry.th32ProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return found;
}

void AdoptOrphans() {}

ProcessWatch::~ProcessWatch()
{
    if (handle_ != -1)
        CloseHandle(AsHandle(handle_));
}

bool ProcessWatch::Open(int64_t id)
{
    id_ = id;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    handle_ = process != nullptr ? reinterpret_cast<intptr_t>(process) : -1;
    return process != nullptr;
}

std::optional<int> ProcessWatch::WaitForExit(std::chrono::milliseconds limit)
{
    DWORD code = 0;
    if (handle_ == -1 || WaitForSingleObject(AsHandle(handle_), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(AsHandle(handle_), &code))
        return std::nullopt;
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

void SetEnvironment(const std::string &name, const std::string &value)
{
    SetEnvironmentVariableW(sim::Utf8ToWide(name).c_str(), sim::Utf8ToWide(value).c_str());
}

std::string CurrentDirectory()
{
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    return n > 0 && n < MAX_PATH * 4 ? sim::WideToUtf8(std::wstring(buffer, n)) : std::string();
}

bool SetCurrentDirectoryTo(const std::string &path)
{
    return SetCurrentDirectoryW(sim::Utf8ToWide(path).c_str()) != 0;
}

void RemoveLeftoverPoseBlock() {}

} // namespace testing_support
