#pragma once
// The test-only Windows Runtime Bluetooth component, loaded by a test from the build's bin/ (the
// file the test Wine prefix registers, so the Windows Runtime hands the driver the same module),
// with its control entry point and what a whole session of the shipped driver checks.
#include "Control.h"
#include "DriverLibrary.h"
#include "HostRecorder.h"
#include "LinkLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace component_test {

using namespace std::chrono_literals;
inline constexpr auto kLimit = 30s;  // a bound on waiting for events, not a speed check

inline constexpr uint64_t kRifleAddress = 0xC4A1B2030405ull;
inline const std::string kRifleAddressText = "216198755320837";
inline const std::string kServiceText = "{0000FFF0-0000-1000-8000-00805F9B34FB}";
inline const std::string kCharacteristicText = "{0000FFF1-0000-1000-8000-00805F9B34FB}";
inline const std::string kKeptLoaded = "Bluetooth callbacks are still held by the platform; the driver stays loaded.";

// Whether the test Wine prefix has the component's classes registered (tools/wine-session.sh).
inline bool ClassesRegistered()
{
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                      L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\"
                                      L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher",
                                      0, KEY_READ, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

class Component {
public:
    // Loads the component; Control() is null (with Error() set) when it cannot.
    Component()
    {
        const std::string path = sim::ExecutableDirectory() + "\\" + winrt_bluetooth::kComponentFile;
        if (!library_.Open(path)) {
            error_ = library_.Error();
            return;
        }
        if (auto entry = reinterpret_cast<winrt_bluetooth::ControlEntry>(library_.Symbol(winrt_bluetooth::kControlExport)))
            control_ = entry();
        else
            error_ = std::string(winrt_bluetooth::kControlExport) + " not exported by " + path;
    }

    winrt_bluetooth::Control *Control() const { return control_; }
    sim::RadioControl &Radio() const { return control_->Radio(); }
    void *Symbol(const char *name) const { return library_.Symbol(name); }
    const std::string &Error() const { return error_; }

private:
    sim::DriverLibrary library_;
    winrt_bluetooth::Control *control_ = nullptr;
    std::string error_;
};

// Bystanders that advertise around the rifle (one without a name), and the rifle; returns the
// rifle's id.
inline int AddRifleAmongOthers(sim::RadioControl &radio)
{
    sim::PeripheralScript phone, nameless;
    phone.name = u"Phone 7";
    phone.address = 0x5A0000000001ull;
    phone.connectable = false;
    nameless.address = 0x5A0000000002ull;
    radio.AddPeripheral(phone);
    radio.AddPeripheral(nameless);
    return radio.AddPeripheral(sim::RifleScript(kRifleAddress));
}

// The link's lines as the worker writes them, without those of handlers raised at times of the
// platform's choosing.
inline std::vector<std::string> WorkerLines(const sim::HostRecorder &recorder, size_t from = 0)
{
    std::vector<std::string> out;
    for (const std::string &line : testing_support::LinkLines(recorder.LogTexts(), from))
        if (line != "Watcher stopped." && line.rfind("Connected to device: ", 0) != 0 &&
            line.rfind("Disconnected from device: ", 0) != 0 && line.rfind("Found device: Phone 7 ", 0) != 0)
            out.push_back(line);
    return out;
}

// Runs a host call that must return (Deactivate, Cleanup); a call that does not return within
// the limit fails the test and ends the process, which could not go on from there.
inline void MustReturn(const char *what, const std::function<void()> &call)
{
    std::mutex mutex;
    std::condition_variable done;
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread caller([&, returned] {
        call();
        std::lock_guard<std::mutex> lock(mutex);
        *returned = true;
        done.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    if (!done.wait_for(lock, kLimit, [&] { return returned->load(); })) {
        ADD_FAILURE() << what << " did not return";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    lock.unlock();
    caller.join();
}

// What the driver logged and what the component saw, for the output of a failed test.
inline void PrintStateIfFailed(const sim::HostRecorder &recorder, winrt_bluetooth::Control *control)
{
    if (!::testing::Test::HasFailure())
        return;
    for (const sim::LogRecord &record : recorder.Logs())
        std::printf("driver log (frame %llu): %s\n", static_cast<unsigned long long>(record.frame), record.text.c_str());
    if (control != nullptr)
        std::printf("component: %d objects, %d delegates held\n", control->Stats().liveObjects,
                    control->Stats().heldDelegates);
    std::fflush(stdout);
}

// The trigger's message, then the press it makes at the very next frame and its release 21
// frames after that, each with no time offset. RunFrame and FramesRun are the host's.
template <class Host>
void ExpectTriggerPulse(Host &host, sim::RadioControl &radio, int rifle)
{
    sim::HostRecorder &recorder = host.Recorder();
    const auto updatesOf = [&](const std::string &name, uint64_t frame) {
        std::vector<sim::ComponentUpdate> out;
        for (const sim::ComponentUpdate &u : recorder.Updates())
            if (u.name == name && u.frame == frame)
                out.push_back(u);
        return out;
    };
    const size_t received = recorder.CountLog("Received data: 91 0 0 0 0 93 END");
    radio.Notify(rifle, {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D});
    ASSERT_TRUE(recorder.WaitForLog("Received data: 91 0 0 0 0 93 END", kLimit, received + 1));
    host.RunFrame();
    const uint64_t press = host.FramesRun();
    for (const auto &[frame, pressed] : {std::pair<uint64_t, bool>{press, true}, {press + 21, false}}) {
        host.RunFrames(frame - host.FramesRun());
        const auto click = updatesOf("/input/fire/click", frame);
        const auto value = updatesOf("/input/fire/value", frame);
        ASSERT_EQ(click.size(), 1u) << (pressed ? "no press at the frame after the notification" : "no release");
        ASSERT_EQ(value.size(), 1u);
        EXPECT_EQ(click[0].boolValue, pressed);
        EXPECT_EQ(value[0].scalarValue, pressed ? 1.0f : 0.0f);
        EXPECT_EQ(click[0].timeOffset, 0.0);
        EXPECT_EQ(value[0].timeOffset, 0.0);
    }
}

// After Deactivate and Cleanup: the session ran on the component's classes, every handler of
// the driver returned success to the platform, and the component holds nothing of the driver
// (no delegate whose code would go with the library, no object the driver forgot to release).
inline void ExpectNothingHeldAfterCleanup(winrt_bluetooth::Control &control)
{
    ASSERT_TRUE(control.WaitUntilIdle(kLimit));
    const winrt_bluetooth::ComponentStats stats = control.Stats();
    EXPECT_GT(stats.factories, 0) << "the driver did not activate the component's classes";
    EXPECT_EQ(stats.heldDelegates, 0) << "delegates of the driver still held by the platform";
    EXPECT_EQ(stats.liveObjects, 0) << "platform objects the driver did not release";
    EXPECT_EQ(stats.sessionsClosedMaintaining, 0) << "a GattSession closed with MaintainConnection still on";
    EXPECT_EQ(stats.repeatedCloses, 0) << "an object closed more than once";
    EXPECT_EQ(stats.unclosedReleases, 0) << "a GattSession or connection-parameters request let go of without Close";
    const sim::RadioStats radio = control.Radio().Stats();
    EXPECT_EQ(radio.scanning, 0);
    EXPECT_EQ(radio.attachedHandlers, 0);
    EXPECT_TRUE(radio.handlerFailures.empty()) << "a handler returned " << std::hex
                                               << (radio.handlerFailures.empty() ? 0 : radio.handlerFailures[0]);
}

} // namespace component_test
