// The drive number and option letters, read from the first argument or the typed answer.
#pragma once

#include <cstdint>

namespace torvik {

struct DriveArgument {
    std::int32_t drive = 0;
    bool no_requests = false;  // option y: skip the closing prompt
};

// The number is read as strtol reads it (white space, sign, digits; no digits gives 0), saturated
// to 32 bits; the letters are looked for anywhere in the text, digits included.
DriveArgument parse_drive_argument(const char* text);

}  // namespace torvik
