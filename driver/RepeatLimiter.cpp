#include "RepeatLimiter.h"

#include "DriverLog.h"

#include <utility>

namespace tarvolt {

namespace {

// Beyond this many remembered lines, those that would be logged as they are anyway are
// forgotten: phones change their advertised address every few minutes, so a scan that runs
// all evening meets ever new lines.
constexpr size_t kRememberedLines = 256;

} // namespace

RepeatLimiter::RepeatLimiter() : RepeatLimiter([] { return std::chrono::steady_clock::now(); }) {}

RepeatLimiter::RepeatLimiter(Clock clock) : clock_(std::move(clock)) {}

std::optional<std::string> RepeatLimiter::Admit(const std::string &line, uint64_t occurrences)
{
    if (occurrences == 0)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    const TimePoint now = clock_();
    auto found = lines_.find(line);
    if (found == lines_.end()) {
        if (lines_.size() >= kRememberedLines)
            ForgetSettledLines(now);
        // The first is logged; the others came after it and are held back.
        lines_.emplace(line, Seen{now, occurrences - 1});
        return line;
    }
    Seen &seen = found->second;
    if (now - seen.logged < kRepeatInterval) {
        seen.heldBack += occurrences;
        return std::nullopt;
    }
    const uint64_t times = seen.heldBack + occurrences;
    seen = Seen{now, 0};
    if (times == 1)
        return line;
    return line + " (repeated " + std::to_string(times) + " times)";
}

bool RepeatLimiter::Log(const std::string &line, uint64_t occurrences)
{
    // Logged outside the lock: nothing of the runtime's runs while the limiter is held.
    const std::optional<std::string> text = Admit(line, occurrences);
    if (!text)
        return false;
    tarvolt::Log(*text);
    return true;
}

void RepeatLimiter::Reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

void RepeatLimiter::SetClock(Clock clock)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = std::move(clock);
}

void RepeatLimiter::ForgetSettledLines(TimePoint now)
{
    // A line with nothing held back whose minute is over would be logged as it is: forgetting it
    // changes nothing that is logged.
    for (auto it = lines_.begin(); it != lines_.end();) {
        if (it->second.heldBack == 0 && now - it->second.logged >= kRepeatInterval)
            it = lines_.erase(it);
        else
            ++it;
    }
}

} // namespace tarvolt
