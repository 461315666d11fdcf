#include "common/unicode_lower.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/utf8.h"

namespace tamsel {
namespace {

#include "unit/unicode_lower_reference.inc"

// Expected texts are spelt in bytes where a look-alike could hide a mistake.
TEST(LowerCaseFull, MapsNotableTexts) {
    struct Case {
        std::string note;
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"empty", "", ""},
        {"ASCII edges", "@AZ[`az{09", "@az[`az{09"},
        {"program name", "TAMSEL.EXE", "tamsel.exe"},
        {"path", "C:\\Program Files\\Tam Sel\\Tamsel.EXE", "c:\\program files\\tam sel\\tamsel.exe"},
        {"U+0130 grows to i + U+0307", "\xC4\xB0X", "i\xCC\x87x"},
        {"sigma without Final_Sigma", "\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x83"},
        {"Cyrillic, with U+0400 at offset 80", "\xD0\x9C\xD0\x81\xD0\x80", "\xD0\xBC\xD1\x91\xD1\x90"},
        {"Latin pairs: U+0100 maps, U+0101 stays", "\xC4\x80\xC4\x81", "\xC4\x81\xC4\x81"},
        {"title case U+01C5 to U+01C6", "\xC7\x85", "\xC7\x86"},
        {"Georgian U+10A0 to U+2D00, Mtavruli U+1C90 to U+10D0", "\xE1\x82\xA0\xE1\xB2\x90",
         "\xE2\xB4\x80\xE1\x83\x90"},
        {"Cherokee U+13A0 to U+AB70, U+13F0 to U+13F8", "\xE1\x8E\xA0\xE1\x8F\xB0", "\xEA\xAD\xB0\xE1\x8F\xB8"},
        {"Kelvin, Ohm, capital sharp s", "\xE2\x84\xAA\xE2\x84\xA6\xE1\xBA\x9E", "k\xCF\x89\xC3\x9F"},
        {"four bytes: Deseret, Adlam", "\xF0\x90\x90\x80\xF0\x9E\xA4\x80", "\xF0\x90\x90\xA8\xF0\x9E\xA4\xA2"},
        {"no mapping: sharp s, CJK, U+FFFD", "\xC3\x9F\xE4\xB8\xAD\xEF\xBF\xBD", "\xC3\x9F\xE4\xB8\xAD\xEF\xBF\xBD"},
        // One U+FFFD per maximal subpart: the worked example of the Unicode standard.
        {"truncated and stray bytes", "a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d",
         "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD" "d"},
        {"overlong C0 AF", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong E0 80 AF", "\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate ED A0 80", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"truncated at the end, then FF", "A\xFF\xF0\x9F\x98", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"NUL is kept", std::string("A\0B", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lower_case_full(c.in), c.out) << c.note;
    }
}

// Every scalar value: the mapping matches the generator's checksum of
// Python's str.lower(), ASCII changes exactly A to Z, the output is valid
// UTF-8, and lower-casing twice changes nothing.
TEST(LowerCaseFull, EveryCodePointMatchesTheReference) {
    std::uint64_t hash = 0xCBF29CE484222325u;
    int ascii_wrong = 0;
    int invalid = 0;
    int not_idempotent = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        std::string in;
        append_utf8(in, c);
        const std::string out = lower_case_full(in);
        for (const char byte : out + '\xFF') {
            hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001B3u;
        }
        if (c < 0x80 && out != std::string(1, static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c))) ++ascii_wrong;
        if (!is_valid_utf8(out)) ++invalid;
        if (lower_case_full(out) != out) ++not_idempotent;
    }
    EXPECT_EQ(hash, kLowerReferenceChecksum);
    EXPECT_EQ(ascii_wrong, 0);
    EXPECT_EQ(invalid, 0);
    EXPECT_EQ(not_idempotent, 0);
}

}  // namespace
}  // namespace tamsel
