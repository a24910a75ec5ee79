#include "app/drive_argument.h"

#include <cstdint>
#include <limits>

namespace torvik {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::int32_t leading_number(const char* p) {
    while (is_space(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    // Accumulate in 64 bits and stop growing past the 32-bit range, as a 32-bit strtol clamps.
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= kLimit)
            value = value * 10 + (*p - '0');
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

DriveArgument parse_drive_argument(const char* text) {
    DriveArgument result;
    result.drive = leading_number(text);
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == 'y' || *p == 'Y')
            result.no_requests = true;
    }
    return result;
}

}  // namespace torvik
