// The JSON report's document, for the two writers drawn from it: the JSON file and the HTML page.
// nlohmann/json stays behind them; everything else sees report/json_report.h only.
#pragma once

#include <nlohmann/json.hpp>

#include "report/json_report.h"

namespace torvik {

// Keys keep the order in which they are written, so the file reads like the text report.
using Json = nlohmann::ordered_json;

Json json_report(const JsonRunInfo& run, const DriveModel& model);

}  // namespace torvik
