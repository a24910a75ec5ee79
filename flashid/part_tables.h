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

// The text of the first row whose key equals the ID bytes from its key start on, or nullptr.
// Reads ID bytes 0 to 5 at most.
const char* find_part_text(std::span<const PartRow> table, const std::uint8_t* id);

}  // namespace torvik
