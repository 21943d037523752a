// The driver's calls into the Windows Runtime where Windows' side is MSVC-built: the Bluetooth
// backend's calls with an argument passed by value beyond a pointer (a GUID, an enum, a
// boolean), made through the driver's own declarations (BleAbi.h) on objects compiled for the
// MSVC ABI from an independent declaration (MsvcWinrt.cpp).
#include "MsvcSeam.h"
#include "bluetooth/winrt/BleAbi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

template <class T>
T *Object(MsvcWinrtObject object)
{
    return static_cast<T *>(static_cast<IInspectable *>(msvc_winrt_object(object)));
}

constexpr GUID kUuid{0x0000FFF1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

struct AbiCase {
    const char *name;
    std::function<HRESULT()> call;
    MsvcWinrtObject object;
    int32_t slot;
    uint64_t argument;
    bool guid;
};

// Catches: a call landing in another slot of Windows' table (a declaration out of order, the
// setter and getter of MaintainConnection swapped), and a GUID, enum or boolean that reaches
// Windows garbled or in the wrong register.
TEST(MsvcAbiWindowsRuntime, CallsReachWindowsSlotWithTheirArguments)
{
    void *out = reinterpret_cast<void *>(1);
    boolean flag = 0;
    const AbiCase cases[] = {
        {"services for a UUID", [&] { return Object<bleabi::IBluetoothLEDevice3>(MsvcWinrt_Device3)->GetGattServicesForUuidWithCacheModeAsync(
             kUuid, bleabi::BluetoothCacheMode::Uncached, reinterpret_cast<bleabi::IAsyncOperation_GattDeviceServicesResult **>(&out)); },
         MsvcWinrt_Device3, 11, 1, true},
        {"connected selector", [&] { return Object<bleabi::IBluetoothLEDeviceStatics2>(MsvcWinrt_DeviceStatics2)->GetDeviceSelectorFromConnectionStatus(
             bleabi::BluetoothConnectionStatus::Connected, reinterpret_cast<HSTRING *>(&out)); },
         MsvcWinrt_DeviceStatics2, 7, 1, false},
        {"can maintain", [&] { return Object<bleabi::IGattSession>(MsvcWinrt_Session)->get_CanMaintainConnection(&flag); },
         MsvcWinrt_Session, 7, 0, false},
        {"maintain on", [&] { return Object<bleabi::IGattSession>(MsvcWinrt_Session)->put_MaintainConnection(TRUE); },
         MsvcWinrt_Session, 8, 1, false},
        {"maintain off", [&] { return Object<bleabi::IGattSession>(MsvcWinrt_Session)->put_MaintainConnection(FALSE); },
         MsvcWinrt_Session, 8, 0, false},
    };
    for (const AbiCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), S_OK);
        MsvcWinrtCall call{};
        msvc_winrt_last_call(&call);
        EXPECT_EQ(call.object, c.object);
        EXPECT_EQ(call.slot, c.slot);
        EXPECT_EQ(call.argument, c.argument);
        if (c.guid) {
            EXPECT_EQ(std::memcmp(call.guid, &kUuid, sizeof kUuid), 0);
        }
    }
    EXPECT_EQ(flag, 1) << "the boolean Windows wrote";
    boolean on = 1;
    ASSERT_EQ(Object<bleabi::IGattSession>(MsvcWinrt_Session)->get_MaintainConnection(&on), S_OK);
    EXPECT_EQ(on, 0) << "the last MaintainConnection Windows was given";
}

} // namespace
