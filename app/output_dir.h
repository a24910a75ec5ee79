// --output-dir: every file of the run goes to one folder, through the output store opened over it
// (platform/output_folder.h); nothing changes the current directory.
#pragma once

#include <string>

namespace torvik {

// name inside dir, with one separator between them: where the closing prompt finds the report.
std::string output_path(const std::string& dir, const char* name);

}  // namespace torvik
