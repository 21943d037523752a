// The frame gate lets the demo's script place a notification a known number of frames into a
// press, on any machine. A frame loop like the demo's runs on its own thread here.
#include "FrameGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kLimit = 20s;  // only ever reached by a failing test

class FrameLoop {
public:
    explicit FrameLoop(demo::FrameGate &gate) : gate_(gate), thread_([this] { Run(); }) {}
    ~FrameLoop()
    {
        stop_ = true;
        gate_.Release();
        thread_.join();
    }
    uint64_t Frames() const { return frames_; }

private:
    void Run()
    {
        while (!stop_) {
            if (gate_.TryBegin()) {
                ++frames_;
                gate_.Finished(frames_);
            } else {
                gate_.IdleWhileHeld(1ms);
            }
        }
    }
    demo::FrameGate &gate_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> frames_{0};
    std::thread thread_;
};

// Catches: a gate that lets one frame too many or too few run while held (the second trigger
// pull would land at another point of the press, or after it), and frames that run on while
// the script waits for a notification.
TEST(DemoFrameGate, RunsExactlyTheStepsAskedForWhileHeld)
{
    demo::FrameGate gate;
    FrameLoop loop(gate);
    ASSERT_TRUE(gate.WaitForFrames(3, kLimit));
    ASSERT_TRUE(gate.Hold(kLimit));
    const uint64_t held = loop.Frames();
    EXPECT_EQ(gate.FramesRun(), held);
    ASSERT_TRUE(gate.Step(4, kLimit));
    EXPECT_EQ(loop.Frames(), held + 4);
    ASSERT_TRUE(gate.Step(1, kLimit));
    EXPECT_EQ(loop.Frames(), held + 5);
    gate.Release();
    EXPECT_TRUE(gate.WaitForFrames(held + 50, kLimit));
}

// Catches: a script left waiting for frames after the session ended (its end would hang).
TEST(DemoFrameGate, CloseEndsEveryWait)
{
    demo::FrameGate gate;
    std::thread closer([&] { gate.Close(); });
    EXPECT_FALSE(gate.WaitForFrames(1, kLimit));
    EXPECT_FALSE(gate.Step(1, kLimit));
    closer.join();
}

} // namespace
