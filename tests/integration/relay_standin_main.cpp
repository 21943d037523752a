#include "relay_standin.h"

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

int main()
{
    const std::string report = standin::Environment("TARVOLT_STANDIN_REPORT");
    const std::string exitCode = standin::Environment("TARVOLT_STANDIN_EXIT");
    if (!report.empty())
        standin::PublishReport(report, standin::Observe(standin::Environment("TARVOLT_STANDIN_PROBE")));
    if (!exitCode.empty())
        return std::atoi(exitCode.c_str());
    standin::RunUntilTerminated();
}
