// The shipped Linux library on a machine whose sd-bus library is unusable: the test runs with a
// library path that finds a libsystemd.so.0 and a libelogind.so.0 without sd-bus in them first.
#include "DriverUnderTest.h"

#include <cstdlib>

namespace {

// Catches: a driver that SteamVR cannot load, or whose link stops or crashes, where the D-Bus
// library is missing, and a reason that is not said.
TEST(ShippedLibraryWithoutSdBus, LoadsRunsAndSaysWhyTheLinkFails)
{
    ASSERT_NE(std::getenv("LD_LIBRARY_PATH"), nullptr) << "run through ctest, which sets the library path";
    sim::SimHost host;
    testing_support::PrepareHost(host);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    ASSERT_EQ(host.Activate(), vr::VRInitError_None);
    ASSERT_TRUE(host.Recorder().WaitForLog("Failed to start the advertisement watcher.", std::chrono::seconds(20)));
    host.RunFrames(3);
    host.Shutdown();
    EXPECT_EQ(host.Recorder().CountLogPrefix("BlueZ: the D-Bus library sd-bus (libsystemd.so.0) could not be loaded ("),
              1u);
    EXPECT_EQ(host.Recorder().CountLogPrefix("BlueZ: the D-Bus library sd-bus (libsystemd.so.0) could not be loaded "
                                             "(libsystemd.so.0 has no sd_bus_new"),
              1u);
}

} // namespace
