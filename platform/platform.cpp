// What the drive half of the seam does where a platform keeps to the defaults: drives named
// "\\.\PhysicalDriveN", Windows error codes, the host's rights and the system clock.
#include "platform/platform.h"

#include <chrono>
#include <cstdlib>

#include "common/utc_time.h"
#include "platform/drive_path.h"
#include "platform/host_platform.h"

namespace torvik {

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

std::optional<UsbId> Platform::usb_id(std::int32_t /*drive*/) {
    return std::nullopt;
}

}  // namespace torvik
