// The text report of a run, written as the drive's pages come in: each command's failure line and
// dump, the lines of each group of pages, the dumps and the health log; the run's manifest at the
// end. The run reads the drive and calls these as each step is done.
#pragma once

#include "model/drive_reader.h"
#include "report/report_context.h"
#include "scsi/commands.h"

namespace torvik {

inline constexpr const char* kReportFileName = "torvik_usb_pssd_flash_id.txt";

// After one command: its failure line, and its dump when dump is set.
void report_command(ReportContext& ctx, CommandId id, bool dump);

// After a group of pages: the lines (and files) that group brings.
void report_stage(ReportContext& ctx, ReadStage stage);

// The manifest beside the dumps, so that replay can answer every command as this run saw it.
void write_run_manifest(ReportContext& ctx);

}  // namespace torvik
