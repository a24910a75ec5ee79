#include "report/controller_config.h"

#include <cstdio>

#include "common/bytes.h"

namespace torvik {

namespace {

// sysinfo page (little-endian):
//   0x00 u8 CE count     0x01 u8 channels     0x02 u8 interleave    0x08 u8 bits per cell
//   0x0A u16 pages/block 0x0C u16 blocks/CE   0x0F u8 dies per CE   0x18 u32 CE mask
//   0x38 u16 CPU clock   0x3E u16 flash clock 0x28C u32 PE limit 1  0x290 u16 PE limit 2
// infoblock page: 0x984 u32 SLC cache 1, 0x988 u32 SLC cache 2
constexpr std::size_t kCeCount = 0x00;
constexpr std::size_t kChannels = 0x01;
constexpr std::size_t kInterleave = 0x02;
constexpr std::size_t kBitsPerCell = 0x08;
constexpr std::size_t kPagesPerBlock = 0x0A;
constexpr std::size_t kBlocksPerCe = 0x0C;
constexpr std::size_t kDiesPerCe = 0x0F;
constexpr std::size_t kCeMask = 0x18;
constexpr std::size_t kCpuClock = 0x38;
constexpr std::size_t kFlashClock = 0x3E;
constexpr std::size_t kPeLimitFirst = 0x28C;   // read as 32 bits
constexpr std::size_t kPeLimitSecond = 0x290;  // read as 16 bits
constexpr std::size_t kSlcCacheFirst = 0x984;
constexpr std::size_t kSlcCacheSecond = 0x988;

// 32 marks, bit 0 leftmost, in four groups of eight.
void format_ce_mask(std::uint32_t mask, char* out) {
    std::size_t n = 0;
    for (unsigned k = 0; k < 32; ++k) {
        if (k == 8 || k == 16 || k == 24)
            out[n++] = ' ';
        out[n++] = ((mask >> k) & 1) != 0 ? '+' : '-';
    }
    out[n] = '\0';
}

}  // namespace

FlashGeometry read_flash_geometry(const std::uint8_t* sysinfo) {
    FlashGeometry g;
    g.ce_count = sysinfo[kCeCount];
    g.channels = sysinfo[kChannels];
    g.interleave = sysinfo[kInterleave];
    g.bits_per_cell = sysinfo[kBitsPerCell];
    g.pages_per_block = get_le16(sysinfo + kPagesPerBlock);
    g.blocks_per_ce = get_le16(sysinfo + kBlocksPerCe);
    g.dies_per_ce = sysinfo[kDiesPerCe];
    g.ce_mask = get_le32(sysinfo + kCeMask);
    g.cpu_clock = get_le16(sysinfo + kCpuClock);
    g.flash_clock = get_le16(sysinfo + kFlashClock);
    g.pe_limit_first = get_le32(sysinfo + kPeLimitFirst);
    g.pe_limit_second = get_le16(sysinfo + kPeLimitSecond);
    return g;
}

SlcCache read_slc_cache(const std::uint8_t* infoblock) {
    return SlcCache{get_le32(infoblock + kSlcCacheFirst), get_le32(infoblock + kSlcCacheSecond)};
}

const char* bits_per_cell_name(unsigned bits_per_cell) {
    switch (bits_per_cell) {
        case 1:
            return "SLC";
        case 2:
            return "MLC";
        case 3:
            return "TLC";
        case 4:
            return "QLC";
        default:
            return nullptr;
    }
}

void format_configuration_block(const ControllerPages& pages, char* out, std::size_t out_size) {
    const FlashGeometry g = read_flash_geometry(pages.sysinfo.data());
    const SlcCache slc = read_slc_cache(pages.infoblock.data());
    char mask[40];
    format_ce_mask(g.ce_mask, mask);
    const char* cell = bits_per_cell_name(g.bits_per_cell);
    std::snprintf(out, out_size,
                  "CPU Clk       : %u\n"
                  "Flash CE      : %u\n"
                  "Flash Channel : %u\n"
                  "Interleave    : %u\n"
                  "Flash CE Mask : [%s]\n"
                  "Flash Clk,MT  : %u\n"
                  "Die per CE    : %u\n"
                  "Block per CE  : %u\n"
                  "Page per Block: %u\n"
                  "Bit Per Cell  : %u%s%s%s\n"
                  "PE Cycle Limit: %u/%u\n"
                  "SLC cache     : 0x%X/0x%X\n",
                  g.cpu_clock, g.ce_count, g.channels, g.interleave, mask, g.flash_clock,
                  g.dies_per_ce, g.blocks_per_ce, g.pages_per_block, g.bits_per_cell,
                  cell != nullptr ? "(" : "", cell != nullptr ? cell : "",
                  cell != nullptr ? ")" : "", static_cast<unsigned>(g.pe_limit_first),
                  g.pe_limit_second, static_cast<unsigned>(slc.first),
                  static_cast<unsigned>(slc.second));
}

bool controller_supported(std::uint16_t controller_id) {
    for (const std::uint16_t supported : kSupportedControllers) {
        if (controller_id == supported)
            return true;
    }
    return false;
}

}  // namespace torvik
