// The drive's history (--history FILE): before the outputs, the file's records of the same drive
// and the current run give the wear trend in the drive model; after them, the run is appended
// as one line (docs/history.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/examine_drive.h"
#include "model/drive_model.h"
#include "model/key_figures.h"
#include "model/wear_trend.h"
#include "platform/history_file.h"

namespace torvik {

// A line longer than this is damaged: no run writes one, and the reader keeps one line at most.
inline constexpr std::size_t kHistoryLineLimit = 4096;
// Damaged lines named one by one on standard error; the rest are counted.
inline constexpr std::size_t kHistoryNotesShown = 5;

struct HistoryScan {
    std::size_t lines = 0;        // lines read, blank ones and damaged ones included
    std::size_t damaged = 0;      // skipped: not a record, or longer than kHistoryLineLimit
    std::size_t records = 0;      // of the drive, fed to the trend
    std::size_t other_drive = 0;  // records of other drives
    std::size_t later = 0;        // of the drive, after `now`: left out
    bool duplicate = false;       // the drive has a record at `now` already
    bool failed = false;          // the file could not be read to its end; the reason in error
    std::string error;
    std::uint64_t read_end = 0;  // the bytes read: the file's length at the read
};

// Streams the history from reader: each record of the drive `run` (same_drive) goes to builder in
// file order, except one at `now`, which is the current run recorded already (duplicate), and those
// after it (a replayed older run gets the trend as it stood then). Damaged lines are named on err
// (up to kHistoryNotesShown, then counted), with name, the file's name as the messages give it; err
// may be nullptr.
HistoryScan scan_history(HistoryReader& reader, const DriveKey& run, std::int64_t now,
                         WearTrendBuilder& builder, std::FILE* err, const std::string& name);

struct HistoryPlan {
    bool append = false;         // the run is to be appended after the outputs
    bool failed = false;         // the file could not be read; said on standard error
    std::uint64_t read_end = 0;  // the file's length when it was read
};

// Reads ctx.history and sets model.trend, the current run its last point. A run without a time
// or a serial number is neither read nor appended (said on standard error).
HistoryPlan read_drive_history(const RunContext& ctx, DriveModel& model);

// Appends the run's line unless a line of the same drive and time was appended after plan's read
// (said on standard error, and true); false, said on standard error, when it could not be.
bool append_drive_history(const RunContext& ctx, const DriveModel& model, const HistoryPlan& plan);

}  // namespace torvik
