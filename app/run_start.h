// What a run checks before it touches the drive or writes anything: the paths of --metrics and
// --history, which the tool writes outside its output folder, and SOURCE_DATE_EPOCH. A run whose
// outputs would destroy what they are pointed at (a device, another output, a replayed dump) or
// whose time is not one ends here, with one line on standard error.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/run_context.h"

namespace torvik {

// What stands under path when it is something other than a regular file ("it is a device", "it
// is a symbolic link; ..."), a link never followed; nullptr for a regular file or nothing.
const char* not_a_regular_file(const std::filesystem::path& path);

// The store of the folder of file (--metrics: a path relative to the current folder), made when
// missing as --output-dir's is; nullptr, with the reason in why ("its folder mon is a symbolic
// link; ..."), when it cannot be used or file names a folder.
std::unique_ptr<FileStore> open_file_folder(const std::string& file,
                                            const OutputFolderOpener& open_folder,
                                            std::string& why);

// The names, inside folder (as the run gives it: --output-dir, a drive's folder, the folder of
// --metrics; empty: the current folder), of the files --history and --metrics name: a killed
// run's temporaries are never looked for among them, whatever they look like.
std::vector<std::string> option_files_in(const RunContext& ctx, const std::string& folder);

// kExitOk when the run may start; otherwise kExitUsage, said on err. Checks, for a run that
// examines a drive (cl.mode is Mode::run):
// - SOURCE_DATE_EPOCH, when set and not empty: a decimal integer of seconds in the tool's time
//   range (common/utc_time.h);
// - the output folder: not on one of the kernel's pseudo file systems;
// - --metrics and --history: nothing but a regular file or nothing at all under the name, not on
//   one of the kernel's pseudo file systems, a name that fits (with its temporary's suffix for
//   --metrics), not the same file as each other, not a file the run writes into its output
//   folder (or a drive's folder of --all) nor a file of the --replay folder, not named as a
//   temporary that a run removes as a killed run's leftover, and not where the run makes a
//   folder (the output folder, the other one's folder). Paths are compared resolved (links in
//   the folders followed), and by device and inode where the files exist;
// - then their folders are made when missing (open_folder makes the metrics' one, which must be
//   no link and writable, as the output folder).
int check_run_start(const CommandLine& cl, const OutputFolderOpener& open_folder, std::FILE* err);

}  // namespace torvik
