#pragma once
// Lets the demo's script hold the frame loop, run an exact number of frames and let it go on,
// so that what it shows (an event arriving inside a running pulse) does not depend on how fast
// this machine runs the driver's threads. The frame loop asks before each frame; the script
// waits on the frames run, never on the clock.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace demo {

class FrameGate {
public:
    // Frame loop: true when a frame may run now; then Finished must follow.
    bool TryBegin();
    void Finished(uint64_t framesRun);
    // Frame loop: idles while held, until let go, closed or the time is up.
    void IdleWhileHeld(std::chrono::milliseconds limit);

    // Script: holds the loop after the frame under way; true once no frame runs.
    bool Hold(std::chrono::milliseconds limit);
    // Script: lets exactly n more frames run, then holds again; true once they ran.
    bool Step(uint64_t n, std::chrono::milliseconds limit);
    // Script: lets the loop run freely again.
    void Release();
    // Script: waits until `frames` frames have run in all; false on time-out or close.
    bool WaitForFrames(uint64_t frames, std::chrono::milliseconds limit);
    uint64_t FramesRun() const;

    // Ends every wait (the session is over).
    void Close();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool closed_ = false;
    bool inFrame_ = false;
    uint64_t budget_ = 0;  // frames still allowed while held
    uint64_t frames_ = 0;
};

} // namespace demo
