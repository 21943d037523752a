#pragma once
// The test packages that the build lays out next to this program: the shipped library with the
// relay stand-in as its relay program (pkg-relaytest), or without any (pkg-relaytest-missing).
#include "ProgramRun.h"
#include "SimHost.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace testing_support {

inline std::string BuildPath(const std::string &name)
{
    return PathIn(sim::BuildDirectory(), name);
}

inline std::string RelayTestRoot() { return BuildPath("pkg-relaytest"); }
inline std::string MissingRelayRoot() { return BuildPath("pkg-relaytest-missing"); }

inline std::string RelayProgramIn(const std::string &root)
{
    return ProgramIn(sim::DriverBinaryDirectory(root), "vistrel");
}

// key=value lines as the stand-in writes them.
inline std::map<std::string, std::string> ReadReport(const std::string &path)
{
    std::map<std::string, std::string> values;
    std::ifstream in(std::filesystem::u8path(path));
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

} // namespace testing_support
