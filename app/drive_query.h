// Asking one drive for its storage descriptor: the bus-type query that admits USB drives only, and
// the numbered menu of drives shown before the prompt.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "platform/platform.h"

namespace torvik {

inline constexpr std::int32_t kListedDrives = 99;  // 0..98: drive 99 is accepted but never listed

// The menu before the prompt: "%2u: %s%s\n" with vendor and product text for every drive 0..98
// that answers.
void print_drive_menu(Platform& platform, std::FILE* out);

// What the bus-type query found.
struct BusQuery {
    bool opened = false;    // the drive could be opened
    bool answered = false;  // and it answered the storage query
    std::uint8_t bus_type = 0;
    std::uint32_t error = 0;  // the platform's error when it was not opened or did not answer
};

BusQuery query_bus(Platform& platform, std::int32_t drive);

using DescriptorBuffer = std::array<std::uint8_t, 4096>;

// Opens the drive, asks for its storage device descriptor and, when size is given, for the disk's
// size (left empty when the OS does not tell it), and closes it again.
BusQuery query_descriptor(Platform& platform, std::int32_t drive, DescriptorBuffer& descriptor,
                          std::optional<std::uint64_t>* size = nullptr);

// A text of the descriptor at the offset stored in `field`; empty for offset 0.
const char* descriptor_text(const DescriptorBuffer& descriptor, std::size_t field);

}  // namespace torvik
