// Ctrl-C on POSIX: the stop signals are blocked in every thread and taken by one thread of the
// watch with sigwait, which may then do what a signal handler may not (take locks, wake waits).
#include "StopRequest.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace tarvolt::probe {

namespace {

// Ends the watch's thread; never sent by anyone else.
constexpr int kWake = SIGUSR2;

bool Ignored(int signal)
{
    struct sigaction current {};
    return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

struct InterruptWatch::Platform {
    sigset_t signals;
    sigset_t previous;
    std::thread thread;
};

InterruptWatch::InterruptWatch(StopRequest &stop) : platform_(new Platform)
{
    sigemptyset(&platform_->signals);
    // A signal the probe's parent chose to ignore (nohup, a background job) stays ignored.
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        if (!Ignored(signal))
            sigaddset(&platform_->signals, signal);
    sigaddset(&platform_->signals, kWake);
    pthread_sigmask(SIG_BLOCK, &platform_->signals, &platform_->previous);
    platform_->thread = std::thread([this, &stop] {
        for (;;) {
            int signal = 0;
            if (sigwait(&platform_->signals, &signal) != 0 || signal == kWake)
                return;
            stop.Request(StopReason::Interrupted);
        }
    });
}

void InterruptWatch::Finished() {}

InterruptWatch::~InterruptWatch()
{
    pthread_kill(platform_->thread.native_handle(), kWake);
    platform_->thread.join();
    pthread_sigmask(SIG_SETMASK, &platform_->previous, nullptr);
    delete platform_;
}

} // namespace tarvolt::probe
