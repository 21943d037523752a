// tarvolt-probe on the Windows Runtime radio, under Wine: in this process against fake platform
// objects that raise their events as Windows does, with Ctrl-C and a closed console window as
// Windows delivers them; and the shipped program on Wine's own Windows Runtime, which has no
// Bluetooth classes.
#include "FakePlatform.h"
#include "Probe.h"
#include "ProbeProgram.h"

#include <windows.h>

#include <condition_variable>
#include <future>
#include <mutex>

namespace {

using namespace fakes;
using namespace probe_test;
namespace abi = bleabi;
using tarvolt::probe::StopRequest;

constexpr UINT64 kRifleAddress = 0xAABBCCDDEEFFull;
constexpr GUID kServiceUuid{0x0000FFF0, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kCharacteristicUuid{0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

template <class I, class T>
ComRef<I> Up(const ComRef<T> &object)
{
    return ComRef<I>::Borrow(object.Get());
}

// The probe run in this process as its main runs it, its report collected line by line.
class InProcessProbe {
public:
    explicit InProcessProbe(std::vector<std::string> args) : args_(std::move(args)) {}
    ~InProcessProbe()
    {
        if (thread_.joinable())
            thread_.join();
    }
    // `beforeFinished` runs after the probe returned and before it tells the console handler so.
    void Start(std::function<void()> beforeFinished = {})
    {
        thread_ = std::thread([this, beforeFinished] {
            tarvolt::probe::InterruptWatch interrupts(stop_);
            tarvolt::probe::Environment environment;
            environment.stop = &stop_;
            environment.steamVrRunning = [] { return false; };
            environment.out = [this](const std::string &line) {
                std::lock_guard<std::mutex> lock(mutex_);
                lines_.push_back(line);
                changed_.notify_all();
            };
            environment.err = environment.out;
            const int code = tarvolt::probe::RunProbe(args_, environment);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                exitCode_ = code;
                changed_.notify_all();
            }
            if (beforeFinished)
                beforeFinished();
            interrupts.Finished();
        });
    }
    bool WaitFor(const std::string &part, size_t count = 1)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kLimit, [&] {
            size_t n = 0;
            for (const std::string &line : lines_)
                n += Contains(line, part) ? 1 : 0;
            return n >= count;
        });
    }
    std::optional<int> WaitForExit()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kLimit, [&] { return exitCode_.has_value(); });
        return exitCode_;
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    StopRequest &Stop() { return stop_; }

private:
    std::vector<std::string> args_;
    StopRequest stop_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::optional<int> exitCode_;
};

// The rifle behind the fakes: one target service with the notifying characteristic.
struct FakeRifle {
    explicit FakeRifle(FakePlatform &platform)
    {
        platform.deviceStatics->deviceOperation =
            Operation<abi::IAsyncOperation_BluetoothLEDevice>(Finish::OnAnotherThread, device.Get());
        device->servicesOperation = Operation<abi::IAsyncOperation_GattDeviceServicesResult>(
            Finish::OnAnotherThread,
            Make<FakeServicesResult>(abi::GattCommunicationStatus::Success, std::vector{Up<abi::IGattDeviceService>(service)})
                .Get());
        service->characteristicsOperation = Operation<abi::IAsyncOperation_GattCharacteristicsResult>(
            Finish::OnAnotherThread,
            Make<FakeCharacteristicsResult>(abi::GattCommunicationStatus::Success,
                                            std::vector{Up<abi::IGattCharacteristic>(characteristic)})
                .Get());
        characteristic->writeOperation =
            Operation<abi::IAsyncOperation_GattCommunicationStatus>(Finish::OnAnotherThread, abi::GattCommunicationStatus::Success);
    }
    ComRef<FakeDevice> device = Make<FakeDevice>(L"Rifle Q508");
    ComRef<FakeService> service = Make<FakeService>(kServiceUuid);
    ComRef<FakeCharacteristic> characteristic = Make<FakeCharacteristic>(kCharacteristicUuid);
};

