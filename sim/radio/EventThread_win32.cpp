#include "EventThread.h"

#include <windows.h>

#include <memory>

namespace sim {

namespace {

struct ThreadStart {
    std::function<void()> body;
    HMODULE module;
};

DWORD WINAPI Run(void *parameter)
{
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(parameter));
    start->body();
    const HMODULE module = start->module;
    start.reset();
    // Drops the thread's reference to its module without returning into it: the last reference
    // unloads the library only once this thread no longer runs its code.
    FreeLibraryAndExitThread(module, 0);
}

} // namespace

EventThread::~EventThread()
{
    if (thread_ != nullptr)
        CloseHandle(static_cast<HANDLE>(thread_));
}

bool EventThread::Start(std::function<void()> body)
{
    if (thread_ != nullptr)
        CloseHandle(static_cast<HANDLE>(thread_));  // it has left its body and ends on its own
    thread_ = nullptr;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Run), &module))
        return false;
    auto *start = new ThreadStart{std::move(body), module};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &Run, start, 0, &id);
    if (thread == nullptr) {
        delete start;
        FreeLibrary(module);
        return false;
    }
    thread_ = thread;
    id_ = id;
    return true;
}

void EventThread::Join()
{
    if (thread_ == nullptr || GetCurrentThreadId() == id_)
        return;
    WaitForSingleObject(static_cast<HANDLE>(thread_), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread_));
    thread_ = nullptr;
}

} // namespace sim
