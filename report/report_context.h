// What the drive report writes with; owned by the run, shared for the length of the call.
#pragma once

#include <cstdio>

namespace torvik {

class FileStore;
class OutputFile;
struct DriveModel;

struct ReportContext {
    std::FILE* console;       // the console the report prints on
    FileStore& files;         // where the health log is written
    OutputFile* report_file;  // nullptr when it could not be created
    DriveModel& model;        // what the run learns
};

}  // namespace torvik
