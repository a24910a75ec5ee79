// The path that names a physical drive by number, "\\.\PhysicalDriveN", on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik {

inline constexpr std::size_t kDrivePathSize = 32;

// Formats "\\.\PhysicalDrive%d" into out.
void format_drive_path(char* out, std::size_t out_size, std::int32_t drive);

// The N of "\\.\PhysicalDriveN" (the prefix in any case, as Windows reads it); false for any
// other text.
bool parse_drive_number(const char* path, std::size_t& index);

}  // namespace torvik
