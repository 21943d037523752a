// The component's entry points: DllGetActivationFactory and DllCanUnloadNow, which the Windows
// Runtime calls for a class registered with this DLL as its DllPath, and the control entry
// point for tests and the demo.
#include "Classes.h"

#include <condition_variable>
#include <cstring>
#include <thread>

namespace winrt_bluetooth {

namespace {

std::atomic<Completion> completion{Completion::AsItComes};

// The component's threads (operations' work and late completions).
std::mutex threadsMutex;
std::condition_variable threadsDone;
int threadsRunning = 0;

class ComponentControl final : public Control {
public:
    sim::RadioControl &Radio() override { return winrt_bluetooth::Radio(); }
    void SetCompletion(Completion value) override { completion = value; }
    ComponentStats Stats() override
    {
        Counters &c = Count();
        ComponentStats stats;
        stats.liveObjects = c.liveObjects;
        stats.heldDelegates = c.heldDelegates;
        stats.runningThreads = RunningThreads();
        stats.factories = c.factories;
        stats.operations = c.operations;
        stats.canceled = c.canceled;
        stats.completedOnComponentThread = c.completedOnComponentThread;
        stats.completedInsidePutCompleted = c.completedInsidePutCompleted;
        stats.completedInsideCancel = c.completedInsideCancel;
        return stats;
    }
    bool WaitUntilIdle(std::chrono::milliseconds limit) override
    {
        // An operation's work may raise radio events, and an event may start nothing: threads
        // first, then the events, then the threads once more for what the events started.
        return WaitUntilThreadsDone(limit) && winrt_bluetooth::Radio().WaitUntilIdle(limit) &&
               WaitUntilThreadsDone(limit);
    }
};

} // namespace

Counters &Count()
{
    static Counters *const counters = new Counters();  // outlives every object, at exit too
    return *counters;
}

Completion CurrentCompletion() { return completion.load(); }

sim::SimRadio &Radio() { return sim::SimRadioInstance(); }

void RunOnComponentThread(std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(threadsMutex);
        ++threadsRunning;
    }
    std::thread([work = std::move(work)]() mutable {
        work();
        work = nullptr;  // what it held goes while the thread still counts
        std::lock_guard<std::mutex> lock(threadsMutex);
        --threadsRunning;
        threadsDone.notify_all();
    }).detach();
}

bool WaitUntilThreadsDone(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(threadsMutex);
    return threadsDone.wait_for(lock, limit, [] { return threadsRunning == 0; });
}

int RunningThreads()
{
    std::lock_guard<std::mutex> lock(threadsMutex);
    return threadsRunning;
}

HRESULT NewString(const std::u16string &text, HSTRING *out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (text.empty())
        return S_OK;
    return WindowsCreateString(reinterpret_cast<const wchar_t *>(text.data()), static_cast<UINT32>(text.size()), out);
}

} // namespace winrt_bluetooth

using namespace winrt_bluetooth;

// The factory of a class this component serves (IActivationFactory, also answering the
// class's statics interface); CLASS_E_CLASSNOTAVAILABLE for any other class.
extern "C" HRESULT WINAPI DllGetActivationFactory(HSTRING classId, IActivationFactory **factory)
{
    if (!factory)
        return E_POINTER;
    *factory = nullptr;
    UINT32 length = 0;
    const wchar_t *name = WindowsGetStringRawBuffer(classId, &length);
    const std::wstring requested(name ? name : L"", length);
    return Guarded([&] {
        ComRef<IActivationFactory> made;
        if (requested == kWatcherClass)
            made = NewWatcherFactory();
        else if (requested == kDeviceClass)
            made = NewDeviceStatics();
        else if (requested == kDataReaderClass)
            made = NewDataReaderStatics();
        else
            return CLASS_E_CLASSNOTAVAILABLE;
        ++Count().factories;
        return Lend(made, factory);
    });
}

// The DLL may go once no object of its own is alive and no thread of its own runs.
extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return Count().liveObjects == 0 && RunningThreads() == 0 ? S_OK : S_FALSE;
}

extern "C" Control *TarvoltWinrtBluetooth()
{
    static ComponentControl *const control = new ComponentControl();
    return control;
}
