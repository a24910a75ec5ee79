// What the drive report writes with; owned by the run, shared for the length of the call.
#pragma once

#include <cstdio>

namespace torvik {

class FileStore;
class OutputFile;
struct DriveModel;

struct ReportContext {
    std::FILE* console;       // the console the report prints on
    FileStore& files;         // where the dumps, the health log and the manifest are written
    OutputFile* report_file;  // nullptr when it could not be created
    DriveModel& model;        // what the run learns
    // Where the files that only this tool writes (the run's manifest) report a failure: standard
    // error, so the console stays as it is.
    std::FILE* diagnostics = stderr;
};

}  // namespace torvik
