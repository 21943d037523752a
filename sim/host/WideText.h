#pragma once
// UTF-8 text to and from the UTF-16 of Windows' wide-character calls. The stand-ins and the test
// support keep paths in UTF-8 strings and make every Win32 call that takes or hands out a path
// through its wide form, so that a folder named in any script survives; the narrow forms would
// pass it through the ANSI code page, which turns every character outside it into '?'.
#if defined(_WIN32)
#include <windows.h>

#include <string>

namespace sim {

inline std::wstring Utf8ToWide(const std::string &text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

inline std::string WideToUtf8(const std::wstring &wide)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

} // namespace sim
#endif
