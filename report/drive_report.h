// The text report of a run, written as the drive's pages come in: each command's failure line, the
// lines of each group of pages and the health log. The run reads the drive and calls these as each
// step is done.
#pragma once

#include "model/drive_reader.h"
#include "report/report_context.h"
#include "scsi/commands.h"

namespace torvik {

inline constexpr const char* kReportFileName = "torvik_usb_pssd_flash_id.txt";

// After one command: its failure line, when it failed.
void report_command(ReportContext& ctx, CommandId id);

// After a group of pages: the lines (and files) that group brings.
void report_stage(ReportContext& ctx, ReadStage stage);

}  // namespace torvik
