// One run of the tool: banner, drive choice, USB check, report, closing prompt.
#pragma once

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace torvik {

struct RunContext {
    Platform& platform;
    std::FILE* out;     // console output
    std::FILE* in;      // where the drive prompt reads its answer
    bool json = false;  // --json: also write the JSON report
    // How drive 0 is simulated, for the JSON report: "sim" or "replay" and the profile name or
    // directory; empty for a real drive.
    std::string simulation{};
    std::string simulation_source{};
    bool health = false;  // --health: the verdict block after the run, and its exit status
    bool html = false;    // --html: also write the HTML report
    std::FILE* err = stderr;  // why an output file could not be written
};

inline constexpr const char* kProgramVersion = "0.2a";
inline constexpr const char* kReportFileName = "torvik_usb_pssd_flash_id.txt";

// first_arg is the first command-line argument after any extension, or nullptr for the prompt.
// Returns the process exit status.
int run(RunContext& ctx, const char* first_arg);

}  // namespace torvik
