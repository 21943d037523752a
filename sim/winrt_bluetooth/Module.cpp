// The component's entry points: DllGetActivationFactory and DllCanUnloadNow, which the Windows
// Runtime calls for a class registered with this DLL as its DllPath, and the control entry
// point for tests and the demo.
#include "Classes.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <system_error>

#include <windows.h>

namespace winrt_bluetooth {

namespace {

std::atomic<Completion> completion{Completion::AsItComes};

// Control::WaitForStats.
std::mutex statsMutex;
std::condition_variable statsChanged;

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
        stats.connectedListings = c.connectedListings;
        stats.sessionsOpened = c.sessionsOpened;
        stats.sessionsOpen = c.sessionsOpen;
        stats.sessionsMaintaining = c.sessionsMaintaining;
        stats.sessionsClosedMaintaining = c.sessionsClosedMaintaining;
        stats.requestsGranted = c.requestsGranted;
        stats.requestsOpen = c.requestsOpen;
        stats.repeatedCloses = c.repeatedCloses;
        stats.unclosedReleases = c.unclosedReleases;
        return stats;
    }
    bool WaitUntilIdle(std::chrono::milliseconds limit) override
    {
        // An operation's work may raise radio events, and an event may start nothing: threads
        // first, then the events, then the threads once more for what the events started.
        return WaitUntilThreadsDone(limit) && winrt_bluetooth::Radio().WaitUntilIdle(limit) &&
               WaitUntilThreadsDone(limit);
    }
    void SetWindows(WindowsVersion version) override { winrt_bluetooth::SetWindows(version); }
    bool WaitForStats(const std::function<bool(const ComponentStats &)> &done, std::chrono::milliseconds limit) override
    {
        std::unique_lock<std::mutex> lock(statsMutex);
        return statsChanged.wait_for(lock, limit, [&] { return done(Stats()); });
    }
};

} // namespace

Counters &Count()
{
    static Counters *const counters = new Counters();  // outlives every object, at exit too
    return *counters;
}

Completion CurrentCompletion() { return completion.load(); }

void StatsChanged()
{
    std::lock_guard<std::mutex> lock(statsMutex);
    statsChanged.notify_all();
}

sim::SimRadio &Radio() { return sim::SimRadioInstance(); }

namespace {

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

DWORD WINAPI RunComponentThread(void *parameter)
{
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()> *>(parameter));
    (*work)();
    work.reset();  // what it held goes while the thread still counts
    {
        std::lock_guard<std::mutex> lock(threadsMutex);
        --threadsRunning;
        threadsDone.notify_all();
    }
    // The thread holds a reference to this DLL, dropped without returning into its code, so that
    // the DLL can be unloaded as soon as it says it may (DllCanUnloadNow) without going under us.
    FreeLibraryAndExitThread(ThisModule(), 0);
}

} // namespace

// A Win32 thread, as the platform's own thread pool has, rather than a detached std::thread
// (a winpthreads thread with MinGW): under Wine, about one session in eight lost such a thread
// before it had finished its work, leaving the operation started for ever.
void RunOnComponentThread(std::function<void()> work)
{
    auto start = std::make_unique<std::function<void()>>(std::move(work));
    {
        std::lock_guard<std::mutex> lock(threadsMutex);
        ++threadsRunning;
    }
    HMODULE module = nullptr;
    HANDLE thread = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunComponentThread),
                           &module)) {
        thread = CreateThread(nullptr, 0, &RunComponentThread, start.get(), 0, nullptr);
        if (thread == nullptr)
            FreeLibrary(module);
    }
    if (thread == nullptr) {
        std::lock_guard<std::mutex> lock(threadsMutex);
        --threadsRunning;
        threadsDone.notify_all();
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateThread");
    }
    start.release();  // the thread's now
    CloseHandle(thread);
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
        else if (requested == kDeviceInformationClass)
            made = NewDeviceInformationStatics();
        else if (requested == kGattSessionClass)
            made = NewGattSessionStatics();
        else if (requested == kApiInformationClass)
            made = NewApiInformationStatics();
        else if (requested == kPreferredParametersClass && Windows11())
            made = NewPreferredParametersStatics();
        else if (requested == kPreferredParametersClass)
            return REGDB_E_CLASSNOTREG;  // a Windows 10 has no such class registered
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
