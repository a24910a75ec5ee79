#include "platform/drive_path.h"

#include <cstdio>
#include <cstring>

namespace torvik {

namespace {

constexpr const char* kDrivePrefix = "\\\\.\\PhysicalDrive";

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

void format_drive_path(char* out, std::size_t out_size, std::int32_t drive) {
    std::snprintf(out, out_size, "\\\\.\\PhysicalDrive%d", static_cast<int>(drive));
}

bool parse_drive_number(const char* path, std::size_t& index) {
    const std::size_t prefix = std::strlen(kDrivePrefix);
    for (std::size_t i = 0; i < prefix; ++i) {
        if (lower(path[i]) != lower(kDrivePrefix[i]))
            return false;
    }
    const char* digits = path + prefix;
    if (*digits == '\0')
        return false;
    std::size_t value = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<std::size_t>(*p - '0');
        if (value > 1000000)
            return false;
    }
    index = value;
    return true;
}

}  // namespace torvik
