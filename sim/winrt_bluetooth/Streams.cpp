// Windows.Storage.Streams: the buffer a notification's value comes in, and the DataReader
// statics that read it.
#include "Classes.h"

#include <cstring>

// IBufferByteAccess (robuffer.h, which MinGW lacks): a classic COM interface of every buffer.
MIDL_INTERFACE("905a0fef-bc53-11df-8c49-001e4fc686da")
IBufferByteAccess : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Buffer(BYTE **value) = 0;
};
__CRT_UUID_DECL(IBufferByteAccess, 0x905a0fef, 0xbc53, 0x11df, 0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda)

namespace winrt_bluetooth {

// IDataReader with every slot after ReadBytes, so that the reader's table is as long as
// Windows' (the driver's declaration stops at ReadBytes).
struct IDataReaderWhole : public abi::IDataReader {
    virtual HRESULT STDMETHODCALLTYPE ReadBuffer(UINT32 length, abi::IBuffer **buffer) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE ReadBoolean(boolean *value) = 0;                       // 16
    virtual HRESULT STDMETHODCALLTYPE ReadGuid(GUID *value) = 0;                             // 17
    virtual HRESULT STDMETHODCALLTYPE ReadInt16(INT16 *value) = 0;                           // 18
    virtual HRESULT STDMETHODCALLTYPE ReadInt32(INT32 *value) = 0;                           // 19
    virtual HRESULT STDMETHODCALLTYPE ReadInt64(INT64 *value) = 0;                           // 20
    virtual HRESULT STDMETHODCALLTYPE ReadUInt16(UINT16 *value) = 0;                         // 21
    virtual HRESULT STDMETHODCALLTYPE ReadUInt32(UINT32 *value) = 0;                         // 22
    virtual HRESULT STDMETHODCALLTYPE ReadUInt64(UINT64 *value) = 0;                         // 23
    virtual HRESULT STDMETHODCALLTYPE ReadSingle(FLOAT *value) = 0;                          // 24
    virtual HRESULT STDMETHODCALLTYPE ReadDouble(DOUBLE *value) = 0;                         // 25
    virtual HRESULT STDMETHODCALLTYPE ReadString(UINT32 codeUnitCount, HSTRING *value) = 0;  // 26
    virtual HRESULT STDMETHODCALLTYPE ReadDateTime(abi::DateTime *value) = 0;                // 27
    virtual HRESULT STDMETHODCALLTYPE ReadTimeSpan(abi::TimeSpan *value) = 0;                // 28
    virtual HRESULT STDMETHODCALLTYPE LoadAsync(UINT32 count, IInspectable **operation) = 0; // 29
    virtual HRESULT STDMETHODCALLTYPE DetachBuffer(abi::IBuffer **buffer) = 0;               // 30
    virtual HRESULT STDMETHODCALLTYPE DetachStream(IInspectable **stream) = 0;               // 31
};

} // namespace winrt_bluetooth

// The reader answers for IDataReader with its whole table.
__CRT_UUID_DECL(winrt_bluetooth::IDataReaderWhole, 0xe2b50029, 0xb4c1, 0x4314, 0xa4, 0xb8, 0xfb, 0x81, 0x3a, 0x2f, 0x27, 0x5e)

