#include "app/drive_scan.h"

#include <cstring>

#include "app/drive_query.h"
#include "app/exit_status.h"
#include "app/program_message.h"
#include "app/program_version.h"
#include "common/printable_text.h"
#include "platform/host_platform.h"
#include "platform/storage_descriptor.h"
#include "report/json_report.h"

namespace torvik {

const char* privilege_hint(Platform& platform) {
    const bool windows = std::strcmp(host_platform_name(), "Windows") == 0;
    if (!platform.runs_privileged())
        return windows ? "run as administrator" : "run as root";
    return windows ? "the tool runs as administrator already: another program may hold the disk "
                     "open exclusively, or security software refuses the access"
                   : "the tool runs as root already: another program may hold the disk open "
                     "exclusively, or a security module (SELinux, AppArmor) refuses the access";
}

DriveList scan_drives(Platform& platform) {
    DriveList list;
    for (std::int32_t drive = 0; drive < kListedDrives; ++drive) {
        DescriptorBuffer descriptor{};
        std::optional<std::uint64_t> size;
        const BusQuery found = query_descriptor(platform, drive, descriptor, &size);
        if (!found.answered && platform.error_kind(found.error) == ErrorKind::access_denied)
            list.access_denied = true;
        if (!found.answered)
            continue;
        ListedDrive entry;
        entry.number = drive;
        entry.names = platform.drive_names(drive);
        entry.bus_type = found.bus_type;
        entry.vendor = descriptor_text(descriptor, kDescVendorIdOffset);
        entry.product = descriptor_text(descriptor, kDescProductIdOffset);
        entry.size = size;
        if (found.bus_type == kBusTypeUsb)
            entry.usb_id = platform.usb_id(drive);
        list.drives.push_back(std::move(entry));
    }
    return list;
}

int list_command(Platform& platform, std::FILE* out, std::FILE* err, bool json) {
    const DriveList list = scan_drives(platform);
    if (json) {
        std::fputs(drive_list_json(list, kProgramVersion, host_platform_name()).c_str(), out);
    } else {
        // The list alone goes to standard output; an empty one says why on standard error.
        print_drive_list(list, privilege_hint(platform), list.drives.empty() ? err : out);
    }
    if (list.access_denied && (json || !list.drives.empty())) {
        print_message(
            err, "%s: permission denied; %s\n",
            list.drives.empty() ? "no drive could be opened" : "some drives could not be opened",
            privilege_hint(platform));
    }
    return kExitOk;
}

std::optional<std::int32_t> find_named_drive(Platform& platform, const std::string& path,
                                             std::FILE* err) {
    bool missing = false;
    const std::int32_t drive = platform.find_drive(path.c_str(), missing);
    if (drive >= 0)
        return drive;
    const std::string shown = printable_text(path.c_str());
    if (missing) {
        print_message(err, "%s: no such file or device\n", shown.c_str());
    } else {
        print_message(err,
                      "%s: not a whole disk the tool can name (\\\\.\\PhysicalDriveN; on Linux "
                      "/dev/sdX, /dev/sgN or a link to one; see --list)\n",
                      shown.c_str());
    }
    return std::nullopt;
}

}  // namespace torvik
