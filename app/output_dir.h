// --output-dir: every file of the run goes to one folder, through the output store opened over it
// (platform/output_folder.h); nothing changes the current directory.
#pragma once

#include <string>
#include <vector>

namespace torvik {

// name inside dir, with one separator between them: where the closing prompt finds the report.
std::string output_path(const std::string& dir, const char* name);

// The name of every file a run may write into its output folder: the reports, the health log, the
// manifest and every command's dump. A replay folder holds the same names.
std::vector<const char*> run_file_names();

}  // namespace torvik
