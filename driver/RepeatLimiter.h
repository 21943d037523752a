#pragma once
// Keeps a line that repeats while nothing changes from flooding the runtime's log. The first
// occurrence of a line is logged as it is. The same line again is held back until a minute has
// passed since it was last logged, and is then logged once with the number of times it came
// since, this one included: "<line> (repeated 120 times)". A line that differs in anything is
// another line and is logged at once. Reset forgets every line, so that the next occurrence of
// each is logged as it is again. Occurrences counted elsewhere (a hot path that must not log
// itself) are admitted together, as if they had come one by one. Safe to use from several threads.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace tarvolt {

inline constexpr std::chrono::seconds kRepeatInterval{60};

class RepeatLimiter {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    RepeatLimiter();  // on the steady clock
    explicit RepeatLimiter(Clock clock);
    RepeatLimiter(const RepeatLimiter &) = delete;
    RepeatLimiter &operator=(const RepeatLimiter &) = delete;

    // The text to log for these occurrences of the line (one, or `occurrences` counted together),
    // or nothing while it is held back.
    std::optional<std::string> Admit(const std::string &line, uint64_t occurrences = 1);
    // Logs what Admit gives; true when it logged something.
    bool Log(const std::string &line, uint64_t occurrences = 1);
    void Reset();
    // Tests run the limiter on a clock of their own.
    void SetClock(Clock clock);

private:
    struct Seen {
        TimePoint logged;       // when the line was last logged
        uint64_t heldBack = 0;  // occurrences since then that were not logged
    };
    void ForgetSettledLines(TimePoint now);

    std::mutex mutex_;
    Clock clock_;
    std::unordered_map<std::string, Seen> lines_;
};

} // namespace tarvolt
