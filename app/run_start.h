// What a run checks before it touches the drive or writes anything: the paths of --metrics and
// --history, which the tool writes outside its output folder, and SOURCE_DATE_EPOCH. A run whose
// outputs would destroy what they are pointed at (a device, another output, a replayed dump) or
// whose time is not one ends here, with one line on standard error.
#pragma once

#include <cstdio>
#include <filesystem>

#include "app/options.h"

namespace torvik {

// What stands under path when it is something other than a regular file ("it is a device", "it
// is a symbolic link; ..."), a link never followed; nullptr for a regular file or nothing.
const char* not_a_regular_file(const std::filesystem::path& path);

// kExitOk when the run may start; otherwise kExitUsage, said on err. Checks, for a run that
// examines a drive (cl.mode is Mode::run):
// - SOURCE_DATE_EPOCH, when set and not empty: a decimal integer of seconds in the tool's time
//   range (common/utc_time.h);
// - --metrics and --history: nothing but a regular file or nothing at all under the name, not on
//   one of the kernel's pseudo file systems, not the same file as each other, and not a file the
//   run writes into its output folder (or a drive's folder of --all) nor a file of the --replay
//   folder. Paths are compared resolved (links in the folders followed), and by device and inode
//   where the files exist.
int check_run_start(const CommandLine& cl, std::FILE* err);

}  // namespace torvik
