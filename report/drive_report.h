// The body of a run: the drive's pages read into the run's model, and as they come in the report
// lines, the dumps and the health log; the run's manifest at the end.
#pragma once

#include "report/report_context.h"

namespace torvik {

void run_drive_report(ReportContext& ctx);

}  // namespace torvik
