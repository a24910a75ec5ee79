// Process node and 3D generation texts, keyed by the technology bits of each maker's flash ID.
// Every text carries its leading space, as it joins the description after the maker name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "flashid/byte_list.h"

namespace torvik {

struct NodeRow {
    std::uint8_t key;
    const char* text;  // nullptr: a key of the field that names nothing
};

// Toshiba and Sandisk: key = byte 5 AND kToshibaNodeMask (bits 3, 4, 6 and 7 do not count).
inline constexpr std::uint8_t kToshibaNodeMask = 0x27;

// Samsung: key = byte 5 AND kSamsungNodeMask; keys outside 0x40..0x4F name nothing.
inline constexpr std::uint8_t kSamsungNodeMask = 0x7F;

// YMTC: key = (byte 4 >> kYmtcGenerationShift) AND kYmtcGenerationMask.
inline constexpr unsigned kYmtcGenerationShift = 4;
inline constexpr std::uint8_t kYmtcGenerationMask = 0x07;

// Hynix: key = byte 5, all eight bits; several values share a text. A per-die row means the
// capacity code of the ID counts one die rather than one chip enable.
struct HynixNodeRow {
    const char* text;
    ByteList<8> values;
    bool per_die;
};

// clang-format off
// key, text
inline constexpr NodeRow kToshibaNodeTable[] = {
    {0x00, " A19nm"},
    {0x01, " 15nm"},
    {0x02, " 70nm"},
    {0x03, " 56nm"},
    {0x04, " 43nm"},
    {0x05, " 32nm"},
    {0x06, " 24nm"},
    {0x07, " 19nm"},
    {0x20, nullptr},
    {0x21, " 48L BiCS2"},
    {0x22, " 64L BiCS3"},
    {0x23, " 96L BiCS4"},
    {0x24, " 112L BiCS5"},
    {0x25, " 162L BiCS6"},
    {0x26, " 218L BiCS8"},
    {0x27, nullptr},
};

// text, byte 5 values, per die
inline constexpr HynixNodeRow kHynixNodeTable[] = {
    {" 41nm",      {0x41},                                           false},
    {" 32nm",      {0x42},                                           false},
    {" 26nm",      {0x43, 0xC3},                                     false},
    {" 20nm",      {0x44, 0xC4},                                     false},
    {" 16nm",      {0x25, 0x40, 0x45, 0x48, 0x49, 0x4A, 0x65, 0xE5}, false},
    {" 14nm",      {0x50, 0xE0},                                     false},
    {" 3dv1",      {0x60},                                           false},
    {" 3dv2-36L",  {0x70},                                           true},
    {" 3dv3-48L",  {0x80},                                           true},
    {" 3dv4-72L",  {0x90},                                           true},
    {" 3dv5-96L",  {0xA0, 0xA2},                                     true},
    {" 3dv6-128L", {0xB0, 0xB2},                                     true},
    {" 3dv7-176L", {0xC0, 0xC2},                                     true},
    {" 3dv8-238L", {0xD0},                                           true},
};

// key, text (none of these rows counts capacity per die)
inline constexpr NodeRow kSamsungNodeTable[] = {
    {0x40, " 51nm"},
    {0x41, " 42nm"},
    {0x42, " 32nm"},
    {0x43, " 27nm"},
    {0x44, " 21nm"},
    {0x45, " 19nm"},
    {0x46, " 16nm"},
    {0x47, " 3dv1-24L"},
    {0x48, " 3dv2-32L"},
    {0x49, " 3dv3-48L"},
    {0x4A, " 14nm"},
    {0x4B, " 3dv4-64L"},
    {0x4C, " 3dv5-92L"},
    {0x4D, " 3dv6-136L"},
    {0x4E, " 3dv7-176L"},
    {0x4F, " 3dv8-236L"},
};

// key, text (keys 0, 5, 6 and 7 name nothing)
inline constexpr NodeRow kYmtcGenerationTable[] = {
    {1, " 3dv2-64L"},
    {2, " 3dv3-128L"},
    {3, " 3dv4"},
    {4, " 3dv5"},
};
// clang-format on

// A node table as a lookup by key: every key value 0 to 255 with its text (nullptr for none) and
// whether it counts capacity per die.
struct NodeEntry {
    const char* text = nullptr;
    bool per_die = false;
};
using NodeLookup = std::array<NodeEntry, 256>;

template <std::size_t N>
constexpr NodeLookup make_node_lookup(const NodeRow (&table)[N]) {
    NodeLookup lookup{};
    for (const NodeRow& row : table)
        lookup[row.key] = {row.text, false};
    return lookup;
}

constexpr NodeLookup make_hynix_node_lookup() {
    NodeLookup lookup{};
    for (const HynixNodeRow& row : kHynixNodeTable) {
        for (std::uint8_t value : row.values)
            lookup[value] = {row.text, row.per_die};
    }
    return lookup;
}

inline constexpr NodeLookup kToshibaNodeLookup = make_node_lookup(kToshibaNodeTable);
inline constexpr NodeLookup kHynixNodeLookup = make_hynix_node_lookup();
inline constexpr NodeLookup kSamsungNodeLookup = make_node_lookup(kSamsungNodeTable);
inline constexpr NodeLookup kYmtcGenerationLookup = make_node_lookup(kYmtcGenerationTable);

template <std::size_t N>
constexpr bool node_keys_unique(const NodeRow (&table)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (table[i].key == table[j].key)
                return false;
        }
    }
    return true;
}

constexpr bool hynix_values_unique() {
    int seen[256] = {};
    for (const HynixNodeRow& row : kHynixNodeTable) {
        for (std::uint8_t value : row.values) {
            if (++seen[value] > 1)
                return false;
        }
    }
    return true;
}

static_assert(node_keys_unique(kToshibaNodeTable));
static_assert(node_keys_unique(kSamsungNodeTable));
static_assert(node_keys_unique(kYmtcGenerationTable));
static_assert(hynix_values_unique());

}  // namespace torvik
