// The body of a run: the drive's pages read into the run's model, and as they come in the report
// lines, the dumps and the health log; the run's manifest at the end.
#pragma once

#include "report/report_context.h"
#include "transport/drive_link.h"

namespace torvik {

// any_controller_bridge_reads: the bridge's NVMe pages are read for a controller the report does
// not cover too (an output asked for uses them); the default run sends what it always sent.
void read_drive_with_report(DriveLink link, ReportContext& report,
                            bool any_controller_bridge_reads);

}  // namespace torvik
