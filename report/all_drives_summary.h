// The summary of --all: one line per drive of the pass, printed after the last drive; the pass's
// JSON document holds the same lines (all_drives_json, report/json_report.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/health_verdict.h"

namespace torvik {

struct SummaryLine {
    std::int32_t drive = 0;
    std::string path;  // the OS's name of the drive, printable
    // The drive's identity serial, as the metrics and the history name it (the NVMe Identify's
    // when read), printable and trimmed; empty: none.
    std::string serial{};
    // The bridge's serial as its INQUIRY gave it (the folder is named after it), printable and
    // trimmed; empty: none.
    std::string bridge_serial{};
    std::optional<HealthVerdict> verdict{};  // the examined drive's, before result
    std::string result{};  // after the verdict, or why the drive was skipped or failed
    std::string folder{};  // where its files went; empty: nowhere
    int status = 0;        // the drive's own exit status
};

// The line over one drive's part of the pass: "==== drive 1  /dev/sdb ====" before it is opened;
// with its serials once they are known, as the summary's line gives them.
std::string drive_heading(const SummaryLine& line);

// A blank line, then one line per drive: its number, path, serials, verdict (coloured as the
// Health: line is when colour) and result, and its folder.
std::string all_drives_summary(const std::vector<SummaryLine>& lines, bool colour);

}  // namespace torvik
