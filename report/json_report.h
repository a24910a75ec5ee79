// The machine-readable report: everything a run learned, as one JSON document beside the text
// files. It is built from the same decoders and field tables as the text report and the health
// log, so the two never show different fields. The layout is documented in docs/json.md.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/output_file.h"
#include "platform/platform.h"
#include "report/number_format.h"
#include "report/report_recorder.h"

namespace torvik {

inline constexpr const char* kJsonReportFileName = "torvik_usb_pssd_flash_id.json";

// Raised whenever a key changes meaning or disappears; new keys alone do not raise it.
inline constexpr int kJsonFormatVersion = 1;

// Keys keep the order in which they are written, so the file reads like the text report.
using Json = nlohmann::ordered_json;

// What the run knows besides the drive report.
struct JsonRunInfo {
    std::string tool_version;
    std::string platform;  // the platform the tool was built for
    OsVersion os;
    std::int32_t drive = 0;
    std::string bus;
    std::string simulation;         // "sim" or "replay"; empty for a real drive
    std::string simulation_source;  // the profile name or the replayed directory
};

Json json_report(const JsonRunInfo& run, const ReportRecorder& record);

// One flash ID: its 8 bytes, the description the text report shows and the decoded fields, each
// absent when the decoder did not find it.
Json flash_id_json(const std::uint8_t* id);

// Whole numbers up to 2^53 in magnitude as JSON numbers, larger ones as decimal strings, so that
// no reader that keeps numbers as doubles can round them.
Json json_integer(std::uint64_t value);
Json json_integer(std::int64_t value);
Json json_integer(Uint128 value);

// Writes the document to kJsonReportFileName in the current directory. A file that cannot be
// created or written gets its message on the console.
FileResult write_json_report(Platform& platform, std::FILE* console, const Json& report);

}  // namespace torvik
