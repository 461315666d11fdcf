#include "update/version.h"

#include "common/utf8.h"

namespace tamsel {
namespace {

std::uint32_t read_piece(std::string_view piece) {
    piece = trim_white_space(piece);
    if (!piece.empty() && piece.front() == '+') piece.remove_prefix(1);
    if (piece.empty()) return 0;
    std::uint64_t value = 0;
    for (const char c : piece) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu) return 0;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
           std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

std::uint16_t le16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

constexpr std::size_t max_version_info = 0x100000;
// VS_FIXEDFILEINFO follows the VS_VERSIONINFO header and its key at offset 40.
constexpr std::size_t fixed_info_offset = 40;
constexpr std::uint32_t fixed_info_signature = 0xFEEF04BD;

}  // namespace

VersionNumber read_version_number(std::string_view text) {
    VersionNumber number{};
    for (std::size_t position = 0; position < number.size(); ++position) {
        const auto dot = text.find('.');
        number[position] = read_piece(text.substr(0, dot));
        if (dot == std::string_view::npos) break;  // the missing pieces read as 0
        text.remove_prefix(dot + 1);
    }
    return number;
}

bool is_newer(std::string_view offered, std::string_view installed) {
    return read_version_number(offered) > read_version_number(installed);
}

namespace {
VersionNumber first_three_pieces(std::string_view text) {
    VersionNumber number = read_version_number(text);
    number[3] = 0;
    return number;
}
}  // namespace

bool is_newer_than_installed(std::string_view offered, std::string_view installed) {
    return first_three_pieces(offered) > first_three_pieces(installed);
}

bool is_installed_version(std::string_view recorded, std::string_view installed) {
    // An installed version that could not be read equals nothing.
    return !installed.empty() && first_three_pieces(recorded) == first_three_pieces(installed);
}

std::optional<std::string> version_text_from_info(const std::vector<std::uint8_t>& info) {
    if (info.empty() || info.size() > max_version_info) return std::nullopt;
    if (info.size() < fixed_info_offset + 16) return std::nullopt;
    if (le32(info, fixed_info_offset) != fixed_info_signature) return std::nullopt;
    // dwFileVersionMS at offset 48 holds major (high word) and minor (low
    // word); dwFileVersionLS at 52 holds build (high word) and a fourth
    // number (low word) that is not part of the text.
    const std::uint16_t major = le16(info, fixed_info_offset + 10);
    const std::uint16_t minor = le16(info, fixed_info_offset + 8);
    const std::uint16_t build = le16(info, fixed_info_offset + 14);
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

std::optional<std::string> installed_version_text(VersionInfo& version_info, const std::string& path) {
    const auto info = version_info.file_version_info(path);
    if (!info) return std::nullopt;
    return version_text_from_info(*info);
}

}  // namespace tamsel
