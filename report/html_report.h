// The HTML report: one self-contained page (inline CSS and SVG, no script, nothing fetched) with
// the drive's identity, the health verdict, the key health figures as bars, the flash IDs and
// chip-enable layout, and every table of the JSON report. It is drawn from the drive model and its
// verdict, as the JSON report is, with the JSON report's names for its rows; its key figures are
// the run's (key_figures), as the --health summary, the history and the metrics show them.
#pragma once

#include <string>

namespace torvik {

struct RunInfo;
struct DriveModel;
struct KeyFigures;

inline constexpr const char* kHtmlReportFileName = "torvik_usb_pssd_flash_id.html";

std::string html_report(const RunInfo& run, const DriveModel& drive, const KeyFigures& figures);

}  // namespace torvik
