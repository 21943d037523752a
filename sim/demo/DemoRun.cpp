// The demo session's frame loop, its end and its summary.
#include "DemoPoses.h"
#include "DemoScript.h"
#include "DemoSession.h"
#include "InputTally.h"
#include "Terminal.h"

#include <thread>

namespace demo {

namespace {

constexpr auto kFramePeriod =
    std::chrono::duration_cast<sim::Clock::duration>(std::chrono::duration<double>(1.0 / kFrameRate));
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);

// Keys arrive on a thread of their own that blocks in the read and may outlive the session, so
// what it fills is shared with it.
struct KeyQueue {
    std::mutex mutex;
    std::deque<int> keys;
    bool ended = false;
};

void StartKeyReader(const std::shared_ptr<KeyQueue> &queue)
{
    std::thread([queue] {
        for (;;) {
            const int key = ReadKey();
            std::lock_guard<std::mutex> lock(queue->mutex);
            if (key < 0) {
                queue->ended = true;
                return;
            }
            queue->keys.push_back(key);
        }
    }).detach();
}

constexpr const char *kKeyHelp =
    "keys: f or space fire, e eject magazine, m load magazine, b load bullet, u unload bullet, "
    "d drop the link, q quit";

} // namespace

void DemoSession::HandleKey(int key)
{
    if (key == 'q' || key == 'Q' || key == 27) {
        userEnded_ = true;
        EndSession();
    } else if (key == 'd' || key == 'D') {
        Note("the rifle's link drops");
        DropLink();
    } else if (const RifleAction *action = ActionForKey(key)) {
        Perform(*this, *action);
    }
}

void DemoSession::FrameLoop()
{
    std::shared_ptr<KeyQueue> keys;
    if (options_.interactive) {
        keys = std::make_shared<KeyQueue>();
        StartKeyReader(keys);
        Note(kKeyHelp);
    }
    sim::Clock::time_point next = sim::Clock::now();
    sim::Clock::time_point nextRedraw = next;
    while (!ending_) {
        // What arrived before this frame is shown before what the frame does.
        Drain();
        if (gate_.TryBegin()) {
            devices_.SetPose(kRightHandIndex, ControllerPoseAt(host_.FramesRun() + 1));
            host_.RunFrame();
            frameTimes_.push_back(sim::Clock::now());
            gate_.Finished(host_.FramesRun());
        } else {
            gate_.IdleWhileHeld(std::chrono::milliseconds(10));
        }
        if (keys) {
            std::deque<int> pressed;
            bool ended = false;
            {
                std::lock_guard<std::mutex> lock(keys->mutex);
                pressed.swap(keys->keys);
                ended = keys->ended;
            }
            for (int key : pressed)
                HandleKey(key);
            if (ended && !ending_) {
                Note("standard input ended");
                userEnded_ = true;
                EndSession();
            }
        }
        const sim::Clock::time_point now = sim::Clock::now();
        if (now >= nextRedraw) {
            Refresh(false);
            nextRedraw = now + kRedrawPeriod;
        }
        // 90 frames a second; a loop that fell behind starts afresh rather than catching up.
        next += kFramePeriod;
        if (next < now - kFramePeriod)
            next = now;
        std::this_thread::sleep_until(next);
    }
}

