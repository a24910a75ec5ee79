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

inline constexpr std::size_t kMicronPartRows = 93;
inline constexpr std::size_t kYmtcPartRows = 9;

extern const PartRow kMicronPartTable[kMicronPartRows];
extern const PartRow kYmtcPartTable[kYmtcPartRows];

enum class PartTable : std::uint8_t { none, micron, ymtc };

// The rows of a table; none has no rows.
std::span<const PartRow> part_rows(PartTable table);

// The text of the first row whose key equals the ID bytes from its key start on, or nullptr.
// Reads ID bytes 0 to 5 at most; looks only at the rows that share the ID's byte 1.
const char* find_part_text(PartTable table, const std::uint8_t* id);

}  // namespace torvik
