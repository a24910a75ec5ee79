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

const char* cell_type_suffix(unsigned bits_per_cell) {
    switch (bits_per_cell) {
        case 1:
            return "(SLC)";
        case 2:
            return "(MLC)";
        case 3:
            return "(TLC)";
        case 4:
            return "(QLC)";
        default:
            return "";
    }
}

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

void format_configuration_block(const ControllerPages& pages, char* out, std::size_t out_size) {
    const std::uint8_t* sys = pages.sysinfo.data();
    const std::uint8_t* info = pages.infoblock.data();
    char mask[40];
    format_ce_mask(get_le32(sys + kCeMask), mask);
    const unsigned bits_per_cell = sys[kBitsPerCell];
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
                  "Bit Per Cell  : %u%s\n"
                  "PE Cycle Limit: %u/%u\n"
                  "SLC cache     : 0x%X/0x%X\n",
                  unsigned{get_le16(sys + kCpuClock)}, unsigned{sys[kCeCount]},
                  unsigned{sys[kChannels]}, unsigned{sys[kInterleave]}, mask,
                  unsigned{get_le16(sys + kFlashClock)}, unsigned{sys[kDiesPerCe]},
                  unsigned{get_le16(sys + kBlocksPerCe)}, unsigned{get_le16(sys + kPagesPerBlock)},
                  bits_per_cell, cell_type_suffix(bits_per_cell),
                  static_cast<unsigned>(get_le32(sys + kPeLimitFirst)),
                  unsigned{get_le16(sys + kPeLimitSecond)},
                  static_cast<unsigned>(get_le32(info + kSlcCacheFirst)),
                  static_cast<unsigned>(get_le32(info + kSlcCacheSecond)));
}

}  // namespace torvik
