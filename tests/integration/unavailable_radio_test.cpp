// The shipped library while it has no Bluetooth backend: every radio operation fails.
#include "DriverUnderTest.h"
#include "LinkLog.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

// Catches: a platform error escaping the worker (ending the runtime's process), a worker that
// gives up instead of retrying, and a Deactivate that hangs on it.
TEST(UnavailableRadio, WorkerReportsEachFailureAndKeepsTrying)
{
    sim::SimHost host;
    testing_support::PrepareHost(host);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Failed to start the advertisement watcher.", std::chrono::seconds(20), 2));
    host.Deactivate();
    const std::vector<std::string> logs = testing_support::LinkLines(host.Recorder().LogTexts());
    ASSERT_GE(logs.size(), 7u);
    const std::vector<std::string> first(logs.begin(), logs.begin() + 7);
    EXPECT_EQ(first, (std::vector<std::string>{
                         "Tarvolt Running", "Failed to enter the multithreaded apartment.",
                         "Failed to create the advertisement watcher.", "Starting the advertisement watcher.",
                         "Failed to start the advertisement watcher.", "Starting the advertisement watcher.",
                         "Failed to start the advertisement watcher."}));
    host.Shutdown();
}

} // namespace
