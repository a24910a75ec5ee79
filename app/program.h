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

class SimDrive;

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

// The run of --sim and --replay: the tool with drive 0 answered by drive, everything else by host,
// its files written to files. first_arg is the drive argument (nullptr: the prompt). Returns the
// process exit status.
int run_on_simulated_drive(SimDrive& drive, Platform& host, FileStore& files,
                           const Console& console, const char* first_arg,
                           const SimulatedRun& how = {});

}  // namespace torvik
