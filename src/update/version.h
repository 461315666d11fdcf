// Version texts and the installed main program's version.
//
// Versions travel as plain texts and are compared byte for byte everywhere
// except in the newer-than test, which reads a text as four numbers.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/version_info.h"

namespace tamsel {

// Four numbers in order of weight; exists only inside a comparison.
using VersionNumber = std::array<std::uint32_t, 4>;

// Reads a text as a version number: pieces between ".", blanks (Unicode
// White_Space) trimmed from each, each an optional "+" and decimal digits up
// to 4294967295; anything else, and a missing piece, reads as 0. Pieces after
// the fourth are ignored.
VersionNumber read_version_number(std::string_view text);

// Whether `offered` is a higher version than `installed`. Never fails.
bool is_newer(std::string_view offered, std::string_view installed);

// The same tests against what an installed program can show: its version
// text has three numbers (the fourth file-version number is never read), so
// only the first three pieces of either side count. An offer that differs
// from the installed program only in a fourth piece is not newer, and a
// setup that installed "2.1.0" installed an offer written "2.1.0.0" or "02.1.0".
bool is_newer_than_installed(std::string_view offered, std::string_view installed);
bool is_installed_version(std::string_view recorded, std::string_view installed);

// The installed version text "major.minor.build" from the raw version
// resource of a file, read from the fixed file information at its place in
// the block; nothing when the block is empty, larger than 1 MiB, too short or
// lacks the fixed file information's signature.
std::optional<std::string> version_text_from_info(const std::vector<std::uint8_t>& info);

// The installed version text of an executable, or nothing when the file, its
// version resource or the fixed file information in it cannot be read.
std::optional<std::string> installed_version_text(VersionInfo& version_info, const std::string& path);

}  // namespace tamsel
