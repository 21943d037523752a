#include "relay_standin.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

bool standin::PublishReport(const std::string &path, const std::string &text)
{
    const std::string temporary = path + ".tmp";
    FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    std::error_code error;
    if (std::fclose(file) != 0 || !written)
        return false;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

int main()
{
    const char *report = std::getenv("TARVOLT_STANDIN_REPORT");
    const char *probe = std::getenv("TARVOLT_STANDIN_PROBE");
    const char *exitCode = std::getenv("TARVOLT_STANDIN_EXIT");
    if (report != nullptr && report[0] != '\0')
        standin::PublishReport(report, standin::Observe(probe != nullptr ? probe : ""));
    if (exitCode != nullptr && exitCode[0] != '\0')
        return std::atoi(exitCode);
    standin::RunUntilTerminated();
}
