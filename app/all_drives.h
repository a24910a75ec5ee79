// --all: every drive on the USB bus examined in turn, without prompts, each into its own folder
// of the output folder; then one line per drive, and the worst of their exit statuses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_context.h"

namespace torvik {

// The most characters of a serial that go into a folder name.
inline constexpr std::size_t kFolderSerialChars = 40;

// How every drive's folder name begins: it keeps them apart from the user's own folders, and lets
// the check of --history and --metrics before the pass know one that is not made yet.
inline constexpr const char* kDriveFolderPrefix = "drive_";

// The folder of one drive: "drive_" and its bridge's serial reduced to ASCII letters, digits, '-'
// and '_' (every other byte dropped, at most kFolderSerialChars kept), so that a drive keeps its
// folder whichever number it has in a pass. A name one of taken already has (in any letter case,
// as Windows compares names) gets "-2", "-3", ...: drives of one pass that share a serial, or
// have none ("drive_"), each get a folder of their own.
std::string drive_folder_name(std::string_view serial, const std::vector<std::string>& taken);

// Whether a name is one drive_folder_name gives, made or not: it begins as they all do (in any
// letter case, as Windows compares names).
bool names_drive_folder(std::string_view name);

// The worse of two drives' exit statuses. From best to worst: 0, 5 (a file missing), 10
// (WARNING), 12 (UNKNOWN), 1 (the drive's folder could not be used), 4 (the disk could not be
// opened), 11 (FAILED): a failing drive is what a check of many drives must not hide. A status
// outside that list counts as a failure to examine, beside 4.
int worse_status(int a, int b);

// Examines every USB drive of the scan and prints the summary. Returns the exit status: the worst
// among the USB drives, or 3 (with a message) when there is none.
int examine_all_drives(const RunContext& ctx);

}  // namespace torvik
