// The Windows Runtime radio backend against in-process fake platform objects, under Wine: the
// connected devices, the GattSession that keeps the link, and the low-latency request.
#include "FakePlatform.h"

#include "bluetooth/winrt/WinrtObjects.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tarvolt::radio;
using namespace fakes;

namespace {

ResultCode CodeOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const PlatformError &e) {
        return e.Code();
    }
    return kOk;
}

// Catches: connected devices not asked of Windows at all (a rifle that no longer advertises is
// never found), the wrong selector, ids lost on the way to FromIdAsync, a device that could not
// be opened (a null device, an error) taken as found or spoiling the whole list, and a worker's
// stop swallowed instead of ending the call.
TEST(WinrtConnectedDevices, OpensEachConnectedDeviceByIdAndLeavesOutThoseThatCannotBeOpened)
{
    {
        FakePlatform platform;
        auto rifle = Make<FakeDevice>(L"Rifle Q508");
        std::vector<ComRef<bleabi::IDeviceInformation>> found;
        for (const wchar_t *id : {L"gone", L"rifle", L"failing"})
            found.push_back(Make<FakeDeviceInformation>(id));
        platform.informationStatics->findOperation = Operation<bleabi::IAsyncOperation_DeviceInformationCollection>(Finish::OnAnotherThread,
            Make<FakeVectorView<bleabi::IVectorView_DeviceInformation, bleabi::IDeviceInformation>>(found).Get());
        auto &byId = platform.deviceStatics->byId;
        byId[L"gone"] = Operation<bleabi::IAsyncOperation_BluetoothLEDevice>(Finish::OnAnotherThread, nullptr);
        byId[L"rifle"] = Operation<bleabi::IAsyncOperation_BluetoothLEDevice>(Finish::OnAnotherThread, rifle.Get());
        byId[L"failing"] = ComRef<bleabi::IAsyncOperation_BluetoothLEDevice>::Attach(new FakeAsyncOperation<bleabi::IAsyncOperation_BluetoothLEDevice>(
            Finish::OnAnotherThread, Error, nullptr, HRESULT_FROM_WIN32(ERROR_NOT_FOUND)));

        auto devices = PlatformRadio().ConnectedDevices();
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0]->Name(), u"Rifle Q508");
        EXPECT_EQ(platform.informationStatics->filters, std::vector<std::wstring>{L"connected-selector"});
        EXPECT_EQ(platform.deviceStatics->ids, (std::vector<std::wstring>{L"gone", L"rifle", L"failing"}));

        byId[L"rifle"] = ComRef<bleabi::IAsyncOperation_BluetoothLEDevice>::Attach(
            new FakeAsyncOperation<bleabi::IAsyncOperation_BluetoothLEDevice>(Finish::OnAnotherThread, Canceled, nullptr));
        EXPECT_EQ(CodeOf([] { PlatformRadio().ConnectedDevices(); }), kCanceled);
    }
    EXPECT_EQ(liveObjects, 0);
}

struct KeepCase {
    const char *name;
    bool hasDeviceId;   // IBluetoothLEDevice4 (Windows 10 1709 and later)
    boolean canMaintain;
    HRESULT putResult;  // of put_MaintainConnection
    bool offBeforeClose;
    std::vector<std::string> trail;  // after MaintainConnection(true) twice, (false if asked), Close
    ResultCode raised;               // by MaintainConnection(true)
    size_t sessionsOpened;
};
void PrintTo(const KeepCase &c, std::ostream *out) { *out << c.name; }

class WinrtKeepLink : public testing::TestWithParam<KeepCase> {};

