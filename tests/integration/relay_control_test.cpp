// The relay program's start and end as the built library does them in the simulated host, with
// a stand-in that reports how it was started, natively and under Wine.
#include "RelayTestPackage.h"
#include "PoseLock.h"
#include "ProcessIdentity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#if !defined(_WIN32)
#include <unistd.h>
#endif

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const char *const kStarted = "Vistrel process started.";
const char *const kStartFailed = "CreateProcess failed.";
const char *const kTerminated = "Vistrel process terminated.";
const char *const kTerminateFailed = "Failed to terminate Vistrel process, the process may not exist.";
#if defined(_WIN32)
const char *const kServer = "vrserver.exe";
#else
const char *const kServer = "vrserver";
#endif

class RelayControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The server's current directory is a folder of its own, not the driver's.
        work = BuildPath("relaytest-work");
        ASSERT_TRUE(MakeDirectories(work));
        ASSERT_TRUE(SetCurrentDirectoryTo(work));
        serverDirectory = CurrentDirectory();
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        report = PathIn(work, name + ".txt");
        std::remove(report.c_str());
        SetEnvironment("TARVOLT_STANDIN_REPORT", report);
    }

    void BringUp(const std::string &root)
    {
        ASSERT_TRUE(host.Load(root)) << host.Error();
        ASSERT_EQ(host.Init(), vr::VRInitError_None);
        ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    }

    std::map<std::string, std::string> Report()
    {
        EXPECT_TRUE(WaitForFile(report, 30s)) << "the stand-in wrote no report";
        return ReadReport(report);
    }

    std::vector<std::string> RelayLines()
    {
        std::vector<std::string> lines;
        for (const std::string &t : host.Recorder().LogTexts())
            if (t == kStarted || t == kStartFailed || t == kTerminated || t == kTerminateFailed)
                lines.push_back(t);
        return lines;
    }

    sim::SimHost host;
    std::string work;
    std::string serverDirectory;
    std::string report;
};

bool SamePath(std::string a, std::string b)
{
#if defined(_WIN32)
    std::transform(a.begin(), a.end(), a.begin(), ::tolower);
    std::transform(b.begin(), b.end(), b.begin(), ::tolower);
#endif
    return a == b;
}

// Catches: the program looked up in the server's directory, started in the driver's directory,
// with a console or the server's standard streams, or with the server's inheritable handles; a
// termination that leaves it running or ends it with another exit code.
TEST_F(RelayControl, StartsFromTheLibraryFolderInTheServersDirectoryAndIsTerminated)
{
    SetEnvironment("TARVOLT_STANDIN_PROBE", OpenInheritableProbe());
#if !defined(_WIN32)
    // The server's standard input is a pipe while the relay starts, as it may be under the runtime:
    // ctest's /dev/null there would hide a relay that keeps the server's.
    int serverInput[2];
    ASSERT_EQ(pipe(serverInput), 0);
    const int savedInput = dup(0);
    dup2(serverInput[0], 0);
    BringUp(RelayTestRoot());
    auto seen = Report();
    dup2(savedInput, 0);
    for (const int fd : {savedInput, serverInput[0], serverInput[1]})
        close(fd);
#else
    BringUp(RelayTestRoot());
    auto seen = Report();
#endif
    EXPECT_TRUE(SamePath(seen["executable"], RelayProgramIn(RelayTestRoot()))) << seen["executable"];
    EXPECT_TRUE(SamePath(seen["cwd"], serverDirectory)) << seen["cwd"];
    EXPECT_EQ(seen["console"], "0");
    EXPECT_EQ(seen["probe_inherited"], "0");
#if defined(_WIN32)
    // A console of its own without a window: its streams are that console's, never the server's
    // (which are pipes here, as they may be under the runtime).
    EXPECT_EQ(seen["stdout"], "char");
    EXPECT_EQ(seen["stderr"], "char");
#else
    EXPECT_EQ(seen["stdin"], "/dev/null");
    EXPECT_EQ(seen["stdout"], "/dev/null");
    EXPECT_EQ(seen["stderr"], "/dev/null");
    EXPECT_EQ(seen["extra_descriptors"], "0");
#endif
    ProcessWatch relay;
    ASSERT_TRUE(relay.Open(std::stoll(seen["pid"])));

    host.Deactivate();
    EXPECT_EQ(RelayLines(), (std::vector<std::string>{kStarted, kTerminated}));
    const std::optional<int> code = relay.WaitForExit(30s);
#if defined(_WIN32)
    EXPECT_EQ(code, std::optional<int>(0));
#else
    EXPECT_EQ(code, std::optional<int>(ProcessWatch::kReapedByParent));  // ended and reaped by the driver
#endif
}

