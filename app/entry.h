// The whole program behind main(): the command-line extensions, the choice of the drive's
// platform (the host's, a built-in simulated drive, or a replayed one), and the run.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace torvik {

struct Console {
    std::FILE* out;
    std::FILE* err;
    std::FILE* in;
};

// host serves the operating system's part (version, files, shell, keys, and the real drives when
// no simulated drive is asked for). Returns the process exit status.
int run_program(int argc, const char* const* argv, Platform& host, const Console& console);

}  // namespace torvik
