#include "common/utf8.h"

#include <array>

namespace tamsel {

namespace {
constexpr char32_t replacement = 0xFFFD;
}

DecodedCodePoint decode_code_point(std::string_view text) {
    if (text.empty()) return {replacement, 0, false};
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return {lead, 1, true};
    std::size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return {replacement, 1, false};  // stray continuation byte or a lead never used
    }
    for (std::size_t k = 1; k < length; ++k) {
        // The bytes taken so far are the maximal subpart when this one is missing or does not fit.
        if (k >= text.size()) return {replacement, k, false};
        const auto next = static_cast<unsigned char>(text[k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return {replacement, k, false};
        value = (value << 6) | (next & 0x3Fu);
    }
    return {value, length, true};
}

bool is_valid_utf8(std::string_view text) {
    while (!text.empty()) {
        const DecodedCodePoint step = decode_code_point(text);
        if (!step.valid) return false;
        text.remove_prefix(step.length);
    }
    return true;
}

void append_utf8(std::string& out, char32_t code_point) {
    if ((code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF) code_point = replacement;
    const auto put = [&out](char32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (code_point < 0x80) {
        put(code_point);
    } else if (code_point < 0x800) {
        put(0xC0 | (code_point >> 6));
        put(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        put(0xE0 | (code_point >> 12));
        put(0x80 | ((code_point >> 6) & 0x3F));
        put(0x80 | (code_point & 0x3F));
    } else {
        put(0xF0 | (code_point >> 18));
        put(0x80 | ((code_point >> 12) & 0x3F));
        put(0x80 | ((code_point >> 6) & 0x3F));
        put(0x80 | (code_point & 0x3F));
    }
}

namespace {

// The UTF-8 forms of every code point with the Unicode White_Space property.
constexpr std::array<std::string_view, 25> white_space = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\xC2\x85",                                      // U+0085
    "\xC2\xA0",                                      // U+00A0
    "\xE1\x9A\x80",                                  // U+1680
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",  // U+2000..U+200A
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9",                  // U+2028, U+2029
    "\xE2\x80\xAF",                                  // U+202F
    "\xE2\x81\x9F",                                  // U+205F
    "\xE3\x80\x80",                                  // U+3000
};

}  // namespace

// In valid UTF-8 a whole encoded character never matches inside another
// one, so plain byte prefixes and suffixes find whole characters.
std::string_view trim_white_space_front(std::string_view text) {
    for (bool again = true; again;) {
        again = false;
        for (const std::string_view space : white_space) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                again = true;
                break;
            }
        }
    }
    return text;
}

std::string_view trim_white_space_back(std::string_view text) {
    for (bool again = true; again;) {
        again = false;
        for (const std::string_view space : white_space) {
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                again = true;
                break;
            }
        }
    }
    return text;
}

std::string_view trim_white_space(std::string_view text) {
    return trim_white_space_back(trim_white_space_front(text));
}

}  // namespace tamsel
