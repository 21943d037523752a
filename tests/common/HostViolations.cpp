// Whatever SteamVR would not tolerate of the driver in a test's simulated server (an input or
// pose call for a device that is not active, a Deactivate or Cleanup that stalls) fails that
// test, from whichever thread the server notices it on.
#include "HostRecorder.h"

#include <gtest/gtest.h>

namespace {

void FailTheTest(const std::string &what) { ADD_FAILURE() << "simulated server: " << what; }

const bool installed = (sim::SetViolationHandler(&FailTheTest), true);

} // namespace
