// The core passes file names as UTF-8; Windows takes them as UTF-16 through
// its wide APIs, the only ones that reach every name whatever the system's
// code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Empty when text is not valid UTF-8: such a name must not open a file that
// merely resembles it.
inline std::wstring WideFromUtf8(const char* text)
{
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), n);
    wide.pop_back();
    return wide;
}

inline std::string Utf8FromWide(const wchar_t* text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}
