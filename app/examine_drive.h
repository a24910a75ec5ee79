// Examining one drive: banner, drive choice, USB check, report, closing prompt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/file_store.h"
#include "platform/platform.h"

namespace torvik {

// How long a run waits for another run that writes into the same folder: a run on a real drive
// takes about a second.
inline constexpr int kFolderLockWaitMs = 10000;

struct RunContext {
    Platform& platform;
    FileStore& files;   // the output folder
    std::FILE* out;     // console output
    std::FILE* in;      // where the drive prompt reads its answer
    bool json = false;  // --json: also write the JSON report
    // How drive 0 is simulated, for the JSON report: "sim" or "replay" and the profile name or
    // directory; empty for a real drive.
    std::string simulation{};
    std::string simulation_source{};
    bool health = false;  // --health: the verdict block after the run, and its exit status
    bool html = false;    // --html: also write the HTML report
    // Where the explanations of a failure and of an output file that could not be written go
    // (standard error); nullptr: nowhere.
    std::FILE* err = stderr;
    // The drive --device named; the drive argument then holds option letters only.
    std::optional<std::int32_t> named_drive{};
    // --output-dir as given, for the line that names the files asked for and where the closing
    // prompt opens the report; empty: none.
    std::string output_dir{};
    int lock_wait_ms = kFolderLockWaitMs;
    // The verdict word of the --health block in colour (a terminal that shows it).
    bool colour = false;
    // --json=-: the JSON document also goes here (standard output), and out is standard error.
    std::FILE* json_out = nullptr;
    // --history FILE as given (relative to the current folder); empty: none.
    std::string history{};
};

// The version text, as the build states it.
extern const char kProgramVersion[];
inline constexpr const char* kReportFileName = "torvik_usb_pssd_flash_id.txt";

// first_arg is the drive argument (the first argument that is not an option), or nullptr for the
// prompt.
// Returns the process exit status.
int examine_drive(RunContext& ctx, const char* first_arg);

}  // namespace torvik
