#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tamsel {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);

// One step of decoding: the code point at the start of a text and the bytes it
// takes. An ill-formed sequence yields U+FFFD for its maximal subpart (the
// longest prefix that could still begin a well-formed sequence, at least one
// byte), so a text decodes to one U+FFFD per broken sequence, as browsers and
// ICU do.
struct DecodedCodePoint {
    char32_t code_point;
    std::size_t length;  // 0 only for an empty text
    bool valid;
};
DecodedCodePoint decode_code_point(std::string_view text);

// Appends the UTF-8 form of a Unicode scalar value; anything else (a
// surrogate, a value above U+10FFFF) is written as U+FFFD.
void append_utf8(std::string& out, char32_t code_point);

// A text without the characters of the Unicode White_Space property at its
// start, its end, or both. Whole encoded characters are matched as bytes.
std::string_view trim_white_space_front(std::string_view text);
std::string_view trim_white_space_back(std::string_view text);
std::string_view trim_white_space(std::string_view text);

}  // namespace tamsel
