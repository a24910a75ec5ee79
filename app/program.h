// The whole program behind main(): the options, the choice of the drive's platform (the host's,
// a built-in simulated drive, or a replayed one), and what the options ask for: a run, the drive
// list, help, version, --decode.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/file_store.h"
#include "platform/platform.h"

namespace torvik {

struct Console {
    std::FILE* out;
    std::FILE* err;
    std::FILE* in;
};

// Opens the output store of the folder a run writes into: dir as --output-dir gives it, empty for
// the current folder. nullptr, with the reason in error, when it cannot be used.
using OutputFolderOpener =
    std::function<std::unique_ptr<FileStore>(const std::string& dir, std::string& error)>;

// host serves the operating system's part (version, shell, keys, and the real drives when no
// simulated drive is asked for); open_folder the output files. Returns the process exit status.
int run_program(int argc, const char* const* argv, Platform& host,
                const OutputFolderOpener& open_folder, const Console& console);

}  // namespace torvik
