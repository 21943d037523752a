#include "ChildProcess.h"

#include <filesystem>
#include <system_error>
#include <thread>

namespace testing_support {

std::string ChildProcess::Ask(const std::string &command)
{
    std::string answer;
    if (!WriteLine(command) || !ReadLine(answer))
        return {};
    return answer;
}

bool WaitForFile(const std::string &path, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    std::error_code error;
    while (!std::filesystem::exists(path, error)) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool MakeDirectories(const std::string &path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

bool CopyFileTo(const std::string &from, const std::string &to)
{
    std::error_code error;
    std::filesystem::remove(to, error);
    return std::filesystem::copy_file(from, to, error);
}

} // namespace testing_support
