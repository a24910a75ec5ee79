// The body of a run: every query to the drive in its fixed order, the report lines, the dumps,
// the health log and the run's manifest.
#pragma once

#include "report/report_context.h"

namespace torvik {

void run_drive_report(ReportContext& ctx);

}  // namespace torvik
