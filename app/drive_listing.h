// The drives: the listing shown before the prompt, the bus-type query that admits USB drives
// only, and the scan behind --list and the messages that name the drives there are.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/drive_path.h"
#include "platform/platform.h"
#include "report/drive_list.h"

namespace torvik {

// Prints "%2u: %s%s\n" with vendor and product text for every drive 0..98 that answers.
void list_drives(Platform& platform, std::FILE* out);

// What the bus-type query found.
struct BusQuery {
    bool opened = false;    // the drive could be opened
    bool answered = false;  // and it answered the storage query
    std::uint8_t bus_type = 0;
    std::uint32_t error = 0;  // the platform's error when it was not opened or did not answer
};

BusQuery query_bus(Platform& platform, std::int32_t drive);

// What a user without the rights to open a drive should do: "run as root", or as administrator.
const char* privilege_hint();

// Every drive 0..98 that answers, with its OS names, bus, texts and size.
DriveList scan_drives(Platform& platform);

}  // namespace torvik
