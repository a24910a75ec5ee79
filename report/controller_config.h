// The six controller pages and the configuration block drawn from them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace torvik {

inline constexpr unsigned kFlashBanks = 32;  // fidall page: 32 flash IDs of 8 bytes

struct ControllerPages {
    std::array<std::uint8_t, 4096> sysinfo{};
    std::array<std::uint8_t, 512> fidall{};
    std::array<std::uint8_t, 6144> infoblock{};
    std::array<std::uint8_t, 4096> id{};
    std::array<std::uint8_t, 512> smart{};
    std::array<std::uint8_t, 4096> smartext{};
};

// Room for the twelve lines of the block, whatever the page holds.
inline constexpr std::size_t kConfigurationBlockSize = 1024;

// Formats the twelve configuration lines (clocks, geometry, CE mask, PE limits, SLC cache).
void format_configuration_block(const ControllerPages& pages, char* out, std::size_t out_size);

}  // namespace torvik
