#include "app/drive_reading.h"

#include "model/drive_reader.h"
#include "report/drive_report.h"

namespace torvik {

void read_drive_with_report(DriveLink link, ReportContext& report,
                            bool any_controller_bridge_reads) {
    ReadHooks hooks;
    hooks.command_done = [&report](CommandId id, bool dump) { report_command(report, id, dump); };
    hooks.stage_done = [&report](ReadStage stage) { report_stage(report, stage); };
    read_drive(link, report.model, hooks, any_controller_bridge_reads);
    write_run_manifest(report);
}

}  // namespace torvik
