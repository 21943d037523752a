// Where the driver looks for its relay program: the directory of its own module path.
#include "RelayProcess.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Catches: splitting on backslashes only (a forward-slash path would give no directory), on the
// first separator instead of the last, or keeping the separator.
TEST(RelayPath, DirectoryIsEverythingBeforeTheLastSlashOfEitherKind)
{
    EXPECT_EQ(tarvolt::DirectoryOfModulePath("C:\\x\\bin\\win64\\driver_tarvolt_rq508.dll"), "C:\\x\\bin\\win64");
    EXPECT_EQ(tarvolt::DirectoryOfModulePath("C:/x/bin/driver_tarvolt_rq508.dll"), "C:/x/bin");
    EXPECT_EQ(tarvolt::DirectoryOfModulePath("C:\\x/bin\\driver_tarvolt_rq508.dll"), "C:\\x/bin");
    EXPECT_EQ(tarvolt::DirectoryOfModulePath("/opt/x/driver_tarvolt_rq508.so"), "/opt/x");
    EXPECT_EQ(tarvolt::DirectoryOfModulePath("driver_tarvolt_rq508.dll"), "driver_tarvolt_rq508.dll");
}

// Catches: the program name of the other platform, or the directory's own separator reused.
TEST(RelayPath, ProgramPathJoinsWithThePlatformSeparator)
{
#if defined(_WIN32)
    EXPECT_STREQ(tarvolt::kRelayProgramName, "vistrel.exe");
    EXPECT_EQ(tarvolt::RelayProgramPath("C:/x/bin", "vistrel.exe"), "C:/x/bin\\vistrel.exe");
    EXPECT_EQ(tarvolt::RelayProgramPath("C:\\x\\bin\\win64", "vistrel.exe"), "C:\\x\\bin\\win64\\vistrel.exe");
#else
    EXPECT_STREQ(tarvolt::kRelayProgramName, "vistrel");
    EXPECT_EQ(tarvolt::RelayProgramPath("/opt/x/bin", "vistrel"), "/opt/x/bin/vistrel");
#endif
}

} // namespace
