#pragma once
// Why and when the probe stops: its time is up, the user pressed Ctrl-C (or closed the console
// window, or the terminal went away), its output was closed, or the platform ended the scan. Whoever asks first names
// the reason; the probe's main thread waits for it.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace tarvolt::probe {

enum class StopReason {
    None,
    Interrupted,   // Ctrl-C, a closed console window, SIGTERM
    OutputClosed,  // nobody reads the probe's output any more
    ScanEnded,     // the platform ended the scan by itself
};

class StopRequest {
public:
    // From any thread (not from a signal handler: see InterruptWatch).
    void Request(StopReason reason);
    // Waits until a stop is requested or the limit has passed (no limit: until a stop); the
    // reason, or None when the time ran out.
    StopReason WaitFor(std::optional<std::chrono::milliseconds> limit);
    StopReason Reason() const;
    // Called once with the first request's reason, on the thread that makes it.
    void OnRequest(std::function<void(StopReason)> action);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    StopReason reason_ = StopReason::None;
    std::function<void(StopReason)> onRequest_;
};

// Turns Ctrl-C into a stop request for as long as it lives. POSIX: SIGINT, SIGTERM and SIGHUP
// (those not ignored when the probe started) are taken by a thread of its own, so create it
// before any other thread: those inherit the blocked signals. Windows: a console control
// handler; when the console window is closed (or the user logs off), Windows ends the process
// as soon as the handler returns, so the handler waits until the probe has released the rifle
// (Finished, or the end of this object), at most a few seconds.
class InterruptWatch {
public:
    explicit InterruptWatch(StopRequest &stop);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

    // The probe has let go of everything and written its last line.
    void Finished();

private:
    struct Platform;
    Platform *platform_;
};

#if defined(_WIN32)
// The console control handler itself, for the tests: CTRL_C_EVENT and the like.
int HandleConsoleEvent(unsigned long event);
#endif

} // namespace tarvolt::probe
