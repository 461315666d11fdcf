#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace tamsel {

using PublicKey = std::array<std::uint8_t, 64>;  // P-256 X || Y, big-endian

// Built once by the entry and lent read-only to the check run or phase two.
struct RunContext {
    std::string program_dir;
    std::string main_exe;
    std::string data_dir;
    std::string update_dir;
    std::string feed_url;
    std::string files_prefix;
    PublicKey working_key{};
    PublicKey reserve_key{};
};

}  // namespace tamsel
