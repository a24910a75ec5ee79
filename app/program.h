// The whole program behind main(): the options, the choice of the drive's platform (the host's,
// a built-in simulated drive, or a replayed one), and what the options ask for: a run, the drive
// list, help, version, --decode.
#pragma once

#include <cstdio>

#include "app/run_context.h"
#include "platform/platform.h"

namespace torvik {

struct Console {
    std::FILE* out;
    std::FILE* err;
    std::FILE* in;
    // Standard output was closed when the process started: out is the null device now.
    bool out_closed = false;
};

// host serves the operating system's part (version, shell, keys, and the real drives when no
// simulated drive is asked for); open_folder the output files. Returns the process exit status.
int run_program(int argc, const char* const* argv, Platform& host,
                const OutputFolderOpener& open_folder, const Console& console);

}  // namespace torvik