namespace winrt_bluetooth {

namespace {

constexpr wchar_t kBufferClass[] = L"Windows.Storage.Streams.Buffer";

class ByteBuffer final : public Object<abi::IBuffer, IBufferByteAccess> {
public:
    explicit ByteBuffer(std::vector<uint8_t> bytes)
        : Object(kBufferClass), bytes_(std::move(bytes)), length_(static_cast<UINT32>(bytes_.size()))
    {
    }
    HRESULT STDMETHODCALLTYPE get_Capacity(UINT32 *value) override { return Give(value, bytes_.size()); }
    HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) override { return Give(value, length_.load()); }
    HRESULT STDMETHODCALLTYPE put_Length(UINT32 value) override
    {
        if (value > bytes_.size())
            return E_INVALIDARG;
        length_ = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Buffer(BYTE **value) override { return Give(value, bytes_.data()); }

private:
    std::vector<uint8_t> bytes_;
    std::atomic<UINT32> length_;
};

// A reader over the buffer's bytes as its length stood when the reader was made.
class DataReader final : public Object<IDataReaderWhole, abi::IClosable> {
public:
    DataReader(ComRef<abi::IBuffer> buffer, const BYTE *bytes, UINT32 length)
        : Object(kDataReaderClass), buffer_(std::move(buffer)), bytes_(bytes), length_(length)
    {
    }
    HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32 *value) override
    {
        return Closed() ? RO_E_CLOSED : Give(value, length_ - position_);
    }
    HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32 *value) override { return Give(value, encoding_); }
    HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32 value) override { return Set(encoding_, value, 2); }
    HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32 *value) override { return Give(value, byteOrder_); }
    HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32 value) override { return Set(byteOrder_, value, 1); }
    HRESULT STDMETHODCALLTYPE get_InputStreamOptions(UINT32 *value) override { return Give(value, options_); }
    HRESULT STDMETHODCALLTYPE put_InputStreamOptions(UINT32 value) override
    {
        options_ = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadByte(BYTE *value) override { return ReadBytes(1, value); }
    // Fills the caller's array: a read past the unconsumed bytes fails with E_BOUNDS and reads
    // nothing. A null array is refused whatever the length: Windows documents nothing for it.
    HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 length, BYTE *value) override
    {
        if (Closed())
            return RO_E_CLOSED;
        if (!value)
            return E_POINTER;
        if (length > length_ - position_)
            return E_BOUNDS;
        if (length != 0)
            std::memcpy(value, bytes_ + position_, length);
        position_ += length;
        return S_OK;
    }
    NOT_SERVED(ReadBuffer(UINT32, abi::IBuffer **))
    NOT_SERVED(ReadBoolean(boolean *))
    NOT_SERVED(ReadGuid(GUID *))
    NOT_SERVED(ReadInt16(INT16 *))
    NOT_SERVED(ReadInt32(INT32 *))
    NOT_SERVED(ReadInt64(INT64 *))
    NOT_SERVED(ReadUInt16(UINT16 *))
    NOT_SERVED(ReadUInt32(UINT32 *))
    NOT_SERVED(ReadUInt64(UINT64 *))
    NOT_SERVED(ReadSingle(FLOAT *))
    NOT_SERVED(ReadDouble(DOUBLE *))
    NOT_SERVED(ReadString(UINT32, HSTRING *))
    NOT_SERVED(ReadDateTime(abi::DateTime *))
    NOT_SERVED(ReadTimeSpan(abi::TimeSpan *))
    NOT_SERVED(LoadAsync(UINT32, IInspectable **))
    NOT_SERVED(DetachBuffer(abi::IBuffer **))
    NOT_SERVED(DetachStream(IInspectable **))
    HRESULT STDMETHODCALLTYPE Close() override
    {
        closed_ = true;
        return S_OK;
    }

private:
    bool Closed() const { return closed_.load(); }
    static HRESULT Set(INT32 &field, INT32 value, INT32 highest)
    {
        if (value < 0 || value > highest)
            return E_INVALIDARG;
        field = value;
        return S_OK;
    }

    const ComRef<abi::IBuffer> buffer_;  // keeps the bytes alive
    const BYTE *const bytes_;
    const UINT32 length_;
    UINT32 position_ = 0;
    INT32 encoding_ = 0;   // Utf8
    INT32 byteOrder_ = 1;  // BigEndian, as Windows starts a reader
    UINT32 options_ = 0;
    std::atomic<bool> closed_{false};
};

class DataReaderStatics final : public Object<IActivationFactory, abi::IDataReaderStatics> {
public:
    DataReaderStatics() : Object(kDataReaderClass) {}
    // A DataReader is made from a stream or a buffer, never by default construction.
    NOT_SERVED(ActivateInstance(IInspectable **))
    HRESULT STDMETHODCALLTYPE FromBuffer(abi::IBuffer *buffer, abi::IDataReader **reader) override
    {
        if (!reader)
            return E_POINTER;
        *reader = nullptr;
        if (!buffer)
            return E_INVALIDARG;
        ComRef<IBufferByteAccess> access;
        if (FAILED(buffer->QueryInterface(__uuidof(IBufferByteAccess), reinterpret_cast<void **>(access.Put()))))
            return E_INVALIDARG;
        BYTE *bytes = nullptr;
        UINT32 length = 0;
        HRESULT hr = access->Buffer(&bytes);
        if (SUCCEEDED(hr))
            hr = buffer->get_Length(&length);
        if (FAILED(hr))
            return hr;
        return Guarded([&] {
            return Lend(Make<DataReader>(ComRef<abi::IBuffer>::Borrow(buffer), bytes, length), reader);
        });
    }
};

} // namespace

ComRef<abi::IBuffer> NewBuffer(std::vector<uint8_t> bytes) { return Make<ByteBuffer>(std::move(bytes)); }

ComRef<IActivationFactory> NewDataReaderStatics() { return Make<DataReaderStatics>(); }

} // namespace winrt_bluetooth
