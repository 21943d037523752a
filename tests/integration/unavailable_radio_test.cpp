// The shipped library while it has no Bluetooth backend: every radio operation fails.
#include "DriverUnderTest.h"
#include "LinkLog.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

// Catches: a platform error escaping the worker (ending the runtime's process), a failure that
// is not reported, one that is reported again every pass (the retries themselves, at every
// pass, and their count once a minute are checked pass by pass in the link's tests), and a
// Deactivate that hangs on the worker.
TEST(UnavailableRadio, WorkerReportsEachFailureOnceAndEndsOnDeactivate)
{
    sim::SimHost host;
    testing_support::PrepareHost(host);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Failed to start the advertisement watcher.", std::chrono::seconds(20)));
    host.RunFrames(10);
    host.Deactivate();
    EXPECT_EQ(testing_support::LinkLines(host.Recorder().LogTexts()),
              (std::vector<std::string>{"Tarvolt Running", "Failed to enter the multithreaded apartment.",
                                        "Failed to create the advertisement watcher.",
                                        "Starting the advertisement watcher.",
                                        "Failed to start the advertisement watcher."}));
    host.Shutdown();
}

} // namespace
