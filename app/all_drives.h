// --all: every drive on the USB bus examined in turn, without prompts, each into its own folder
// of the output folder; then one line per drive, and the worst of their exit statuses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_context.h"

namespace torvik {

// The most characters of a serial that go into a folder name.
inline constexpr std::size_t kFolderSerialChars = 40;

// The folder of one drive: "drive" and its number, then '_' and the serial reduced to ASCII
// letters, digits, '-' and '_' (every other byte dropped, at most kFolderSerialChars kept); the
// number alone when nothing of the serial is left. The number keeps two drives apart whatever
// their serials.
std::string drive_folder_name(std::int32_t drive, std::string_view serial);

// The worse of two drives' exit statuses. From best to worst: 0, 5 (a file missing), 10
// (WARNING), 12 (UNKNOWN), 1 (the drive's folder could not be used), 4 (the disk could not be
// opened), 11 (FAILED): a failing drive is what a check of many drives must not hide. A status
// outside that list counts as a failure to examine, beside 4.
int worse_status(int a, int b);

// Examines every USB drive of the scan and prints the summary. Returns the exit status: the worst
// among the USB drives, or 3 (with a message) when there is none.
int examine_all_drives(const RunContext& ctx);

}  // namespace torvik