void DemoSession::PrintSummary(double seconds)
{
    const InputTally tally = TallyInputs(host_.Recorder().Updates());
    const uint64_t frames = host_.FramesRun();
    std::printf("\nSummary\n");
    std::printf("  frames run:           %llu in %.1f s (%.0f per second)\n", static_cast<unsigned long long>(frames),
                seconds, seconds > 0 ? static_cast<double>(frames) / seconds : 0.0);
    std::string presses;
    for (const char *button : kButtons) {
        std::string name = button;
        name = name.substr(7, name.size() - 13);  // between "/input/" and "/click"
        presses += (presses.empty() ? "" : ", ") + name + " " + std::to_string(tally.Presses(button));
    }
    std::printf("  presses delivered:    %d (%s)\n", tally.AllPresses(), presses.c_str());
    const size_t notifications = host_.Recorder().CountLogPrefix("Received data: ");
    std::printf("  rifle notifications:  %zu (%zu dropped inside a running press)\n", notifications,
                notifications - static_cast<size_t>(tally.AllPresses()));
    double reconnect;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reconnect = reconnectSeconds_;
    }
    if (reconnect >= 0)
        std::printf("  reconnect time:       %.2f s from the link's drop to \"Device successfully connected.\"\n",
                    reconnect);
    else
        std::printf("  reconnect time:       (the link was not dropped and back)\n");
    const double relaySeconds = std::chrono::duration<double>(relayLastTime_ - relayFirstTime_).count();
    if (relayLastPasses_ > relayFirstPasses_ && relaySeconds > 0)
        std::printf("  relay passes:         %.0f per second (%llu passes of vistrel)\n",
                    static_cast<double>(relayLastPasses_ - relayFirstPasses_) / relaySeconds,
                    static_cast<unsigned long long>(relayLastPasses_));
    else
        std::printf("  relay passes:         none (vistrel did not relay)\n");
    if (quit_.clients > 0)
        std::printf("  quit request:         %s\n", sim::DescribeQuit(quit_).c_str());
    std::fflush(stdout);
}

int DemoSession::Run()
{
    const bool live = !options_.plain && IsTerminal(stdout) && EnableEscapeSequences(stdout);
    view_ = std::make_unique<StatusView>(stdout, live);
    std::string error;
    if (!Start(error)) {
        view_->Finish();
        std::fprintf(stderr, "demo cannot start: %s\n", error.c_str());
        return kExitCannotStart;
    }
    const sim::Clock::time_point started = sim::Clock::now();
    std::string failure;
    std::thread script([this, &failure] {
        failure = options_.interactive ? BringRifleUp(*this) : RunScript(*this);
        if (options_.interactive && failure.empty())
            SetStep(std::string("your turn; ") + kKeyHelp);
        if (!options_.interactive || !failure.empty())
            EndSession();
    });
    {
        RawKeys raw;  // keys one by one while the interactive session runs
        FrameLoop();
    }
    script.join();
    const double seconds = std::chrono::duration<double>(sim::Clock::now() - started).count();
    Refresh(true);
    Note("the server asks its clients to quit");
    quit_ = devices_.QuitClients();
    Note(sim::DescribeQuit(quit_));
    Note("the server shuts down the driver");
    Drain();
    host_.Shutdown();
    devices_.Stop();
    Drain();
    if (view_->Live())
        Refresh(true);  // the shutdown's lines in the view's last picture
    view_->Finish();
    PrintSummary(seconds);
    // Quitting the interactive session before the rifle came up is no failure.
    if (failure.empty() && !options_.interactive)
        failure = CheckEnd();
    if (!failure.empty() && !userEnded_) {
        std::fprintf(stderr, "demo failed: %s\n", failure.c_str());
        return kExitExpectationFailed;
    }
    std::printf("demo: %s\n", options_.interactive ? "session ended" : "everything the script expected happened");
    return kExitOk;
}

std::string DemoSession::CheckEnd()
{
    const sim::HostRecorder &r = host_.Recorder();
    const std::vector<std::string> violations = r.Violations();
    if (!violations.empty())
        return "the driver did what SteamVR does not allow: " + violations.front();
    if (r.CountLog("Vistrel process started.") == 0)
        return "the driver did not start vistrel";
    if (relayLastPasses_ == 0)
        return "vistrel made no pass";
    if (quit_.killed > 0)
        return "vistrel did not answer the server's quit request and was killed";
    if (r.CountLog("Vistrel process terminated.") == 0)
        return "the driver did not terminate vistrel at the shutdown";
    return "";
}

int RunDemo(const Options &options)
{
    DemoSession session(options);
    return session.Run();
}

} // namespace demo
