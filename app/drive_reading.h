// The body of a run: the drive's pages read into the run's model; as they come in, the report's
// lines, the health log and the dumps; the run's manifest at the end.
#pragma once

#include "model/drive_reader.h"
#include "report/report_context.h"
#include "transport/drive_link.h"

namespace torvik {

// plan: where the bridge's NVMe pages are read (model/drive_reader.h). The dumps and the manifest
// go to report.files; a manifest that cannot be written is said on link.err (standard error when
// that is nullptr), so the console stays as it is.
void read_drive_with_report(DriveLink link, ReportContext& report, const NvmeReadPlan& plan);

}  // namespace torvik
