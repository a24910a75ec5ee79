// The drive listing shown before the prompt, and the bus-type query that admits USB drives only.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace torvik {

// Formats "\\.\PhysicalDrive%d" into out (at least 32 bytes).
void format_drive_path(char* out, std::size_t out_size, std::int32_t drive);

// Prints "%2u: %s%s\n" with vendor and product text for every drive 0..98 that answers.
void list_drives(Platform& platform, std::FILE* out);

// The lowest byte of the descriptor's BusType, or `current` when the drive cannot be opened or
// the query fails.
std::uint8_t query_bus_type(Platform& platform, std::int32_t drive, std::uint8_t current);

}  // namespace torvik
