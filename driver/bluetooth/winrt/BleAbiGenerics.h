#pragma once
// The parameterized interface instances the backend uses, each spelled out as a concrete
// interface. Their IIDs (BleAbiUuids.h) are the SHA-1 based ones the Windows Runtime computes
// from the instance's signature; the platform asks our handlers for exactly these.
// Included by BleAbi.h only.

namespace bleabi {

struct IBluetoothLEAdvertisementWatcher;
struct IBluetoothLEAdvertisementReceivedEventArgs;
struct IBluetoothLEAdvertisementWatcherStoppedEventArgs;
struct IBluetoothLEDevice;
struct IGattDeviceServicesResult;
struct IGattDeviceService;
struct IGattCharacteristicsResult;
struct IGattCharacteristic;
struct IGattValueChangedEventArgs;
struct IBluetoothAdapter;
struct IRadio;
struct IDeviceInformation;
struct IVectorView_DeviceInformation;
struct IGattSession;

enum class GattCommunicationStatus : INT32 { Success = 0, Unreachable = 1, ProtocolError = 2, AccessDenied = 3 };

// IAsyncOperation<T> (6 put_Completed, 7 get_Completed, 8 GetResults) and its
// AsyncOperationCompletedHandler<T> (3 Invoke), for one result type T.
#define BLEABI_ASYNC_OPERATION(Name, ResultAbi, OpIid, HandlerIid)                                \
    struct IAsyncOperation_##Name;                                                                \
    MIDL_INTERFACE(HandlerIid)                                                                    \
    IAsyncOperationCompletedHandler_##Name : public IUnknown {                                    \
        virtual HRESULT STDMETHODCALLTYPE Invoke(IAsyncOperation_##Name *asyncInfo, AsyncStatus status) = 0; \
    };                                                                                            \
    MIDL_INTERFACE(OpIid)                                                                         \
    IAsyncOperation_##Name : public IInspectable {                                                \
        using Handler = IAsyncOperationCompletedHandler_##Name;                                   \
        using Result = ResultAbi;                                                                 \
        virtual HRESULT STDMETHODCALLTYPE put_Completed(Handler *handler) = 0;                    \
        virtual HRESULT STDMETHODCALLTYPE get_Completed(Handler **handler) = 0;                   \
        virtual HRESULT STDMETHODCALLTYPE GetResults(ResultAbi *results) = 0;                     \
    };

BLEABI_ASYNC_OPERATION(BluetoothLEDevice, IBluetoothLEDevice *,
                       "375f9d67-74a2-5f91-a11d-169093718d41", "9156b79f-c54a-5277-8f8b-d2cc43c7e004")
BLEABI_ASYNC_OPERATION(GattDeviceServicesResult, IGattDeviceServicesResult *,
                       "e7c667f6-e874-500f-86ff-760ca6f07a58", "74ab0892-a631-5d6c-b1b4-bd2e1a741a9b")
BLEABI_ASYNC_OPERATION(GattCharacteristicsResult, IGattCharacteristicsResult *,
                       "0972194a-ac1c-5536-9886-27e58a18f273", "d6a15475-1e72-5c56-98e8-88f4bc3e0313")
BLEABI_ASYNC_OPERATION(GattCommunicationStatus, GattCommunicationStatus,
                       "3ff69516-1bfb-52e9-9ee6-e5cdb78e1683", "2154117a-978d-59db-99cf-6b690cb3389b")
BLEABI_ASYNC_OPERATION(BluetoothAdapter, IBluetoothAdapter *,
                       "46fce70c-6c07-5a3a-b775-26f99402553f", "10a10a88-90e0-511a-9a08-d75feb52a19f")
BLEABI_ASYNC_OPERATION(Radio, IRadio *,
                       "eac62c40-8dbc-5854-8ba0-b7b9940e7389", "8a5c7e3a-80e2-585b-8630-7a8e777f0354")
// DeviceInformationCollection's default interface is IVectorView<DeviceInformation>: the
// operation's signature names the collection class with that generic signature inside it.
BLEABI_ASYNC_OPERATION(DeviceInformationCollection, IVectorView_DeviceInformation *,
                       "45180254-082e-5274-b2e7-ac0517f44d07", "4a458732-527e-5c73-9a68-a73da370f782")
BLEABI_ASYNC_OPERATION(GattSession, IGattSession *,
                       "6d40b467-46b9-516f-8208-db23b786ea48", "cae01a28-fd33-542e-a5ad-3d878f73db90")
#undef BLEABI_ASYNC_OPERATION

// IVectorView<T>: 6 GetAt, 7 get_Size, 8 IndexOf, 9 GetMany.
#define BLEABI_VECTOR_VIEW(Name, ItemAbi, Iid)                                                    \
    MIDL_INTERFACE(Iid)                                                                           \
    IVectorView_##Name : public IInspectable {                                                    \
        virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, ItemAbi *item) = 0;                 \
        virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32 *size) = 0;                             \
        virtual HRESULT STDMETHODCALLTYPE IndexOf(ItemAbi value, UINT32 *index, boolean *found) = 0; \
        virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 startIndex, UINT32 capacity, ItemAbi *items, UINT32 *actual) = 0; \
    };

BLEABI_VECTOR_VIEW(GattDeviceService, IGattDeviceService *, "7c8e7fdd-a1a1-528a-81d1-296769227a08")
BLEABI_VECTOR_VIEW(GattCharacteristic, IGattCharacteristic *, "cb3ab3ae-b561-504f-a808-599deceb2df4")
BLEABI_VECTOR_VIEW(DeviceInformation, IDeviceInformation *, "e170688f-3495-5bf6-aab5-9cac17e0f10f")
#undef BLEABI_VECTOR_VIEW

// TypedEventHandler<Sender, Args>: 3 Invoke(sender, args).
#define BLEABI_TYPED_EVENT_HANDLER(Name, SenderAbi, ArgsAbi, Iid)                                 \
    MIDL_INTERFACE(Iid)                                                                           \
    ITypedEventHandler_##Name : public IUnknown {                                                 \
        using Sender = SenderAbi;                                                                 \
        using Args = ArgsAbi;                                                                     \
        virtual HRESULT STDMETHODCALLTYPE Invoke(SenderAbi sender, ArgsAbi args) = 0;             \
    };

BLEABI_TYPED_EVENT_HANDLER(Watcher_Received, IBluetoothLEAdvertisementWatcher *,
                           IBluetoothLEAdvertisementReceivedEventArgs *, "90eb4eca-d465-5ea0-a61c-033c8c5ecef2")
BLEABI_TYPED_EVENT_HANDLER(Watcher_Stopped, IBluetoothLEAdvertisementWatcher *,
                           IBluetoothLEAdvertisementWatcherStoppedEventArgs *, "9936a4db-dc99-55c3-9e9b-bf4854bd9eab")
// TypedEventHandler<BluetoothLEDevice, Object>: the argument is a bare IInspectable.
BLEABI_TYPED_EVENT_HANDLER(Device_Object, IBluetoothLEDevice *, IInspectable *, "a90661e2-372e-5d1e-bbbb-b8a2ce0e7c4d")
BLEABI_TYPED_EVENT_HANDLER(Characteristic_ValueChanged, IGattCharacteristic *,
                           IGattValueChangedEventArgs *, "c1f420f6-6292-5760-a2c9-9ddf98683cfc")
#undef BLEABI_TYPED_EVENT_HANDLER

} // namespace bleabi
