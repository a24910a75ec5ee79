// Flash makers known by their JEDEC manufacturer code, which a NAND package answers in byte 0 of
// its Read ID reply. Makers missing here are unknown to the decoder: it describes nothing for them.
#pragma once

#include <cstdint>

namespace torvik {

// The makers whose IDs the decoder reads beyond the cell type.
inline constexpr std::uint8_t kMakerSandisk = 0x45;
inline constexpr std::uint8_t kMakerMicron = 0x2C;
inline constexpr std::uint8_t kMakerIntel = 0x89;
inline constexpr std::uint8_t kMakerToshiba = 0x98;
inline constexpr std::uint8_t kMakerYmtc = 0x9B;
inline constexpr std::uint8_t kMakerHynix = 0xAD;
inline constexpr std::uint8_t kMakerSpectek = 0xB5;
inline constexpr std::uint8_t kMakerSamsung = 0xEC;

struct MakerRow {
    std::uint8_t code;
    const char* name;  // the first piece of the description, without a leading space
};

// clang-format off
// code, name; in ascending code order
inline constexpr MakerRow kMakerTable[] = {
    {0x01, "Spansion"},
    {0x04, "Fujitsu"},
    {0x07, "Renesas"},
    {0x20, "STMicro"},
    {0x2C, "Micron"},
    {0x45, "Sandisk"},
    {0x4A, "SMIC"},
    {0x51, "Qimonda"},
    {0x89, "Intel"},
    {0x92, "ESMT(PowerChip)"},
    {0x98, "Toshiba"},
    {0x9B, "YMTC"},
    {0xAD, "Hynix"},
    {0xB5, "Spectek"},
    {0xC2, "Macronix"},
    {0xC8, "ESMT(MIRA-PSC)"},
    {0xEC, "Samsung"},
    {0xEF, "Winbond"},
};
// clang-format on

// The maker name, or nullptr when the code is not in the table (0x00 never is).
constexpr const char* find_maker_name(std::uint8_t code) {
    for (const MakerRow& row : kMakerTable) {
        if (row.code == code)
            return row.name;
    }
    return nullptr;
}

constexpr bool maker_codes_ascend() {
    int previous = 0;  // also keeps 0x00 out: no part answers it as a maker code
    for (const MakerRow& row : kMakerTable) {
        if (row.code <= previous)
            return false;
        previous = row.code;
    }
    return true;
}
static_assert(maker_codes_ascend());

}  // namespace torvik
