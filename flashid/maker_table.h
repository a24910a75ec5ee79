// Flash makers known by their JEDEC manufacturer code, which a NAND package answers in byte 0 of
// its Read ID reply. Makers missing here are unknown to the decoder: it describes nothing for them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace torvik {

// Makers that rules elsewhere name by code (maker_rules.h, and the tests' part keys).
inline constexpr std::uint8_t kMakerMicron = 0x2C;
inline constexpr std::uint8_t kMakerIntel = 0x89;
inline constexpr std::uint8_t kMakerYmtc = 0x9B;

// Makers whose IDs follow one set of decoding rules (flashid/maker_rules.h). other: the maker
// is named and the cell type read, nothing more.
enum class MakerFamily : std::uint8_t { other, micron, toshiba, hynix, samsung, ymtc };

struct MakerRow {
    std::uint8_t code;
    const char* name;  // the first piece of the description, without a leading space
    MakerFamily family;
};

// clang-format off
// code, name, family; in ascending code order
inline constexpr MakerRow kMakerTable[] = {
    {0x01, "Spansion",        MakerFamily::other},
    {0x04, "Fujitsu",         MakerFamily::other},
    {0x07, "Renesas",         MakerFamily::other},
    {0x20, "STMicro",         MakerFamily::other},
    {0x2C, "Micron",          MakerFamily::micron},
    {0x45, "Sandisk",         MakerFamily::toshiba},
    {0x4A, "SMIC",            MakerFamily::other},
    {0x51, "Qimonda",         MakerFamily::other},
    {0x89, "Intel",           MakerFamily::micron},
    {0x92, "ESMT(PowerChip)", MakerFamily::other},
    {0x98, "Toshiba",         MakerFamily::toshiba},
    {0x9B, "YMTC",            MakerFamily::ymtc},
    {0xAD, "Hynix",           MakerFamily::hynix},
    {0xB5, "Spectek",         MakerFamily::micron},
    {0xC2, "Macronix",        MakerFamily::other},
    {0xC8, "ESMT(MIRA-PSC)",  MakerFamily::other},
    {0xEC, "Samsung",         MakerFamily::samsung},
    {0xEF, "Winbond",         MakerFamily::other},
};
// clang-format on

// Per byte 0 value: the number of the maker's row, counted from 1; 0 for an unknown code.
constexpr std::array<std::uint8_t, 256> make_maker_index() {
    std::array<std::uint8_t, 256> index{};
    for (std::size_t row = 0; row < std::size(kMakerTable); ++row)
        index[kMakerTable[row].code] = static_cast<std::uint8_t>(row + 1);
    return index;
}

inline constexpr std::array<std::uint8_t, 256> kMakerIndex = make_maker_index();

// The maker's row, or nullptr when the code is not in the table (0x00 never is).
constexpr const MakerRow* find_maker(std::uint8_t code) {
    const std::uint8_t row = kMakerIndex[code];
    return row == 0 ? nullptr : &kMakerTable[row - 1];
}

// The maker name, or nullptr when the code is not in the table.
constexpr const char* find_maker_name(std::uint8_t code) {
    const MakerRow* row = find_maker(code);
    return row == nullptr ? nullptr : row->name;
}

constexpr bool maker_codes_ascend() {
    int previous = 0;  // also keeps 0x00 out: no part answers it as a maker code
    for (const MakerRow& row : kMakerTable) {
        if (row.code <= previous)
            return false;
        previous = row.code;
    }
    return std::size(kMakerTable) < 256;  // row numbers fit the index
}
static_assert(maker_codes_ascend());

}  // namespace torvik
