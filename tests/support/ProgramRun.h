#pragma once
// Starts a program the way the tests need it: with its standard input a pipe, closed, or the null
// device, and its standard output read line by line on a thread, so that a test waits for a
// line or for the end instead of sleeping. The destructor kills a child that is still running.
// Also the few process, path and file helpers the tests of second processes need, natively and
// under Wine. Paths and arguments are UTF-8 strings on every platform.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

enum class StdinMode { Pipe, Closed, Null };

struct StartOptions {
    StdinMode stdinMode = StdinMode::Pipe;
    // Windows: as the driver starts the relay, without a console window and without handles;
    // nothing is captured then. POSIX: ignored.
    bool likeTheDriver = false;
    // Standard error read with the output, in the order written. Windows always does so.
    bool captureStderr = false;
};

class ProgramRun {
public:
    ProgramRun() = default;
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    bool Start(const std::string &program, const std::vector<std::string> &args, const StartOptions &options = {});

    // Output lines so far, without line ends (a carriage return before the newline is dropped).
    std::vector<std::string> Lines() const;
    bool WaitForLine(const std::string &line, std::chrono::milliseconds limit, size_t count = 1);
    // Waits for `count` lines that the predicate accepts.
    bool WaitForLineWhere(const std::function<bool(const std::string &)> &accept, std::chrono::milliseconds limit,
                          size_t count = 1);
    // Sends a command line and returns the next output line, its answer ("" when the output
    // ended or the limit passed first).
    std::string Ask(const std::string &command, std::chrono::milliseconds limit = std::chrono::seconds(60));
    // The exit code once the program has ended (and its output has been read), or nothing when
    // the limit passed first.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);

    void WriteStdin(const std::string &text);
    void CloseStdin();
    void Kill();
    // Ctrl-C in the program's terminal: SIGINT (POSIX). False where it cannot be sent from
    // another process (Windows: console control events reach only processes on the sender's
    // console, and Wine delivers none across processes).
    bool Interrupt();
    int64_t Id() const { return id_; }

private:
    void ReadOutput();  // reader thread
    void AddOutput(const char *data, size_t size);
    void EndOutput();
    bool WaitForOutputEnd(std::chrono::steady_clock::time_point deadline);
    void StopReader();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::string partial_;
    bool outputEnded_ = false;
    std::thread reader_;
    int64_t id_ = 0;
    bool exited_ = false;
    int exitCode_ = -1;
    // Platform handles: descriptors (POSIX) or HANDLEs (Windows).
    intptr_t process_ = -1;
    intptr_t stdinWrite_ = -1;
    intptr_t stdoutRead_ = -1;
    intptr_t wakeRead_ = -1;  // POSIX: ends the reader's wait on demand
    intptr_t wakeWrite_ = -1;
};

// A program's path on this platform: directory, separator, name, and .exe on Windows.
std::string ProgramIn(const std::string &directory, const std::string &name);
// directory, the platform's separator, entry.
std::string PathIn(const std::string &directory, const std::string &entry);

// The id of a running process named name (without ".exe") whose parent is parentId; 0 if none.
int64_t FindChildProcess(int64_t parentId, const std::string &name);

// Makes this process the adopter of its descendants' orphans (POSIX: a child subreaper), so
// that a grandchild whose parent died can still be waited for. Nothing to do on Windows.
void AdoptOrphans();

// Watches a process that this one did not start through ProgramRun (one the driver under test
// started, or a grandchild): opened while it runs, it gives the exit code once the process has
// ended. It never reaps the process, so the exit code stays with its parent.
class ProcessWatch {
public:
    // Ended, but its parent reaped it already, so its exit code is gone (POSIX only).
    static constexpr int kReapedByParent = -2;

    ProcessWatch() = default;
    ~ProcessWatch();
    ProcessWatch(const ProcessWatch &) = delete;
    ProcessWatch &operator=(const ProcessWatch &) = delete;

    bool Open(int64_t id);
    // The exit code or kReapedByParent, or nothing when the limit passed first.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);

private:
    intptr_t handle_ = -1;
    int64_t id_ = 0;
};

// An inheritable pipe end that a child started with inheritance would receive: its number as
// text, for the child to check. Kept open until the test ends.
std::string OpenInheritableProbe();

void SetEnvironment(const std::string &name, const std::string &value);
std::string CurrentDirectory();
bool SetCurrentDirectoryTo(const std::string &path);

// Whether a file exists and can be opened for reading; waits for it up to limit, checking every
// few milliseconds (the file comes from another process, which has no other way to tell this one).
bool WaitForFile(const std::string &path, std::chrono::milliseconds limit);
bool MakeDirectories(const std::string &path);
bool CopyFileTo(const std::string &from, const std::string &to);
// Copies a folder with everything in it, replacing what is there already.
bool CopyFolder(const std::string &from, const std::string &to);

// Deletes the name of a shared pose block left behind by an earlier run (POSIX; on Windows a
// section goes with its last handle).
void RemoveLeftoverPoseBlock();

} // namespace testing_support
