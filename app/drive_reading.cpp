#include "app/drive_reading.h"

#include <cstddef>
#include <cstdio>
#include <string>

#include "model/drive_model.h"
#include "model/drive_reader.h"
#include "platform/output_file.h"
#include "report/drive_report.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"

namespace torvik {

namespace {

// The command's reply area as its dump file, after its failure line.
void write_dump(ReportContext& report, CommandId id) {
    const char* name = command_info(id).dump_name;
    const RecordedCommand& recorded = report.model.commands[static_cast<std::size_t>(id)];
    report.model.file(name,
                      write_whole_file(report.files, report.console, name, recorded.reply.data(),
                                       recorded.reply.size(), FileKind::binary));
}

// The manifest beside the dumps, so that replay can answer every command as this run saw it.
void write_manifest(ReportContext& report, std::FILE* diagnostics) {
    const std::string text = format_manifest(report.model.manifest());
    report.model.file(kManifestFileName,
                      write_text_file(report.files, diagnostics, kManifestFileName, text));
}

}  // namespace

void read_drive_with_report(DriveLink link, ReportContext& report, const NvmeReadPlan& plan) {
    ReadHooks hooks;
    hooks.command_done = [&report](CommandId id, bool dump) {
        report_command(report, id);
        if (dump)
            write_dump(report, id);
    };
    hooks.stage_done = [&report](ReadStage stage) { report_stage(report, stage); };
    read_drive(link, report.model, hooks, plan);
    write_manifest(report, link.err != nullptr ? link.err : stderr);
}

}  // namespace torvik
