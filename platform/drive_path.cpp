#include "platform/drive_path.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/utc_time.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

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

DriveNames Platform::drive_names(std::int32_t drive) {
    char path[kDrivePathSize];
    format_drive_path(path, sizeof path, drive);
    return DriveNames{path, {}};
}

std::int32_t Platform::find_drive(const char* os_path, bool& missing) {
    missing = false;
    std::size_t index = 0;
    if (!parse_drive_number(os_path, index))
        return -1;
    return static_cast<std::int32_t>(index);
}

ErrorKind Platform::error_kind(std::uint32_t error) const {
    switch (error) {
        case kErrorAccessDenied:
            return ErrorKind::access_denied;
        case kErrorFileNotFound:
        case kErrorPathNotFound:
            return ErrorKind::not_found;
        default:
            return ErrorKind::other;
    }
}

bool Platform::runs_privileged() const {
    return process_runs_privileged();
}

std::optional<std::int64_t> Platform::run_time() {
    if (const char* pinned = std::getenv("SOURCE_DATE_EPOCH"); pinned != nullptr && *pinned) {
        // A value that is not one is refused before the run starts (check_run_start).
        if (std::int64_t seconds = 0; parse_run_seconds(pinned, seconds))
            return seconds;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::seconds>(now).count();
}

}  // namespace torvik
