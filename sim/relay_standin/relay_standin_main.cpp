#include "relay_standin.h"
#include "SharedPose.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

bool standin::PublishReport(const std::string &path, const std::string &text)
{
    // u8path: the path is UTF-8 on every platform (on Windows it may name a folder outside the
    // ANSI code page).
    const std::filesystem::path final = std::filesystem::u8path(path);
    std::filesystem::path temporary = final;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary);
        if (!file.write(text.data(), static_cast<std::streamsize>(text.size())))
            return false;
        file.close();
        if (!file)
            return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, final, error);
    return !error;
}

namespace {

// True for the first stand-in of a test that directs one (the file is then made).
bool FirstOfOnce()
{
    const std::string once = standin::Environment("TARVOLT_STANDIN_ONCE");
    if (once.empty())
        return true;
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::u8path(once), error))
        return false;
    std::ofstream(std::filesystem::u8path(once)).put('1');
    return true;
}

} // namespace

int main()
{
    const std::string report = standin::Environment("TARVOLT_STANDIN_REPORT");
    std::string exitCode = standin::Environment("TARVOLT_STANDIN_EXIT");
    bool holdLock = !standin::Environment("TARVOLT_STANDIN_HOLD_LOCK").empty();
    if (!FirstOfOnce())
        exitCode.clear(), holdLock = false;
    // What it was handed is observed before it opens anything itself.
    const std::string seen = standin::Observe(standin::Environment("TARVOLT_STANDIN_PROBE"));
    const tarvolt::PoseBlockHandle mapping = tarvolt::OpenPoseBlockMapping();
    auto *block = static_cast<tarvolt::SharedPose *>(tarvolt::MapPoseBlock(mapping));
    tarvolt::ClosePoseBlockMapping(mapping);
    const std::string lock = block == nullptr ? "none" : std::to_string(block->lock.load());
    if (!report.empty())
        standin::PublishReport(report, seen + "lock_at_start=" + lock + "\n");
    if (holdLock && block != nullptr)
        block->lock.store(1);
    if (!exitCode.empty())
        return std::atoi(exitCode.c_str());
    standin::RunUntilTerminated();
}
