// Every Unicode scalar value through toml++'s horizontal-whitespace check.
//
// toml++ 3.3 decides "is this non-ASCII character horizontal white space?"
// with a generated function whose switch ends in __builtin_unreachable for
// 3,019 code points (U+00A1 to U+0499, U+2C5E to U+3057 and U+FB26 to
// U+FEFE, apart from the real white space among them). What the compiler
// makes of those paths decides how the parser treats, say, Cyrillic text. The
// sweep is compiled into both the native and the MinGW test programs so a new
// compiler that turns the undefined paths into wrong answers cannot slip in
// unnoticed.
//
// The probe: after a line-ending backslash in a multi-line basic string the
// parser drops every character it judges horizontal white space, so
//     """\<LF><c>|"""
// must read as "|" for white space and as "<c>|" for anything else.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/toml.h"

namespace tamsel::testing {

inline void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// toml++'s own intended set of horizontal white space (its generator's table,
// wider than TOML's tab and space), written out independently of the library.
inline bool intended_horizontal_whitespace(char32_t c) {
    return c == U'\t' || c == U' ' || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200B) ||
           c == 0x202F || c == 0x205F || c == 0x2060 || c == 0x3000 || c == 0xFEFF;
}

// Characters the probe cannot carry: the parse fails for them whatever the
// white-space verdict (control characters, a backslash starting an escape).
// A line feed is skipped like white space by the line-ending backslash.
inline bool probe_fails(char32_t c) {
    return (c < 0x20 && c != U'\t' && c != U'\n') || c == 0x7F || c == U'\\';
}

inline std::string probe_expected(char32_t c) {
    if (intended_horizontal_whitespace(c) || c == U'\n') return "|";
    std::string expected;
    append_utf8(expected, c);
    return expected + "|";
}

inline std::string describe(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

// Parses the probes of [first, last) strung together in one multi-line
// string, "|" after each; gives the string read, or nothing when the document
// did not parse.
inline std::optional<std::string> parse_probes(char32_t first, char32_t last) {
    std::string document = "a = \"\"\"";
    for (char32_t c = first; c < last; ++c) {
        document += "\\\n";
        append_utf8(document, c);
        document += '|';
    }
    document += "\"\"\"\n";
    auto parsed = toml::parse(document, std::string_view{"whitespace sweep"});
    if (!parsed) return std::nullopt;
    const auto* text = parsed.table().get_as<std::string>("a");
    if (text == nullptr) return std::nullopt;
    return text->get();
}

// Runs the sweep; returns one line per code point judged differently from the
// intended set (empty when all is well).
inline std::vector<std::string> toml_whitespace_mismatches() {
    std::vector<std::string> mismatches;
    // Code points that cannot be probed still go through a parse, alone, which
    // must fail cleanly.
    for (char32_t c = 0; c < 0x80; ++c) {
        if (probe_fails(c) && parse_probes(c, c + 1))
            mismatches.push_back(describe(c) + ": parsed although it cannot");
    }
    constexpr char32_t batch = 0x800;  // the surrogates are exactly one batch
    constexpr char32_t end = 0x110000;
    for (char32_t first = 0; first < end; first += batch) {
        if (first >= 0xD800 && first < 0xE000) continue;  // no UTF-8 form
        const char32_t last = first + batch;
        std::vector<char32_t> members;
        std::string expected;
        for (char32_t c = first; c < last; ++c) {
            if (probe_fails(c)) continue;
            members.push_back(c);
            expected += probe_expected(c);
        }
        // Batches hold only probe-able characters; the first one, which has
        // the ASCII controls, goes one by one.
        if (members.size() == batch && parse_probes(first, last) == expected) continue;
        for (const char32_t c : members) {
            const auto value = parse_probes(c, c + 1);
            if (!value) {
                mismatches.push_back(describe(c) + ": did not parse");
            } else if (*value != probe_expected(c)) {
                mismatches.push_back(describe(c) + ": judged wrongly");
            }
        }
    }
    return mismatches;
}

}  // namespace tamsel::testing
