// tarvolt-probe's command line and report, in this process.
#include "Options.h"
#include "Report.h"

#include <gtest/gtest.h>

namespace {

using namespace tarvolt::probe;

ParseResult Parse(std::vector<std::string> args, bool simulated = false) { return ParseOptions(args, simulated); }

// Catches: a scan without its default time, a watch given one it was not asked for, --seconds
// in either spelling misread, and numbers that would overflow or mean nothing accepted.
TEST(ProbeOptions, SecondsAndDefaults)
{
    EXPECT_EQ(Parse({"scan"}).options.seconds, 10);
    EXPECT_EQ(Parse({"watch"}).options.seconds, std::nullopt);
    EXPECT_EQ(Parse({"--json", "watch", "--seconds", "30"}).options.seconds, 30);
    EXPECT_TRUE(Parse({"scan", "--json"}).options.json);
    EXPECT_EQ(Parse({"scan", "--seconds=86400"}).options.seconds, 86400);
    for (const char *bad : {"0", "-1", "86401", "4294967297", "1.5", "", "10s", "+5"})
        EXPECT_FALSE(Parse({"scan", "--seconds", bad}).error.empty()) << bad;
    EXPECT_FALSE(Parse({"scan", "--seconds", "5", "--seconds", "6"}).error.empty());
    EXPECT_EQ(Parse({"scan", "--bogus", "--help"}).error, "unknown option --bogus");
    EXPECT_EQ(Parse({"--help", "--bogus"}).options.command, Command::Help);
    EXPECT_TRUE(Parse({"--sim", "scan"}, true).options.sim);
}

std::vector<std::string> Lines(bool json, const std::function<void(Report &)> &write)
{
    std::vector<std::string> lines;
    Report report(json, [&](const std::string &line) { lines.push_back(line); });
    write(report);
    return lines;
}

// Catches: a name from the air (any device nearby chooses its own) that breaks a JSON line or
// reaches the terminal with control characters: a line break that forges a line of the report,
// an escape sequence that rewrites the screen.
TEST(ProbeReport, NamesFromTheAirCannotBreakALine)
{
    const std::u16string name = u"Evil\"\\\n\x1B[2J\u009B31m";
    const std::vector<std::string> text = Lines(false, [&](Report &r) { r.Device(0xAABBCCDDEEFF, name, -40, false); });
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0].substr(10), "  device  AA:BB:CC:DD:EE:FF   -40 dBm  Evil\"\\??[2J?31m");

    const std::vector<std::string> json = Lines(true, [&](Report &r) { r.Device(0x0102, name, std::nullopt, false); });
    ASSERT_EQ(json.size(), 1u);
    EXPECT_NE(json[0].find(R"("address":"00:00:00:00:01:02","address_value":258,"name":"Evil\"\\\n\u001B[2J)"),
              std::string::npos)
        << json[0];
    EXPECT_NE(json[0].find(R"("rssi":null,"rifle":false,)"), std::string::npos) << json[0];
}

} // namespace
