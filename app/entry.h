// The whole program behind main(): the command-line extensions, the choice of the drive's
// platform (the host's, a built-in simulated drive, or a replayed one), and the run.
#pragma once

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace torvik {

class SimDrive;

struct Console {
    std::FILE* out;
    std::FILE* err;
    std::FILE* in;
};

// host serves the operating system's part (version, files, shell, keys, and the real drives when
// no simulated drive is asked for). Returns the process exit status.
int run_program(int argc, const char* const* argv, Platform& host, const Console& console);

// How a run on a simulated drive is described: the extensions it runs with (--json, --health,
// --html), and what the report says the drive is ("sim" with the profile name, or "replay" with the
// directory).
struct SimulatedRun {
    bool json = false;
    std::string simulation = "sim";
    std::string source = "default";
    bool health = false;
    bool html = false;
};

// The run of --sim and --replay: the tool with drive 0 answered by drive, everything else by host.
// first_arg is the drive argument (nullptr: the prompt). Returns the process exit status.
int run_on_simulated_drive(SimDrive& drive, Platform& host, const Console& console,
                           const char* first_arg, const SimulatedRun& how = {});

}  // namespace torvik
