#include "ChildProcess.h"

#include "DriverLibrary.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char **environ;

namespace testing_support {

ChildProcess::~ChildProcess()
{
    if (toChild_ >= 0)
        close(static_cast<int>(toChild_));
    if (fromChild_ >= 0)
        close(static_cast<int>(fromChild_));
    if (pid_ > 0) {
        kill(static_cast<pid_t>(pid_), SIGKILL);
        Wait();
    }
}

bool ChildProcess::Start(const std::string &program, const std::vector<std::string> &arguments)
{
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int result = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (result != 0) {
        close(in[1]);
        close(out[0]);
        return false;
    }
    pid_ = pid;
    toChild_ = in[1];
    fromChild_ = out[0];
    return true;
}

bool ChildProcess::WriteLine(const std::string &line)
{
    const std::string text = line + "\n";
    return write(static_cast<int>(toChild_), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool ChildProcess::ReadLine(std::string &line)
{
    line.clear();
    char c = 0;
    for (;;) {
        const ssize_t n = read(static_cast<int>(fromChild_), &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        if (c != '\r')
            line += c;
    }
}

int ChildProcess::Wait()
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    pid_t r;
    while ((r = waitpid(static_cast<pid_t>(pid_), &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = 0;
    return r > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ProgramPath(const std::string &name) { return sim::ExecutableDirectory() + "/" + name; }
std::string ExecutableSuffix() { return ""; }
char PathSeparator() { return '/'; }

void SetEnvironment(const std::string &name, const std::string &value) { setenv(name.c_str(), value.c_str(), 1); }

std::string CurrentDirectory()
{
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

bool SetCurrentDirectoryTo(const std::string &path) { return chdir(path.c_str()) == 0; }

ProcessWatch::~ProcessWatch() = default;

bool ProcessWatch::Open(uint32_t processId)
{
    processId_ = processId;
    return processId != 0 && kill(static_cast<pid_t>(processId), 0) == 0;
}

int ProcessWatch::WaitForEnd(std::chrono::milliseconds /*limit*/)
{
    // WNOWAIT leaves the child to the driver, which reaps it; a child it reaped already is gone.
    // The test's own time limit bounds a child that never ends.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(processId_), &info, WEXITED | WNOWAIT) != 0) {
        if (errno == ECHILD)
            return kReapedByParent;
        if (errno != EINTR)
            return -1;
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

} // namespace testing_support
