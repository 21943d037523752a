#pragma once
// The same runtime-level tests run against the driver linked into the test program (unit build)
// and against the built library loaded from its package folder, natively and under Wine
// (integration build). PrepareHost makes a host ready for Init either way.
#include "SimHost.h"

#include <gtest/gtest.h>

#if defined(TARVOLT_IN_PROCESS)
#include "DeviceProvider.h"
#endif

namespace testing_support {

inline void PrepareHost(sim::SimHost &host, bool simulatedRadio = false)
{
#if defined(TARVOLT_IN_PROCESS)
    (void)simulatedRadio;
    host.UseFactory(&tarvolt::ProviderFactory);
#else
    const std::string root = sim::SimHost::DefaultPackageRoot(simulatedRadio);
    ASSERT_TRUE(host.Load(root)) << host.Error();
#endif
}

} // namespace testing_support
