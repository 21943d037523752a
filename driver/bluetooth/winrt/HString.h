#pragma once
// Windows Runtime strings the backend passes or receives: a reference to a literal of ours (no
// copy, never freed), and a string the platform handed over (freed when it goes).
#include "ComRef.h"

#include <winstring.h>

#include <cwchar>
#include <utility>

namespace tarvolt::radio::winrt {

// The text must outlive the reference; it is passed by value as an HSTRING for one call.
class StringReference {
public:
    explicit StringReference(const wchar_t *text)
    {
        Check(WindowsCreateStringReference(text, static_cast<UINT32>(std::wcslen(text)), &header_, &text_));
    }
    StringReference(const StringReference &) = delete;
    StringReference &operator=(const StringReference &) = delete;
    HSTRING Get() const { return text_; }

private:
    HSTRING_HEADER header_;
    HSTRING text_ = nullptr;
};

class OwnedString {
public:
    OwnedString() = default;
    OwnedString(const OwnedString &) = delete;
    OwnedString &operator=(const OwnedString &) = delete;
    ~OwnedString() { WindowsDeleteString(text_); }
    // For out parameters: frees what was held and hands out the slot.
    HSTRING *Put()
    {
        WindowsDeleteString(std::exchange(text_, nullptr));
        return &text_;
    }
    HSTRING Get() const { return text_; }

private:
    HSTRING text_ = nullptr;
};

} // namespace tarvolt::radio::winrt
