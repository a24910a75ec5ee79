// The drive's history (--history FILE): before the outputs, the file's records of the same drive
// and the current run give the wear trend in the drive model; after them, the run is appended
// as one line (docs/history.md).
#pragma once

#include <cstdint>

#include "app/run_context.h"
#include "model/drive_model.h"
#include "model/key_figures.h"

namespace torvik {

struct HistoryPlan {
    bool append = false;         // the run is to be appended after the outputs
    bool failed = false;         // the file could not be read; said on standard error
    std::uint64_t read_end = 0;  // the file's length when it was read
};

// Reads ctx.history and sets model.trend, the current run its last point (figures: the model's
// key figures). A run without a time or a serial number is neither read nor appended (said on
// standard error), nor is a drive that its --all pass (pass; nullptr outside --all) met already
// under another number.
HistoryPlan read_drive_history(const RunContext& ctx, DriveModel& model, const KeyFigures& figures,
                               PassState* pass = nullptr);

// Appends the run's line unless a line of the same drive and time was appended after plan's read
// (said on standard error, and true); false, said on standard error, when it could not be.
bool append_drive_history(const RunContext& ctx, const DriveModel& model, const KeyFigures& figures,
                          const HistoryPlan& plan);

}  // namespace torvik
