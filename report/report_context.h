// What the drive report works with; owned by the run, shared for the length of the call.
#pragma once

#include <cstdio>

#include "transport/drive_link.h"

namespace torvik {

class FileStore;
class OutputFile;
struct DriveModel;

struct ReportContext {
    DriveLink link;           // the open disk and the console the report prints on
    FileStore& files;         // where the dumps, the health log and the manifest are written
    OutputFile* report_file;  // nullptr when it could not be created
    DriveModel& model;        // what the run learns
    // Where the files that only this tool writes (the run's manifest) report a failure: standard
    // error, so the console stays as it is.
    std::FILE* diagnostics = stderr;
    // The bridge's NVMe pages are read for a controller the report does not cover too (the health
    // verdict, the JSON and the HTML page use them); the default run sends what it always sent.
    bool any_controller_bridge_reads = false;
};

}  // namespace torvik
