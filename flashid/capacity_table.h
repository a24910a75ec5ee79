// Capacity codes: ID byte 1 of a NAND package names its capacity, each maker group with its own
// codes. A row gives the value in gigabits and lists, per maker group, the codes that mean it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "flashid/byte_list.h"

namespace torvik {

struct CapacityRow {
    std::uint16_t gb;
    bool terabit;  // shown in terabits with two decimals rather than in whole gigabits
    bool per_die;  // the value counts one die rather than one chip enable
    ByteList<3> toshiba_sandisk;
    ByteList<3> hynix;
    ByteList<3> samsung;
    ByteList<3> micron_intel_spectek;
    ByteList<3> ymtc;
};

// A maker group's column of the table below: the byte 1 codes its IDs give each value.
using CapacityColumn = ByteList<3> CapacityRow::*;

// 1365 Gb (4/3 Tb): the one value shown in terabits.
inline constexpr std::uint16_t kTerabitCapacityGb = 1365;

// clang-format off
// Gb    Tb     per die  Toshiba, Sandisk    Hynix               Samsung             Micron, Intel, Spectek  YMTC
inline constexpr CapacityRow kCapacityTable[] = {
    {8,    false, false, {0xD3},             {0xD3},             {0xD3},             {},                 {}},
    {16,   false, false, {0xD5},             {0xD5},             {0xD5},             {0x48, 0xD5},       {}},
    {32,   false, false, {0xD7},             {0xD7},             {0xD7},             {0x68, 0xD7},       {}},
    {64,   false, false, {0xDE},             {0xDE, 0xEE},       {0xDE},             {0x64, 0x88, 0xD9}, {}},
    {128,  false, false, {0x3A, 0x4A, 0x4C}, {0x3A, 0x5A},       {0x1A, 0x3A},       {0x84, 0xA8},       {}},
    {256,  false, false, {0x3C, 0x3D},       {0x3C, 0x5C},       {0x1C, 0x3C, 0x5C}, {0xA3, 0xA4},       {0xC3}},
    {384,  false, false, {},                 {},                 {},                 {0xB4},             {}},
    {512,  false, false, {0x3E, 0x4E},       {0x3E, 0x5E, 0x7E}, {0x1E, 0x5E},       {0xC3, 0xC4},       {0xC4}},
    {768,  false, false, {},                 {},                 {},                 {0xCC},             {}},
    {1024, false, false, {0x48},             {0x89},             {0x1F, 0x5F},       {0xD3, 0xD4},       {0xC5}},
    {1024, false, true,  {},                 {},                 {},                 {0x05},             {}},
    {2048, false, false, {0x49},             {},                 {0x51},             {0xE3, 0xE4},       {0xC6}},
    {4096, false, false, {0xFF},             {},                 {0x11},             {0xF3},             {}},
    {1365, true,  false, {0x73, 0x7A},       {},                 {},                 {},                 {0xD5}},
    {1365, true,  true,  {},                 {},                 {},                 {0x09},             {}},
};
// clang-format on

// Per byte 1 code of one column: the number of the row that lists the code, counted from 1; 0
// for a code no row lists.
using CapacityIndex = std::array<std::uint8_t, 256>;

constexpr CapacityIndex make_capacity_index(CapacityColumn column) {
    CapacityIndex index{};
    for (std::size_t row = 0; row < std::size(kCapacityTable); ++row) {
        for (std::uint8_t code : kCapacityTable[row].*column) {
            // A code that names two values in one column stops the compilation of its index.
            if (index[code] != 0)
                std::abort();
            index[code] = static_cast<std::uint8_t>(row + 1);
        }
    }
    return index;
}

// The index of a column, made once for each column a maker family reads (flashid/maker_rules.h).
template <CapacityColumn column>
inline constexpr CapacityIndex kCapacityIndex = make_capacity_index(column);

// The row that lists this byte 1 code in the column of the index, or nullptr.
constexpr const CapacityRow* find_capacity(const CapacityIndex& index, std::uint8_t code) {
    const std::uint8_t row = index[code];
    return row == 0 ? nullptr : &kCapacityTable[row - 1];
}

// Only 1365 Gb is shown in terabits, and row numbers fit the index.
constexpr bool capacity_table_is_consistent() {
    for (const CapacityRow& row : kCapacityTable) {
        if (row.terabit != (row.gb == kTerabitCapacityGb))
            return false;
    }
    return std::size(kCapacityTable) < 256;
}
static_assert(capacity_table_is_consistent());

}  // namespace torvik
