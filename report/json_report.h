// The machine-readable report: everything a run learned, as one JSON document beside the text
// files. It is drawn from the drive model, as the text report and the health log are, and names
// each field as its page definition does. The layout is documented in docs/json.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/drive_model.h"
#include "report/run_info.h"

namespace torvik {

struct DriveList;
struct SummaryLine;

inline constexpr const char* kJsonReportFileName = "torvik_usb_pssd_flash_id.json";

// Raised whenever a key changes meaning or disappears; new keys alone do not raise it.
inline constexpr int kJsonFormatVersion = 2;

// The document of the run, as written to the file.
std::string json_report_text(const RunInfo& run, const DriveModel& model);

// One flash ID as a JSON object: its 8 bytes, the description the text report shows and the
// decoded fields, each absent when the decoder did not find it.
std::string flash_id_json_text(const std::uint8_t* id);

// The drive list of --list as one JSON document (docs/json.md), with the tool's version and
// platform.
std::string drive_list_json(const DriveList& list, const char* tool_version, const char* platform);

// The document of a run refused before it examined the drive (--json=- only): the tool, the
// drive number asked for, examined false and the verdict whose reason says why.
std::string refused_run_json(const char* tool_version, const char* platform,
                             std::optional<std::int32_t> drive, const HealthAssessment& health);

// The --all pass as one document: each examined drive's document (as json_report_text gave it),
// then the summary's lines (report/all_drives_summary.h), each result after its verdict.
std::string all_drives_json(const std::vector<std::string>& drive_documents,
                            const std::vector<SummaryLine>& summary);

}  // namespace torvik
