#include "report/controller_config.h"

#include <cstdio>

namespace torvik {

namespace {

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

std::string configuration_block(const FlashGeometry& g, const SlcCache& slc) {
    char mask[40];
    format_ce_mask(g.ce_mask, mask);
    const char* cell = bits_per_cell_name(g.bits_per_cell);
    char out[1024];
    std::snprintf(out, sizeof out,
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
                  static_cast<unsigned>(g.cpu_clock), static_cast<unsigned>(g.ce_count),
                  static_cast<unsigned>(g.channels), static_cast<unsigned>(g.interleave), mask,
                  static_cast<unsigned>(g.flash_clock), static_cast<unsigned>(g.dies_per_ce),
                  static_cast<unsigned>(g.blocks_per_ce), static_cast<unsigned>(g.pages_per_block),
                  static_cast<unsigned>(g.bits_per_cell), cell != nullptr ? "(" : "",
                  cell != nullptr ? cell : "", cell != nullptr ? ")" : "",
                  static_cast<unsigned>(g.pe_limit_first), static_cast<unsigned>(g.pe_limit_second),
                  static_cast<unsigned>(slc.first), static_cast<unsigned>(slc.second));
    return out;
}

}  // namespace torvik
