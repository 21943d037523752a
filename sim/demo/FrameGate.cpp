#include "FrameGate.h"

namespace demo {

bool FrameGate::TryBegin()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_) {
        if (budget_ == 0)
            return false;
        --budget_;
    }
    inFrame_ = true;
    return true;
}

void FrameGate::Finished(uint64_t framesRun)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inFrame_ = false;
        frames_ = framesRun;
    }
    changed_.notify_all();
}

void FrameGate::IdleWhileHeld(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return closed_ || !held_ || budget_ > 0; });
}

bool FrameGate::Hold(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = true;
    budget_ = 0;
    return changed_.wait_for(lock, limit, [&] { return closed_ || !inFrame_; }) && !closed_;
}

bool FrameGate::Step(uint64_t n, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = true;
    const uint64_t target = frames_ + (inFrame_ ? 1 : 0) + n;
    budget_ = n;
    changed_.notify_all();
    return changed_.wait_for(lock, limit, [&] { return closed_ || (frames_ >= target && !inFrame_); }) && !closed_;
}

void FrameGate::Release()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        budget_ = 0;
    }
    changed_.notify_all();
}

bool FrameGate::WaitForFrames(uint64_t frames, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return closed_ || frames_ >= frames; }) && !closed_;
}

uint64_t FrameGate::FramesRun() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

void FrameGate::Close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

} // namespace demo