// Catches: a missing program reported as started, activation cut short by it, or a termination
// reported for a process that never existed.
TEST_F(RelayControl, MissingProgramIsReportedAtStartAndAtTermination)
{
    BringUp(MissingRelayRoot());
    EXPECT_EQ(host.Recorder().Components().size(), 6u);
    host.Deactivate();
    EXPECT_EQ(RelayLines(), (std::vector<std::string>{kStartFailed, kTerminateFailed}));
}

// Whether a shared pose block of the driver's name can still be opened (POSIX: its name is still
// there; Windows: a handle of it is still open somewhere).
bool PoseBlockLeft()
{
    tarvolt::PoseBlockHandle mapping = tarvolt::OpenPoseBlockMapping();
    tarvolt::ClosePoseBlockMapping(mapping);
    return mapping != nullptr;
}

// The stand-in's process id from the report it wrote at its start; the report is removed, so that
// the next stand-in's report is not mistaken for it.
int64_t TakeReportedPid(const std::map<std::string, std::string> &seen, const std::string &report)
{
    const auto pid = seen.find("pid");
    std::remove(report.c_str());
    return pid == seen.end() ? 0 : std::stoll(pid->second);
}

// Catches: a relay that ends on its own going unnoticed for the rest of the session (no pose for
// the rifle), its end logged without its exit code, the process left a zombie until Deactivate,
// the pose lock it died holding left set (the next relay would wait on it for ever), and no
// restart. (Its end by a signal or a crash: the end-to-end tests.)
TEST_F(RelayControl, ARelayThatEndsIsLoggedCollectedAndStartedAgainWithThePoseLockFree)
{
    const std::string once = PathIn(work, "exits.once");
    std::remove(once.c_str());
    SetEnvironment("TARVOLT_STANDIN_ONCE", once);
    SetEnvironment("TARVOLT_STANDIN_HOLD_LOCK", "1");
    SetEnvironment("TARVOLT_STANDIN_EXIT", "3");
    BringUp(RelayTestRoot());
    const int64_t first = TakeReportedPid(Report(), report);

    ASSERT_TRUE(host.Recorder().WaitForLog("Vistrel process ended with exit code 3.", 30s))
        << "the relay's end was not noticed";
    EXPECT_NE(FindChildProcess(sim::CurrentProcessId(), "vistrel"), first) << "left a zombie";
    EXPECT_EQ(Report()["lock_at_start"], "0") << "the next relay found the dead one's pose lock set";
    EXPECT_EQ(host.Recorder().CountLog("Freed the pose lock that the ended Vistrel process held."), 1u);
    // The new relay may write its report before the driver's thread logs that it started it.
    ASSERT_TRUE(host.Recorder().WaitForLog("Vistrel process restarted.", 30s));
    EXPECT_EQ(host.Recorder().CountLog("Vistrel process restarted."), 1u);
    host.Deactivate();
    EXPECT_EQ(RelayLines(), (std::vector<std::string>{kStarted, kTerminated}));
}

// Catches: a relay that keeps ending not started again, one started while Deactivate runs (it
// would outlive the device) or Deactivate waiting out the pause before the next start (the
// simulated server reports a stalled Deactivate), and the driver's line for vistrel's "server not
// found" naming the server by another platform's name.
TEST_F(RelayControl, ARelayThatKeepsEndingIsStartedAgainUntilDeactivateAndNeverAfter)
{
    SetEnvironment("TARVOLT_STANDIN_EXIT", "2");
    BringUp(RelayTestRoot());
    ASSERT_TRUE(host.Recorder().WaitForLog("Vistrel process restarted.", 30s));
    host.Deactivate();  // the restarted relay has ended too, or is about to; the next pause is 2 s
    EXPECT_EQ(host.Recorder().CountLog("Vistrel process ended with exit code 2 (" + std::string(kServer) + " not found)."), 1u);
    EXPECT_EQ(FindChildProcess(sim::CurrentProcessId(), "vistrel"), 0) << "a relay outlived Deactivate";
    EXPECT_EQ(RelayLines().size(), 2u);
}

