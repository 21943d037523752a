#include "ProgramRun.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace testing_support {

namespace {
// Test paths are UTF-8 strings; u8path reads them so on every platform (a plain conversion would
// go through the ANSI code page on Windows).
std::filesystem::path FsPath(const std::string &path) { return std::filesystem::u8path(path); }
} // namespace

std::vector<std::string> ProgramRun::Lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool ProgramRun::WaitForLine(const std::string &line, std::chrono::milliseconds limit, size_t count)
{
    return WaitForLineWhere([&](const std::string &l) { return l == line; }, limit, count);
}

bool ProgramRun::WaitForLineWhere(const std::function<bool(const std::string &)> &accept,
                                  std::chrono::milliseconds limit, size_t count)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        size_t seen = 0;
        for (const std::string &l : lines_)
            seen += accept(l) ? 1 : 0;
        return seen >= count;
    });
}

std::string ProgramRun::Ask(const std::string &command, std::chrono::milliseconds limit)
{
    size_t answerAt = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answerAt = lines_.size();
    }
    WriteStdin(command + "\n");
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, limit, [&] { return lines_.size() > answerAt || outputEnded_; }) ||
        lines_.size() <= answerAt)
        return {};
    return lines_[answerAt];
}

void ProgramRun::AddOutput(const char *data, size_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            if (!partial_.empty() && partial_.back() == '\r')
                partial_.pop_back();
            lines_.push_back(partial_);
            partial_.clear();
        } else {
            partial_ += data[i];
        }
    }
    changed_.notify_all();
}

void ProgramRun::EndOutput()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!partial_.empty())
        lines_.push_back(partial_);
    partial_.clear();
    outputEnded_ = true;
    changed_.notify_all();
}

bool ProgramRun::WaitForOutputEnd(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] { return outputEnded_; });
}

bool WaitForFile(const std::string &path, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    std::error_code error;
    // Exists is not enough: under Wine a file renamed into place stays held by the handle that
    // renamed it for a moment after it appears, and an open in that moment is refused.
    while (!std::filesystem::exists(FsPath(path), error) || !std::ifstream(FsPath(path)).is_open()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool MakeDirectories(const std::string &path)
{
    std::error_code error;
    std::filesystem::create_directories(FsPath(path), error);
    return std::filesystem::is_directory(FsPath(path), error);
}

bool CopyFileTo(const std::string &from, const std::string &to)
{
    std::error_code error;
    std::filesystem::remove(FsPath(to), error);
    return std::filesystem::copy_file(FsPath(from), FsPath(to), error);
}

// Into a new folder, file by file: MinGW's std::filesystem takes files on one drive for the same
// file (their stat has no inode numbers), so it neither copies a folder recursively nor
// overwrites a file.
bool CopyFolder(const std::string &from, const std::string &to)
{
    namespace fs = std::filesystem;
    const fs::path source = FsPath(from), target = FsPath(to);
    std::error_code error;
    fs::remove_all(target, error);
    if (!error)
        fs::create_directories(target, error);
    for (fs::recursive_directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
        const fs::path destination = target / it->path().lexically_relative(source);
        if (it->is_directory(error))
            fs::create_directories(destination, error);
        else if (!error && !fs::copy_file(it->path(), destination, error) && !error)
            error = std::make_error_code(std::errc::io_error);
    }
    return !error;
}

} // namespace testing_support
