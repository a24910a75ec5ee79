// The body of a run: every query to the drive in its fixed order, the report lines, the dumps
// and the health log.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace torvik {

class OutputFile;
struct ReportRecorder;

// What the drive report works with; owned by the run, shared for the length of the call.
struct ReportContext {
    Platform& platform;
    std::FILE* console;                  // standard output, or a capture in tests
    DriveHandle disk;                    // open for the whole call
    OutputFile* report_file;             // nullptr when it could not be created
    ReportRecorder* recorder = nullptr;  // keeps what the run learns, when asked for
};

void drive_report(ReportContext& ctx);

}  // namespace torvik
