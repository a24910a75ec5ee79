// Part tables: name the die of a flash package from several of its ID bytes at once.
// The Micron table serves Micron, Intel and Spectek IDs, the YMTC table YMTC IDs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torvik {

struct PartRow {
    char text[16];            // appended unchanged
    std::uint8_t key_start;   // first ID byte compared: 0 or 1
    std::uint8_t key_length;  // bytes compared: 4 or 5
    std::uint8_t key[6];      // bytes past key_length are not compared
};

// A part table with its rows bucketed for the search, made from the rows at compile time. A
// maker family names the one it searches (flashid/maker_rules.h).
struct PartTable;
extern const PartTable kMicronParts;
extern const PartTable kYmtcParts;

// The rows of a table, in the order they are searched.
std::span<const PartRow> part_rows(const PartTable& table);

// The text of the first row whose key equals the ID bytes from its key start on, or nullptr.
// Reads ID bytes 0 to 5 at most; looks only at the rows that share the ID's byte 1.
const char* find_part_text(const PartTable& table, const std::uint8_t* id);

}  // namespace torvik
