#include "ProgramRun.h"

namespace testing_support {

std::vector<std::string> ProgramRun::Lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool ProgramRun::WaitForLine(const std::string &line, std::chrono::milliseconds limit, size_t count)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        size_t seen = 0;
        for (const std::string &l : lines_)
            seen += l == line ? 1 : 0;
        return seen >= count;
    });
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

} // namespace testing_support
