#pragma once
// The simulated radio's event thread stands in for the platform's threads, which are not part of
// the driver. Here its code lies in whatever holds the simulated radio, the driver library among
// them, and the runtime unloads that library without stopping anything first. So the thread
// runs only while it has work (the radio ends it when idle), and while it runs the library
// cannot go away under it: on Windows it holds a reference to its own module and drops it as it
// exits (FreeLibraryAndExitThread), elsewhere unloading the library ends it first (the radio's
// unload hook in SimRadio.cpp).
#include <functional>

namespace sim {

class EventThread {
public:
    EventThread() = default;
    // Lets go of the thread object of the last thread started (which must have left its body).
    ~EventThread();
    EventThread(const EventThread &) = delete;
    EventThread &operator=(const EventThread &) = delete;

    // Runs body on a new thread; false when no thread could be made. The thread started before
    // must have left its body already (it may still be on its way out).
    bool Start(std::function<void()> body);
    // Waits until the last thread started has ended; at once when there is none, or when called
    // on that thread itself.
    void Join();

private:
    void *thread_ = nullptr;  // the platform's thread object
    unsigned long id_ = 0;    // the thread's id on Windows
};

} // namespace sim
