// A run of the tool on a simulated drive without the command line: drive 0 answered by a given
// drive, everything else by the host platform, the files written to a given store.
#pragma once

#include <string>

#include "app/program.h"
#include "platform/file_store.h"
#include "platform/platform.h"
#include "sim/sim_drive.h"

namespace torvik::testing {

// Whether the run asks for every output that has a file of its own (each such row of the outputs
// table: --json, --html, ...), and what the JSON report says drive 0 is ("sim" with the profile
// name, or "replay" with the directory).
struct SimulatedRun {
    bool every_file = false;
    std::string simulation = "sim";
    std::string source = "default";
};

// first_arg is the drive argument (nullptr: the prompt). Returns the process exit status.
int run_on_simulated_drive(SimDrive& drive, Platform& host, FileStore& files,
                           const Console& console, const char* first_arg,
                           const SimulatedRun& how = {});

}  // namespace torvik::testing
