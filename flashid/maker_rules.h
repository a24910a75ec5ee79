// The decoding rules of each maker family: which capacity column, node field, part table, page
// size and plane rules its IDs follow, and the IDs whose cell-type code is read differently.
// One row per family; a new maker that follows a family's rules needs only its maker row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "flashid/capacity_table.h"
#include "flashid/flash_id.h"
#include "flashid/maker_table.h"
#include "flashid/node_tables.h"
#include "flashid/part_tables.h"

namespace torvik {

// A field of the ID: (id[byte] >> shift) AND mask.
struct IdField {
    std::uint8_t byte;
    std::uint8_t shift;
    std::uint8_t mask;

    constexpr unsigned of(const std::uint8_t* id) const { return (id[byte] >> shift) & mask; }
};

// Page size: base_kib << code for the codes 0 to max_code of byte 3 bits 0-1; base_kib 0: none.
struct PageRule {
    std::uint8_t base_kib;
    std::uint8_t max_code;
};

// Planes per die: 1 << code for the codes 0 to max_code of the field. Over dies: the field counts
// planes per chip enable, and the die exponent (byte 2 bits 0-1) comes off the code; fewer planes
// than dies gives no plane piece.
struct PlaneRule {
    bool present;
    IdField field;
    std::uint8_t max_code;
    bool over_dies;
};

struct MakerFamilyRules {
    MakerFamily family;
    const CapacityIndex* capacity = nullptr;  // byte 1's capacity codes; nullptr: none
    const NodeLookup* nodes = nullptr;        // nullptr: the family names no node
    IdField node_key = {0, 0, 0};
    const PartTable* parts = nullptr;  // nullptr: the family names no part
    PageRule page = {0, 0};
    PlaneRule planes = {false, {0, 0, 0}, 0, false};
};

// One row per family, in the order of MakerFamily.
inline constexpr MakerFamilyRules kMakerFamilyRules[] = {
    {.family = MakerFamily::other},
    {.family = MakerFamily::micron,
     .capacity = &kCapacityIndex<&CapacityRow::micron_intel_spectek>,
     .parts = &kMicronParts},
    {.family = MakerFamily::toshiba,
     .capacity = &kCapacityIndex<&CapacityRow::toshiba_sandisk>,
     .nodes = &kToshibaNodeLookup,
     .node_key = {5, 0, kToshibaNodeMask},
     .page = {2, 3},                         // 2k, 4k, 8k, 16k
     .planes = {true, {4, 2, 3}, 3, true}},  // byte 4 bits 2-3: planes per CE
    {.family = MakerFamily::hynix,
     .capacity = &kCapacityIndex<&CapacityRow::hynix>,
     .nodes = &kHynixNodeLookup,
     .node_key = {5, 0, 0xFF},
     .page = {2, 3}},
    {.family = MakerFamily::samsung,
     .capacity = &kCapacityIndex<&CapacityRow::samsung>,
     .nodes = &kSamsungNodeLookup,
     .node_key = {5, 0, kSamsungNodeMask},
     .page = {2, 3}},
    {.family = MakerFamily::ymtc,
     .capacity = &kCapacityIndex<&CapacityRow::ymtc>,
     .nodes = &kYmtcGenerationLookup,
     .node_key = {4, kYmtcGenerationShift, kYmtcGenerationMask},
     .parts = &kYmtcParts,
     .page = {8, 1},                          // 8k, 16k
     .planes = {true, {3, 5, 7}, 2, false}},  // byte 3 bits 5-7: 1, 2 or 4 planes per die
};

constexpr const MakerFamilyRules& rules_of(MakerFamily family) {
    return kMakerFamilyRules[static_cast<std::size_t>(family)];
}

// IDs whose cell-type code (byte 2 bits 2-3) is read differently: those of the maker whose ID
// bytes from byte 1 on start with the key. One level up: a nonzero code counts one level higher
// (1 TLC, 2 QLC, 3 PLC; 0 stays SLC); otherwise the cell type is the one given.
struct CellTypeOverride {
    std::uint8_t maker;
    std::uint8_t key_length;
    std::uint8_t key[4];
    bool one_level_up;
    CellType cell;
};

// clang-format off
// maker, key length, key (from byte 1), one level up, cell type
inline constexpr CellTypeOverride kCellTypeOverrides[] = {
    {kMakerIntel, 1, {0x05},                   true,  CellType::slc},  // per-die capacity codes
    {kMakerIntel, 1, {0x09},                   true,  CellType::slc},
    {kMakerYmtc,  4, {0xD5, 0x58, 0x8D, 0x20}, false, CellType::qlc},  // a QLC part with a TLC code
};
// clang-format on

constexpr bool family_rules_are_consistent() {
    for (std::size_t i = 0; i < std::size(kMakerFamilyRules); ++i) {
        const MakerFamilyRules& rules = kMakerFamilyRules[i];
        if (static_cast<std::size_t>(rules.family) != i)
            return false;  // rows out of the order of MakerFamily
        for (const IdField field : {rules.node_key, rules.planes.field}) {
            if (field.byte > 5 || field.shift > 7)
                return false;  // the decoder reads bytes 0 to 5 only
        }
        if (rules.page.base_kib != 0 && rules.page.max_code > 3)
            return false;  // the page-size code has two bits
        if (rules.planes.present && rules.planes.max_code > 7)
            return false;
    }
    for (const CellTypeOverride& o : kCellTypeOverrides) {
        if (o.key_length < 1 || o.key_length > 4 || kMakerIndex[o.maker] == 0)
            return false;
    }
    return std::size(kMakerFamilyRules) == static_cast<std::size_t>(MakerFamily::ymtc) + 1;
}
static_assert(family_rules_are_consistent());

}  // namespace torvik
