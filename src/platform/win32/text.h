// UTF-8 <-> UTF-16 at the platform boundary, and nowhere else.
#pragma once
#include <optional>
#include <string>

namespace tamsel::win32 {

// Zero-terminated UTF-16 for the platform. Invalid UTF-8 gives nothing.
std::optional<std::wstring> to_wide(const std::string& text);
// UTF-8 from UTF-16; nothing when the UTF-16 is not valid (a lone surrogate).
std::optional<std::string> to_utf8(const std::wstring& text);
std::optional<std::string> to_utf8(const wchar_t* text, std::size_t length);
// UTF-8 from UTF-16 with every unpaired surrogate replaced by U+FFFD.
std::string to_utf8_lossy(const wchar_t* text, std::size_t length);

}  // namespace tamsel::win32
