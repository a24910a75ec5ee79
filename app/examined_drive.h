// One drive of a run: where its outputs go, and what was learned of it, as the outputs that are
// written after it (or after every drive of --all) read it.
#pragma once

#include <cstdio>
#include <string>

#include "model/drive_model.h"
#include "model/key_figures.h"
#include "platform/file_store.h"
#include "report/run_info.h"

namespace torvik {

// Where one drive's outputs go: the store of its folder, the folder as messages name it (as
// --output-dir gives it; empty: the current folder), and the stream that also takes the drive's
// JSON document (--json=- for a run of one drive; nullptr: none, as in an --all pass, whose one
// document holds every drive's).
struct DriveFolder {
    FileStore& files;
    std::string shown;
    std::FILE* json_out = nullptr;
};

struct ExaminedDrive {
    RunInfo info;  // the run's facts beside the model: version, OS, drive number, simulation
    DriveModel model;
    KeyFigures figures;  // drawn from the model once, for the outputs that record them
    int status = 0;      // the run's own status: 0, or 5 when an output file is missing
};

}  // namespace torvik
