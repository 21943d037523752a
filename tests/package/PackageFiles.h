#pragma once
// Reading the driver package that the build laid out next to the test programs: the same folder
// the simulated runtime loads the driver from, so the tests see what SteamVR would see.
#include "SimHost.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace package_test {

namespace fs = std::filesystem;
using nlohmann::json;

inline const std::string kDriverName = TARVOLT_DRIVER_NAME;
inline const std::string kProfileFile = "tarvolt_rq508_controller_profile.json";
// The device announces the treadmill role, so the runtime files its inputs under this user path.
inline const std::string kUserPath = "/user/treadmill";

inline fs::path PackageDir()
{
    return fs::u8path(sim::SimHost::DefaultPackageRoot()) / kDriverName;
}

inline fs::path ResourcesDir() { return PackageDir() / "resources"; }

inline json ReadJson(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + file.u8string());
    std::stringstream text;
    text << in.rdbuf();
    return json::parse(text.str());
}

inline json Profile() { return ReadJson(ResourcesDir() / "input" / kProfileFile); }

// "{tarvolt_rq508}/x" names resources/x of this package. Anything else (another driver's
// prefix, an absolute path) cannot be resolved inside the package and yields an empty path.
inline fs::path ResolvePackagePath(const std::string &path)
{
    const std::string prefix = "{" + kDriverName + "}/";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return {};
    return ResourcesDir() / fs::u8path(path.substr(prefix.size()));
}

} // namespace package_test
