#pragma once
#include <string>
#include <string_view>

namespace tamsel {

// The text with every code point replaced by its full Unicode lower case
// (U+0130 becomes U+0069 U+0307), for comparing names and paths without
// regard to case. Each ill-formed UTF-8 sequence becomes one U+FFFD first.
// Context-free on purpose: a final capital sigma maps to U+03C3 like any
// other, and no language's rules apply, so the result depends on the text
// alone and both sides of a comparison are mapped alike on every machine.
// The mapping is a table of its own rather than the C library's or the
// platform's, whose answers vary with the locale and the Windows version.
std::string lower_case_full(std::string_view utf8);

}  // namespace tamsel
