// The Windows Runtime radio's check of Bluetooth as a whole, against fake adapters: what
// Windows reports of the default adapter and its radio becomes the reason a user reads.
#include "FakePlatform.h"

#include <gtest/gtest.h>

using namespace tarvolt::radio;
using namespace fakes;

namespace {

ComRef<bleabi::IAsyncOperation_Radio> RadioIn(bleabi::RadioState state, Finish finish)
{
    return Operation<bleabi::IAsyncOperation_Radio>(finish, Make<FakeRadio>(state).Get());
}

class WinrtReadiness : public testing::TestWithParam<Finish> {
protected:
    void SetUp() override { PlatformRadio().EnterApartment(); }
    void TearDown() override { EXPECT_EQ(liveObjects, 0) << "a reference of the check was never released"; }
};

// Catches: wrong slots or IIDs for the adapter and its radio (the check would fail or read
// garbage on Windows), a machine without an adapter or with Bluetooth switched off taken for a
// usable one, an adapter without Bluetooth LE accepted, a completion wait that misses one of
// the ways the platform finishes, and references of the lookups leaked.
TEST_P(WinrtReadiness, ReadsTheDefaultAdapterAndItsRadio)
{
    const Finish finish = GetParam();
    struct Case {
        bleabi::RadioState state;
        Readiness expected;
    };
    for (const Case &c : {Case{bleabi::RadioState::On, Readiness::Ready},
                          Case{bleabi::RadioState::Off, Readiness::AdapterOff},
                          Case{bleabi::RadioState::Disabled, Readiness::AdapterOff},
                          Case{bleabi::RadioState::Unknown, Readiness::Ready}}) {
        FakePlatform platform;
        platform.adapterStatics->defaultOperation = Operation<bleabi::IAsyncOperation_BluetoothAdapter>(
            finish, platform.adapterStatics->adapter.Get());
        platform.adapterStatics->adapter->radioOperation = RadioIn(c.state, finish);
        const RadioCheck check = PlatformRadio().CheckRadio();
        EXPECT_EQ(check.readiness, c.expected) << static_cast<int>(c.state);
        EXPECT_EQ(check.detail.empty(), c.expected == Readiness::Ready) << check.detail;
    }
    {
        FakePlatform platform;
        platform.adapterStatics->defaultOperation =
            Operation<bleabi::IAsyncOperation_BluetoothAdapter>(finish, nullptr);
        const RadioCheck check = PlatformRadio().CheckRadio();
        EXPECT_EQ(check.readiness, Readiness::NoAdapter);
        EXPECT_EQ(check.detail, "Windows reports no Bluetooth adapter");
    }
    {
        FakePlatform platform;
        platform.adapterStatics->adapter->lowEnergy = false;
        EXPECT_EQ(PlatformRadio().CheckRadio().readiness, Readiness::NoAdapter);
    }
}

INSTANTIATE_TEST_SUITE_P(Finishing, WinrtReadiness,
                         testing::Values(Finish::Already, Finish::InsidePutCompleted, Finish::OnAnotherThread),
                         [](const testing::TestParamInfo<Finish> &info) { return std::string(FinishName(info.param)); });

// Catches: a lookup that fails in between taken for a usable adapter, or reported without its
// code. (Missing classes are named by the shipped probe under Wine, which has none.)
TEST(WinrtReadinessFailures, AFailedLookupIsNamed)
{
    {
        FakePlatform platform;
        platform.adapterStatics->defaultOperation = ComRef<bleabi::IAsyncOperation_BluetoothAdapter>::Attach(
            new FakeAsyncOperation<bleabi::IAsyncOperation_BluetoothAdapter>(Finish::OnAnotherThread, Error, nullptr,
                                                                             E_ACCESSDENIED));
        const RadioCheck check = PlatformRadio().CheckRadio();
        EXPECT_EQ(check.readiness, Readiness::Unusable);
        EXPECT_NE(check.detail.find("0x80070005"), std::string::npos) << check.detail;
    }
    EXPECT_EQ(liveObjects, 0);
}

} // namespace
