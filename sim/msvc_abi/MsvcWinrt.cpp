// Windows Runtime interfaces as Windows implements them, compiled for the MSVC ABI (Windows'
// own DLLs are MSVC-built): one object per kind of argument the driver passes by value beyond a
// pointer (a GUID with an enum, an enum, a boolean). Each records what it received in its slot;
// the rest of each table is slots that are never called.
// Declared here from Windows' metadata independently of the driver's own declarations.
#include "MsvcSeam.h"

namespace {

using HRESULT = int32_t;
using boolean = unsigned char;
struct Guid {
    uint32_t data1;
    uint16_t data2, data3;
    uint8_t data4[8];
};
constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001u);

MsvcWinrtCall lastCall;

void Record(int32_t object, int32_t slot, uint64_t argument)
{
    lastCall = MsvcWinrtCall{object, slot, argument, {}};
}
void RecordGuid(const Guid &guid) { __builtin_memcpy(lastCall.guid, &guid, sizeof guid); }

// IUnknown and IInspectable: slots 0 to 5.
class Inspectable {
public:
    virtual HRESULT QueryInterface(const Guid &, void **out)
    {
        *out = nullptr;
        return static_cast<HRESULT>(0x80004002u);
    }
    virtual uint32_t AddRef() { return 1; }
    virtual uint32_t Release() { return 1; }
    virtual HRESULT GetIids(uint32_t *, Guid **) { return kNotImplemented; }
    virtual HRESULT GetRuntimeClassName(void **) { return kNotImplemented; }
    virtual HRESULT GetTrustLevel(int32_t *) { return kNotImplemented; }
};

#define UNCALLED(n) \
    virtual HRESULT Slot##n() { return kNotImplemented; }

// IBluetoothLEDevice3.
class Device3 final : public Inspectable {
public:
    UNCALLED(6) UNCALLED(7) UNCALLED(8) UNCALLED(9) UNCALLED(10)
    virtual HRESULT GetGattServicesForUuidWithCacheModeAsync(Guid uuid, int32_t mode, void **operation)  // 11
    {
        Record(MsvcWinrt_Device3, 11, static_cast<uint64_t>(mode));
        RecordGuid(uuid);
        *operation = nullptr;
        return 0;
    }
};

// IBluetoothLEDeviceStatics2.
class DeviceStatics2 final : public Inspectable {
public:
    UNCALLED(6)
    virtual HRESULT GetDeviceSelectorFromConnectionStatus(int32_t status, void **selector)  // 7
    {
        Record(MsvcWinrt_DeviceStatics2, 7, static_cast<uint64_t>(status));
        *selector = nullptr;
        return 0;
    }
};

// IGattSession: the setter of MaintainConnection comes before its getter.
class Session final : public Inspectable {
public:
    UNCALLED(6)
    virtual HRESULT get_CanMaintainConnection(boolean *value)  // 7
    {
        Record(MsvcWinrt_Session, 7, 0);
        *value = 1;
        return 0;
    }
    virtual HRESULT put_MaintainConnection(boolean value)  // 8
    {
        Record(MsvcWinrt_Session, 8, value);
        maintain_ = value;
        return 0;
    }
    virtual HRESULT get_MaintainConnection(boolean *value)  // 9
    {
        Record(MsvcWinrt_Session, 9, 0);
        *value = maintain_;
        return 0;
    }

private:
    boolean maintain_ = 0;
};

Device3 device3;
DeviceStatics2 deviceStatics2;
Session session;

} // namespace

extern "C" {

void *msvc_winrt_object(int32_t object)
{
    switch (object) {
    case MsvcWinrt_Device3: return &device3;
    case MsvcWinrt_DeviceStatics2: return &deviceStatics2;
    case MsvcWinrt_Session: return &session;
    default: return nullptr;
    }
}

void msvc_winrt_last_call(MsvcWinrtCall *call) { *call = lastCall; }

} // extern "C"
