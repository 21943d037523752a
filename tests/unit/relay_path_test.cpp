// Where the driver looks for its relay program (the directory of its own module path), and how
// long it waits before it starts one again.
#include "RelayProcess.h"
#include "RelaySupervisor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An ASCII path in the platform's own path type.
tarvolt::ModulePath P(const std::string &ascii) { return tarvolt::ModulePath(ascii.begin(), ascii.end()); }

// Catches: splitting on backslashes only (a forward-slash path would give no directory), on the
// first separator instead of the last, or keeping the separator.
TEST(RelayPath, DirectoryIsEverythingBeforeTheLastSlashOfEitherKind)
{
    EXPECT_EQ(tarvolt::DirectoryOfModulePath(P("C:\\x\\bin\\win64\\driver_tarvolt_rq508.dll")), P("C:\\x\\bin\\win64"));
    EXPECT_EQ(tarvolt::DirectoryOfModulePath(P("C:/x/bin/driver_tarvolt_rq508.dll")), P("C:/x/bin"));
    EXPECT_EQ(tarvolt::DirectoryOfModulePath(P("C:\\x/bin\\driver_tarvolt_rq508.dll")), P("C:\\x/bin"));
    EXPECT_EQ(tarvolt::DirectoryOfModulePath(P("/opt/x/driver_tarvolt_rq508.so")), P("/opt/x"));
    EXPECT_EQ(tarvolt::DirectoryOfModulePath(P("driver_tarvolt_rq508.dll")), P("driver_tarvolt_rq508.dll"));
}

// Catches: the program name of the other platform, the directory's own separator reused, or a
// directory named outside ASCII altered on the way to the program's path.
TEST(RelayPath, ProgramPathJoinsWithThePlatformSeparator)
{
#if defined(_WIN32)
    EXPECT_STREQ(tarvolt::kRelayProgramName, "vistrel.exe");
    EXPECT_EQ(tarvolt::RelayProgramPath(L"C:/x/bin", "vistrel.exe"), L"C:/x/bin\\vistrel.exe");
    EXPECT_EQ(tarvolt::RelayProgramPath(L"C:\\x\\bin\\win64", "vistrel.exe"), L"C:\\x\\bin\\win64\\vistrel.exe");
    // 表 is 0x95 0x5C in code page 932: split as bytes, its second half would pass for a backslash.
    const tarvolt::ModulePath folder = L"D:\\\u6e38\u620f\\\u8868\\\u0418\u0433\u0440\u044b";
    EXPECT_EQ(tarvolt::DirectoryOfModulePath(folder + L"\\driver_tarvolt_rq508.dll"), folder);
    EXPECT_EQ(tarvolt::RelayProgramPath(folder, "vistrel.exe"), folder + L"\\vistrel.exe");
#else
    EXPECT_STREQ(tarvolt::kRelayProgramName, "vistrel");
    EXPECT_EQ(tarvolt::RelayProgramPath("/opt/x/bin", "vistrel"), "/opt/x/bin/vistrel");
#endif
}

// Catches: restarts that do not back off (a relay that ends at once would be started again and
// again), a pause that grows past its bound or never comes back to 1 s after a relay ran a minute.
TEST(RelayRestart, PausesDoubleFromOneSecondToThirtyAndStartAgainAfterAMinuteRun)
{
    using std::chrono::seconds;
    std::vector<long> pauses;
    tarvolt::Clock::Duration pause{};
    for (int i = 0; i < 7; ++i)
        pauses.push_back(std::chrono::duration_cast<seconds>(pause = tarvolt::RestartPause(pause, seconds(59))).count());
    EXPECT_EQ(pauses, (std::vector<long>{1, 2, 4, 8, 16, 30, 30}));
    EXPECT_EQ(tarvolt::RestartPause(seconds(16), seconds(60)), seconds(1));
    EXPECT_EQ(tarvolt::RestartPause(seconds(2), seconds(0)), seconds(4)) << "a failed start";
}

#if defined(_WIN32)
// Catches: a path that fills the buffer exactly (cut, without its last character) taken for a
// whole one, or the bound misplaced by one so that a path that fits is refused.
TEST(RelayPath, AModulePathIsReadWholeOrNotAtAll)
{
    const HMODULE self = GetModuleHandleW(nullptr);
    const tarvolt::ModulePath whole = tarvolt::ReadModuleFileName(self, tarvolt::kModulePathLimit);
    ASSERT_FALSE(whole.empty());
    const DWORD length = static_cast<DWORD>(whole.size());
    EXPECT_EQ(tarvolt::ReadModuleFileName(self, length + 1), whole);
    EXPECT_EQ(tarvolt::ReadModuleFileName(self, length), tarvolt::ModulePath());
    EXPECT_EQ(tarvolt::ReadModuleFileName(self, length / 2), tarvolt::ModulePath());
}
#endif

} // namespace
