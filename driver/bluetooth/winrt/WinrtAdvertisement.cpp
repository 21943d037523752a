// The advertisement watcher and its received-event arguments, plus the conversions that the
// other objects share.
#include "Delegates.h"
#include "WinrtObjects.h"

#include <cstring>

namespace tarvolt::radio::winrt {

Guid FromPlatformGuid(const GUID &guid)
{
    Guid out{guid.Data1, guid.Data2, guid.Data3, {}};
    std::memcpy(out.data4, guid.Data4, sizeof out.data4);
    return out;
}

GUID ToPlatformGuid(const Guid &guid)
{
    GUID out{guid.data1, guid.data2, guid.data3, {}};
    std::memcpy(out.Data4, guid.data4, sizeof out.Data4);
    return out;
}

std::u16string TakeString(HSTRING text)
{
    UINT32 length = 0;
    const wchar_t *raw = WindowsGetStringRawBuffer(text, &length);  // null string: empty
    std::u16string out(reinterpret_cast<const char16_t *>(raw), length);
    WindowsDeleteString(text);
    return out;
}

void WinrtWatcher::SetScanningMode(ScanningMode mode)
{
    Check(watcher_->put_ScanningMode(static_cast<bleabi::BluetoothLEScanningMode>(mode)));
}

EventToken WinrtWatcher::AddReceived(ReceivedHandler handler)
{
    using Iface = bleabi::ITypedEventHandler_Watcher_Received;
    // The sender and arguments are lent for the call only; each invocation wraps them anew,
    // so the delegate holds no reference back to the watcher that holds it.
    // Received: on a platform thread, not inside add_Received; args made for each event, never null.
    auto delegate = EventDelegate<Iface, NullArgs::Refused>::Create(
        [handler = std::move(handler)](Iface::Sender sender, Iface::Args args) -> HRESULT {
            WinrtWatcher watcher(ComRef<bleabi::IBluetoothLEAdvertisementWatcher>::Borrow(sender));
            WinrtAdvertisementReceivedArgs received(ComRef<bleabi::IBluetoothLEAdvertisementReceivedEventArgs>::Borrow(args));
            return handler(watcher, received);
        });
    EventRegistrationToken token{};
    Check(watcher_->add_Received(delegate.Get(), &token));
    return token.value;
}

EventToken WinrtWatcher::AddStopped(StoppedHandler handler)
{
    using Iface = bleabi::ITypedEventHandler_Watcher_Stopped;
    // Stopped: on a platform thread after Stop or an aborted scan, not inside add_; args never null.
    auto delegate = EventDelegate<Iface, NullArgs::Refused>::Create(
        [handler = std::move(handler)](Iface::Sender sender, Iface::Args) -> HRESULT {
            WinrtWatcher watcher(ComRef<bleabi::IBluetoothLEAdvertisementWatcher>::Borrow(sender));
            return handler(watcher);
        });
    EventRegistrationToken token{};
    Check(watcher_->add_Stopped(delegate.Get(), &token));
    return token.value;
}

void WinrtWatcher::RemoveReceived(EventToken token) { Check(watcher_->remove_Received(EventRegistrationToken{token})); }
void WinrtWatcher::RemoveStopped(EventToken token) { Check(watcher_->remove_Stopped(EventRegistrationToken{token})); }
void WinrtWatcher::Start() { Check(watcher_->Start()); }
void WinrtWatcher::Stop() { Check(watcher_->Stop()); }

WatcherStatus WinrtWatcher::Status()
{
    bleabi::BluetoothLEAdvertisementWatcherStatus status{};
    Check(watcher_->get_Status(&status));
    return static_cast<WatcherStatus>(status);
}

std::u16string WinrtAdvertisementReceivedArgs::LocalName()
{
    ComRef<bleabi::IBluetoothLEAdvertisement> advertisement;
    Check(args_->get_Advertisement(advertisement.Put()));
    if (!advertisement)
        return {};
    HSTRING name = nullptr;
    Check(advertisement->get_LocalName(&name));
    return TakeString(name);
}

uint64_t WinrtAdvertisementReceivedArgs::BluetoothAddress()
{
    UINT64 address = 0;
    Check(args_->get_BluetoothAddress(&address));
    return address;
}

std::optional<int16_t> WinrtAdvertisementReceivedArgs::SignalStrength()
{
    INT16 rssi = 0;
    Check(args_->get_RawSignalStrengthInDBm(&rssi));
    return rssi;
}

} // namespace tarvolt::radio::winrt
