#include "platform/win32/text.h"

#include <windows.h>

namespace tamsel::win32 {

std::optional<std::wstring> to_wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                            wide.data(), n) != n)
        return std::nullopt;
    return wide;
}

std::optional<std::string> to_utf8(const wchar_t* text, std::size_t length) {
    if (length == 0) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::nullopt;
    std::string utf8(static_cast<std::size_t>(n), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length), utf8.data(), n,
                            nullptr, nullptr) != n)
        return std::nullopt;
    return utf8;
}

std::optional<std::string> to_utf8(const std::wstring& text) { return to_utf8(text.data(), text.size()); }

std::string to_utf8_lossy(const wchar_t* text, std::size_t length) {
    // Done by hand rather than left to WideCharToMultiByte's defaults, so the
    // replacement is the same on every Windows and under Wine.
    std::wstring repaired(text, length);
    for (std::size_t i = 0; i < repaired.size(); ++i) {
        const wchar_t unit = repaired[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < repaired.size() && repaired[i + 1] >= 0xDC00 && repaired[i + 1] <= 0xDFFF) {
            ++i;  // a proper pair
        } else if (high || low) {
            repaired[i] = 0xFFFD;
        }
    }
    return to_utf8(repaired).value_or(std::string());
}

}  // namespace tamsel::win32
