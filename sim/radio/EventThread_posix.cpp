#include "EventThread.h"

#include <system_error>
#include <thread>

namespace sim {

EventThread::~EventThread() { Join(); }

bool EventThread::Start(std::function<void()> body)
{
    Join();  // the thread before has left its body: this returns at once
    try {
        thread_ = new std::thread(std::move(body));
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

void EventThread::Join()
{
    auto *thread = static_cast<std::thread *>(thread_);
    if (thread == nullptr || thread->get_id() == std::this_thread::get_id())
        return;
    thread->join();
    delete thread;
    thread_ = nullptr;
}

} // namespace sim