// Catches: MaintainConnection not asked of Windows (the link is not restored after a drop), a
// session opened for another device's id, a session left with MaintainConnection on (our own
// holder would keep the rifle's link for ever), a session closed twice or never, closed before
// MaintainConnection is off, or after the device, and a session that cannot maintain the link
// kept open.
TEST_P(WinrtKeepLink, SessionOnWhileConnectedOffThenClosedOnceBeforeTheDevice)
{
    const KeepCase &c = GetParam();
    {
        FakePlatform platform;
        auto fake = Make<FakeDevice>(L"Rifle Q508");
        fake->hasDeviceId = c.hasDeviceId;
        platform.sessionStatics->session->canMaintain = c.canMaintain;
        platform.sessionStatics->session->putResult = c.putResult;
        tarvolt::radio::winrt::WinrtDevice device(fake);
        EXPECT_EQ(CodeOf([&] { device.MaintainConnection(true); }), c.raised);
        EXPECT_EQ(CodeOf([&] { device.MaintainConnection(true); }), c.raised);  // once on, nothing more
        if (c.offBeforeClose)
            device.MaintainConnection(false);
        device.MaintainConnection(false);
        device.Close();
        EXPECT_EQ(trail, c.trail);
        EXPECT_EQ(platform.sessionStatics->ids.size(), c.sessionsOpened);
        for (const std::wstring &id : platform.sessionStatics->ids)
            EXPECT_EQ(id, fake->id->id);
    }
    EXPECT_EQ(liveObjects, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, WinrtKeepLink, testing::Values(
    KeepCase{"OnThenOff", true, TRUE, S_OK, true, {"session on", "session off", "session closed", "device closed"}, kOk, 1},
    KeepCase{"LeftOnUntilClose", true, TRUE, S_OK, false, {"session on", "session off", "session closed", "device closed"}, kOk, 1},
    KeepCase{"CannotMaintain", true, FALSE, S_OK, true,
             {"session off", "session closed", "session off", "session closed", "device closed"}, kOk, 2},
    KeepCase{"OnRefused", true, TRUE, E_ACCESSDENIED, true,
             {"session on", "session off", "session closed", "session on", "session off", "session closed", "device closed"},
             static_cast<ResultCode>(E_ACCESSDENIED), 2},
    KeepCase{"BeforeWindows1709", false, TRUE, S_OK, true, {"device closed"}, kOk, 0}),
    [](const testing::TestParamInfo<KeepCase> &info) { return std::string(info.param.name); });

struct LatencyCase {
    const char *name;
    bool apiInformation;  // the class can be activated
    bool windows11;       // ApiInformation says so and the device has IBluetoothLEDevice6
    FakeRequest::Status status;
    bool granted;
    std::vector<std::string> trail;  // after two requests and Close
};
void PrintTo(const LatencyCase &c, std::ostream *out) { *out << c.name; }

class WinrtLowLatency : public testing::TestWithParam<LatencyCase> {};

// Catches: ThroughputOptimized parameters not asked on Windows 11 (presses wait a long connection
// interval), Windows 11's API called on Windows 10 or where ApiInformation is missing (an error
// where it should be skipped silently), a refused request taken as granted or kept, a granted one
// released at once (its preference would lapse) or kept after the device is closed, and a new
// request that leaves the old one open.
TEST_P(WinrtLowLatency, AskedOnWindows11OnlyAndHeldUntilTheDeviceCloses)
{
    const LatencyCase &c = GetParam();
    {
        FakePlatform platform;
        if (!c.apiInformation)
            platform.factories.erase(tarvolt::radio::winrt::kApiInformationClass);
        platform.apiInformation->windows11 = c.windows11;
        auto fake = Make<FakeDevice>(L"Rifle Q508");
        fake->windows11 = c.windows11;
        fake->requestStatus = c.status;
        tarvolt::radio::winrt::WinrtDevice device(fake);
        EXPECT_EQ(device.RequestLowLatency(), c.granted);
        EXPECT_EQ(device.RequestLowLatency(), c.granted);
        device.Close();
        EXPECT_EQ(trail, c.trail);
        const std::vector<bleabi::IBluetoothLEPreferredConnectionParameters *> throughput(
            c.windows11 && c.apiInformation ? 2 : 0, platform.parametersStatics->throughputOptimized.Get());
        EXPECT_EQ(fake->requested, throughput);
    }
    EXPECT_EQ(liveObjects, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, WinrtLowLatency, testing::Values(
    LatencyCase{"Windows11", true, true, FakeRequest::Status::Success, true, {"request closed", "request closed", "device closed"}},
    LatencyCase{"Windows11Declined", true, true, FakeRequest::Status::DeviceNotAvailable, false,
                {"request closed", "request closed", "device closed"}},
    LatencyCase{"Windows10", true, false, FakeRequest::Status::Success, false, {"device closed"}},
    LatencyCase{"NoApiInformation", false, true, FakeRequest::Status::Success, false, {"device closed"}}),
    [](const testing::TestParamInfo<LatencyCase> &info) { return std::string(info.param.name); });

} // namespace
