// The six controller pages and the configuration block drawn from them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "scsi/commands.h"

namespace torvik {

// Controller id: info page bytes 382 (high) and 383 (low). Only these controllers go on past
// the identity lines.
inline constexpr std::size_t kInfoControllerId = 382;
inline constexpr std::uint16_t kSupportedControllers[] = {0x5017, 0x5018, 0x5021};

bool controller_supported(std::uint16_t controller_id);

inline constexpr unsigned kFlashBanks = 32;  // fidall page: 32 flash IDs of 8 bytes
static_assert(kFlashBanks * 8 <= command_info(CommandId::fidall).length);
static_assert(kInfoControllerId + 2 <= command_info(CommandId::read_info).length);

struct ControllerPages {
    ReplyArea<CommandId::sysinfo> sysinfo{};
    ReplyArea<CommandId::fidall> fidall{};
    ReplyArea<CommandId::infoblock> infoblock{};
    ReplyArea<CommandId::id> id{};
    ReplyArea<CommandId::smart> smart{};
    ReplyArea<CommandId::smartext> smartext{};
};

// The configuration fields of the sysinfo page, as read (all unsigned).
struct FlashGeometry {
    unsigned ce_count = 0;
    unsigned channels = 0;
    unsigned interleave = 0;
    unsigned bits_per_cell = 0;
    unsigned pages_per_block = 0;
    unsigned blocks_per_ce = 0;
    unsigned dies_per_ce = 0;
    std::uint32_t ce_mask = 0;  // bit k: chip enable k
    unsigned cpu_clock = 0;
    unsigned flash_clock = 0;          // MT/s
    std::uint32_t pe_limit_first = 0;  // read as 32 bits
    unsigned pe_limit_second = 0;      // read as 16 bits
};

// The two SLC cache values of the infoblock page.
struct SlcCache {
    std::uint32_t first = 0;
    std::uint32_t second = 0;
};

FlashGeometry read_flash_geometry(const std::uint8_t* sysinfo);
SlcCache read_slc_cache(const std::uint8_t* infoblock);

// "SLC", "MLC", "TLC" or "QLC" for 1 to 4 bits per cell; nullptr for any other count.
const char* bits_per_cell_name(unsigned bits_per_cell);

// Room for the twelve lines of the block, whatever the page holds.
inline constexpr std::size_t kConfigurationBlockSize = 1024;

// Formats the twelve configuration lines (clocks, geometry, CE mask, PE limits, SLC cache).
void format_configuration_block(const ControllerPages& pages, char* out, std::size_t out_size);

}  // namespace torvik
