#pragma once
// Test support: starts a program of the build as a child with pipes on its standard input and
// output, so a test can direct it line by line and wait for its answers instead of sleeping.
// Also the few process queries the relay tests need, natively and under Wine.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool Start(const std::string &program, const std::vector<std::string> &arguments = {});
    bool WriteLine(const std::string &line);
    // Blocks until a whole line arrived (without its line end); false at the end of the output.
    bool ReadLine(std::string &line);
    // Sends a command and returns its one-line answer ("" when the child ended).
    std::string Ask(const std::string &command);
    // Waits for the child to end and returns its exit code (-1 when it cannot be had).
    int Wait();

private:
    void *process_ = nullptr;  // Windows: process handle
    intptr_t pid_ = 0;         // POSIX: process id
    intptr_t toChild_ = -1;
    intptr_t fromChild_ = -1;
};

// The folder of this test program, with the platform's separator after it.
std::string ProgramPath(const std::string &name);
std::string ExecutableSuffix();
char PathSeparator();

void SetEnvironment(const std::string &name, const std::string &value);
std::string CurrentDirectory();
bool SetCurrentDirectoryTo(const std::string &path);

// Watches a process that the driver under test started (a child of this process natively): open
// it while it exists, then wait for its end without taking it from its parent.
class ProcessWatch {
public:
    // Ended, but its parent reaped it already, so its exit code is gone (POSIX only).
    static constexpr int kReapedByParent = -2;

    ProcessWatch() = default;
    ~ProcessWatch();
    ProcessWatch(const ProcessWatch &) = delete;
    ProcessWatch &operator=(const ProcessWatch &) = delete;

    bool Open(uint32_t processId);
    // The exit code, kReapedByParent, or -1 when it did not end within the limit.
    int WaitForEnd(std::chrono::milliseconds limit);

private:
    void *process_ = nullptr;
    uint32_t processId_ = 0;
};

// An inheritable pipe end that a child started with inheritance would receive: its number as
// text, for the child to check. Kept open until the test ends.
std::string OpenInheritableProbe();

// Whether a file exists; waits for it up to limit, checking every few milliseconds (the file
// comes from another process, which has no other way to tell this one).
bool WaitForFile(const std::string &path, std::chrono::milliseconds limit);
bool MakeDirectories(const std::string &path);
bool CopyFileTo(const std::string &from, const std::string &to);

} // namespace testing_support
