#include "ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace testing_support {

namespace {

void CloseFd(intptr_t &fd)
{
    if (fd >= 0)
        close(static_cast<int>(fd));
    fd = -1;
}

} // namespace

ProgramRun::~ProgramRun()
{
    if (id_ != 0 && !exited_)
        Kill();
    CloseStdin();
    StopReader();
    CloseFd(process_);
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
}

bool ProgramRun::Start(const std::string &program, const std::vector<std::string> &args, const StartOptions &options)
{
    int out[2], in[2] = {-1, -1}, wake[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(wake, O_CLOEXEC) != 0)
        return false;
    if (options.stdinMode == StdinMode::Pipe && pipe2(in, O_CLOEXEC) != 0)
        return false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (options.captureStderr)
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    switch (options.stdinMode) {
    case StdinMode::Pipe: posix_spawn_file_actions_adddup2(&actions, in[0], 0); break;
    case StdinMode::Closed: posix_spawn_file_actions_addclose(&actions, 0); break;
    case StdinMode::Null: posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0); break;
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (in[0] >= 0)
        close(in[0]);
    if (error != 0) {
        close(out[0]);
        close(wake[0]);
        close(wake[1]);
        if (in[1] >= 0)
            close(in[1]);
        return false;
    }
    id_ = pid;
    process_ = syscall(SYS_pidfd_open, pid, 0);
    stdoutRead_ = out[0];
    stdinWrite_ = in[1];
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    reader_ = std::thread(&ProgramRun::ReadOutput, this);
    return true;
}

void ProgramRun::ReadOutput()
{
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{static_cast<int>(stdoutRead_), POLLIN, 0}, {static_cast<int>(wakeRead_), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno == EINTR)
            continue;
        if (fds[1].revents != 0)
            break;
        const ssize_t n = read(static_cast<int>(stdoutRead_), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        AddOutput(buffer, static_cast<size_t>(n));
    }
    EndOutput();
}

void ProgramRun::StopReader()
{
    if (!reader_.joinable())
        return;
    if (wakeWrite_ >= 0)
        (void)!write(static_cast<int>(wakeWrite_), "x", 1);
    reader_.join();
    CloseFd(stdoutRead_);
}

std::optional<int> ProgramRun::WaitForExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!exited_) {
        if (process_ >= 0) {
            pollfd p{static_cast<int>(process_), POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(limit.count())) <= 0)
                return std::nullopt;
        }
        int status = 0;
        if (waitpid(static_cast<pid_t>(id_), &status, 0) != static_cast<pid_t>(id_))
            return std::nullopt;
        exited_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Lines written just before the end are still in the pipe.
    WaitForOutputEnd(deadline);
    return exitCode_;
}

void ProgramRun::WriteStdin(const std::string &text)
{
    if (stdinWrite_ >= 0)
        (void)!write(static_cast<int>(stdinWrite_), text.data(), text.size());
}

void ProgramRun::CloseStdin() { CloseFd(stdinWrite_); }

bool ProgramRun::Interrupt()
{
    return id_ != 0 && !exited_ && kill(static_cast<pid_t>(id_), SIGINT) == 0;
}

void ProgramRun::Kill()
{
    if (id_ == 0 || exited_)
        return;
    kill(static_cast<pid_t>(id_), SIGKILL);
    WaitForExit(std::chrono::milliseconds(0));
    int status = 0;
    if (!exited_ && waitpid(static_cast<pid_t>(id_), &status, 0) == static_cast<pid_t>(id_)) {
        exited_ = true;
        exitCode_ = 128 + SIGKILL;
    }
}

std::string ProgramIn(const std::string &directory, const std::string &name) { return directory + "/" + name; }

std::string PathIn(const std::string &directory, const std::string &entry) { return directory + "/" + entry; }

int64_t FindChildProcess(int64_t parentId, const std::string &name)
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return 0;
    int64_t found = 0;
    while (const dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
        std::stringstream text;
        text << file.rdbuf();
        // "<pid> (<name>) <state> <parent id> ...": the name may hold spaces and parentheses.
        const std::string stat = text.str();
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 > stat.size())
            continue;
        const long parent = std::strtol(stat.c_str() + close + 4, nullptr, 10);
        if (parent == parentId && stat.substr(open + 1, close - open - 1) == name) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

void AdoptOrphans() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

ProcessWatch::~ProcessWatch()
{
    if (handle_ >= 0)
        close(static_cast<int>(handle_));
}

bool ProcessWatch::Open(int64_t id)
{
    id_ = id;
    handle_ = id > 0 ? syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0) : -1;
    return handle_ >= 0;
}

std::optional<int> ProcessWatch::WaitForExit(std::chrono::milliseconds limit)
{
    pollfd p{static_cast<int>(handle_), POLLIN, 0};
    if (handle_ < 0 || poll(&p, 1, static_cast<int>(limit.count())) <= 0)
        return std::nullopt;
    // WNOWAIT leaves the process to its parent (the driver under test reaps the relay it
    // started); one its parent reaped already is gone with its exit code.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(id_), &info, WEXITED | WNOWAIT) != 0) {
        if (errno == ECHILD)
            return kReapedByParent;
        if (errno != EINTR)
            return std::nullopt;
    }
    return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

std::string OpenInheritableProbe()
{
    int ends[2];
    if (pipe(ends) != 0)  // no O_CLOEXEC: a plain spawn would pass both ends on
        return "-1";
    return std::to_string(ends[0]);
}

void SetEnvironment(const std::string &name, const std::string &value) { setenv(name.c_str(), value.c_str(), 1); }

std::string CurrentDirectory()
{
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

bool SetCurrentDirectoryTo(const std::string &path) { return chdir(path.c_str()) == 0; }

void RemoveLeftoverPoseBlock() { shm_unlink("/Vistrel_SharedMemory_RQ508"); }

} // namespace testing_support