// Catches: a runtime that activates the device twice without a Deactivate in between leaving the
// first relay running beside the second until the server ends (two writers on one block, and a
// process the driver no longer knows of), and one that cleans the driver up without deactivating
// its device first leaving the relay running (and the block mapped in the server).
TEST_F(RelayControl, ASecondActivationAndACleanupWithoutDeactivateEachEndTheRelay)
{
    BringUp(RelayTestRoot());
    ProcessWatch first;
    ASSERT_TRUE(first.Open(TakeReportedPid(Report(), report)));

    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    EXPECT_TRUE(first.WaitForExit(0ms).has_value()) << "the first relay still runs after the second Activate";
    ProcessWatch second;
    ASSERT_TRUE(second.Open(TakeReportedPid(Report(), report)));

    host.Cleanup();
    EXPECT_TRUE(second.WaitForExit(0ms).has_value()) << "the relay still runs after Cleanup";
    EXPECT_EQ(RelayLines(), (std::vector<std::string>{kStarted, kTerminated, kStarted, kTerminated}));
    EXPECT_FALSE(PoseBlockLeft()) << "the shared pose block outlives the driver's Cleanup";
}

class RelayFromLongPath : public RelayControl, public ::testing::WithParamInterface<size_t> {};

// Catches: a module path of MAX_PATH characters or more cut at a fixed buffer, and so the relay
// looked for in a directory that the cut happens to name, or not started at all; and the bound
// misplaced by one. 259 fits the first buffer, 260 fills it, and 272 gives the longest relay path
// that CreateProcessW takes (259 characters: "vistrel.exe" is 13 shorter than the library's name).
// Windows only: dladdr hands out the whole path.
TEST_P(RelayFromLongPath, ALongModulePathStartsTheRelayFromItsFolder)
{
#if !defined(_WIN32)
    GTEST_SKIP() << "module paths are read into a buffer only on Windows";
#else
    const size_t length = GetParam();
    const std::string base = BuildPath("relaytest-long");
    const std::string tail = "\\tarvolt_rq508\\bin\\win64\\driver_tarvolt_rq508.dll";
    const size_t fixed = base.size() + tail.size();
    ASSERT_LT(fixed + 8, length) << "the build directory is too deep for this test";
    // Folders of at most 200 characters each, as file systems limit a name.
    std::string root = base;
    for (size_t left = length - fixed; left > 0;) {
        size_t part = std::min<size_t>(left - 1, 200);
        if (left - part - 1 == 1)
            --part;  // leaves room for one more folder name
        root += "\\" + std::string(part, 'p');
        left -= part + 1;
    }
    const std::string dir = sim::DriverBinaryDirectory(root);
    ASSERT_EQ((dir + "\\driver_tarvolt_rq508.dll").size(), length);
    ASSERT_TRUE(MakeDirectories(dir));
    const std::string from = sim::DriverBinaryDirectory(RelayTestRoot());
    ASSERT_TRUE(CopyFileTo(from + "\\driver_tarvolt_rq508.dll", dir + "\\driver_tarvolt_rq508.dll"));
    ASSERT_TRUE(CopyFileTo(from + "\\vistrel.exe", dir + "\\vistrel.exe"));

    BringUp(root);
    EXPECT_EQ(host.Recorder().CountLog("Failed to get DLL path."), 0u);
    EXPECT_EQ(RelayLines(), std::vector<std::string>{kStarted});
    const std::string executable = Report()["executable"];
    EXPECT_TRUE(SamePath(executable, dir + "\\vistrel.exe")) << executable;
    host.Deactivate();
#endif
}

INSTANTIATE_TEST_SUITE_P(ModulePathLength, RelayFromLongPath, ::testing::Values(size_t{259}, size_t{260}, size_t{272}));

} // namespace
