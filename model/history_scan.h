// Reading the drive's history file (--history FILE, docs/history.md): the records of the run's
// drive go to its wear trend; what else the file held is counted, for the caller to tell.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/drive_identity.h"
#include "model/key_figures.h"
#include "model/wear_trend.h"
#include "platform/history_file.h"

namespace torvik {

// The history's line-length limit: a line longer than this, its line end not counted, is
// damaged. No run writes one, and the reader keeps one line at most.
inline constexpr std::size_t kHistoryLineLimit = 4096;
// The damaged lines a scan names by their numbers; the rest it counts.
inline constexpr std::size_t kDamagedLinesNamed = 5;

struct HistoryScan {
    std::size_t lines = 0;    // lines read, blank ones and damaged ones included
    std::size_t damaged = 0;  // skipped: not a record, or over the line-length limit
    // The numbers of the first damaged lines (counted from 1), min(damaged, kDamagedLinesNamed).
    std::array<std::size_t, kDamagedLinesNamed> damaged_lines{};
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
// after it (a replayed older run gets the trend as it stood then).
HistoryScan scan_history(HistoryReader& reader, const DriveKey& run, std::int64_t now,
                         WearTrendBuilder& builder);

// The figures of the current run, as its line will hold them.
WearPoint current_point(std::int64_t time, const KeyFigures& k);

// Whether appended (lines of the history) holds a record at `time` of the drive `run`, by the
// identity the scan goes by (same_drive).
bool holds_run(std::string_view appended, std::int64_t time, const DriveKey& run);

}  // namespace torvik
