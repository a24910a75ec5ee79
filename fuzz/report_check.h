// Runs the whole tool on a simulated drive in the fuzz working directory and checks what every
// run must do whatever the drive answers: finish with status 0, send nothing but reads, and write
// each dump that must exist with its full size and the bytes the drive sent.
#pragma once

#include <set>
#include <string>

#include "sim/sim_drive.h"

namespace torvik::fuzz {

// The output files whose creation fails are named in uncreatable. Aborts on a broken property.
void run_and_check(SimDrive& drive, const std::set<std::string>& uncreatable);

// The output files of a run: the report, the health log, the JSON report and every dump.
const std::set<std::string>& output_file_names();

}  // namespace torvik::fuzz