// Catches: a watch that does not scan in Active mode (the rifle's name may come only in its scan
// response), whose Ctrl-C handler is not reached or does not end the run, one that ends it
// without letting go of the rifle (the device's and characteristic's handlers stay attached and
// Windows keeps the link), and actions or a lost link not shown from Windows' events.
TEST(ProbeOnWindowsRuntime, WatchShowsTheRifleAndCtrlCLetsItGo)
{
    {
        FakePlatform platform;
        FakeRifle rifle(platform);
        FreeConsole();  // a console of this process's own, so that Windows delivers Ctrl-C to its handler
        ASSERT_TRUE(AllocConsole());
        InProcessProbe probe({"watch"});
        probe.Start();
        ASSERT_TRUE(platform.watcher->WaitForStarts(1, kLimit));
        EXPECT_EQ(platform.watcher->scanningMode, abi::BluetoothLEScanningMode::Active);
        EXPECT_EQ(platform.watcher->RaiseReceived(L"Rifle Q508", kRifleAddress), S_OK);
        ASSERT_TRUE(probe.WaitFor("state   connected and subscribed (AA:BB:CC:DD:EE:FF)"));
        EXPECT_EQ(rifle.characteristic->RaiseValueChanged({0x60, 0x01, 0x61, 0x5D}), S_OK);
        ASSERT_TRUE(probe.WaitFor("action  load bullet  60 01 61 5D"));
        EXPECT_EQ(rifle.device->RaiseStatusChanged(abi::BluetoothConnectionStatus::Disconnected), S_OK);
        ASSERT_TRUE(probe.WaitFor("state   connection lost"));
        ASSERT_TRUE(platform.watcher->WaitForStarts(2, kLimit));  // scanning again

        ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        EXPECT_EQ(probe.WaitForExit(), 0);
        EXPECT_EQ(probe.Lines().back(), "Stopped by Ctrl-C. The rifle connected 1 time and sent 1 action.");
        EXPECT_TRUE(rifle.device->statusChanged.Handlers().empty());
        EXPECT_TRUE(rifle.characteristic->valueChanged.Handlers().empty());
        EXPECT_TRUE(platform.watcher->received.Handlers().empty());
    }
    EXPECT_EQ(liveObjects, 0);
}

// Catches: a handler for a closed console window that returns before the probe has let go of
// the rifle: Windows ends the process as soon as it returns, and the rifle stays held.
TEST(ProbeOnWindowsRuntime, ClosingTheConsoleWaitsUntilTheRifleIsLetGo)
{
    FakePlatform platform;
    FakeRifle rifle(platform);
    std::promise<void> released;
    std::shared_future<void> release = released.get_future().share();
    std::atomic<bool> finished{false};
    InProcessProbe probe({"watch"});
    probe.Start([&] {
        release.wait();  // the probe's last steps, held until the test has looked
        finished = true;
    });
    ASSERT_TRUE(platform.watcher->WaitForStarts(1, kLimit));
    EXPECT_EQ(platform.watcher->RaiseReceived(L"Rifle Q508", kRifleAddress), S_OK);
    ASSERT_TRUE(probe.WaitFor("state   connected and subscribed"));

    std::atomic<bool> handlerReturned{false};
    std::thread windows([&] {
        EXPECT_TRUE(tarvolt::probe::HandleConsoleEvent(CTRL_CLOSE_EVENT));
        handlerReturned = true;
    });
    EXPECT_EQ(probe.WaitForExit(), 0);
    EXPECT_FALSE(handlerReturned) << "the handler returned before the probe had finished";
    released.set_value();
    windows.join();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(rifle.device->statusChanged.Handlers().empty());
}

// Catches: the shipped program crashing, or blaming the rifle (exit 1), where the Windows
// Runtime has no Bluetooth classes at all (Wine; a stripped-down Windows).
TEST(ShippedProbeUnderWine, WithoutTheBluetoothClassesItSaysSo)
{
    for (const char *command : {"scan", "watch"}) {
        Probe probe;
        ASSERT_TRUE(probe.Start(ShippedProbe(), {command}));
        EXPECT_EQ(probe.Exit(), 2) << command;
        const std::string verdict = probe.Report().empty() ? std::string() : probe.Report().back();
        EXPECT_TRUE(Contains(verdict, "No usable Bluetooth: the Windows Runtime's Bluetooth classes are unavailable"))
            << verdict;
        EXPECT_TRUE(Contains(verdict, "0x80040154")) << verdict;
    }
}

} // namespace
