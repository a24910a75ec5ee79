#include "report/drive_report.h"

#include <string>

#include "common/printable_text.h"
#include "model/drive_model.h"
#include "report/ata_smart_table.h"
#include "report/controller_config.h"
#include "report/health_log.h"
#include "report/number_format.h"
#include "report/report_output.h"
#include "scsi/commands.h"

namespace torvik {

// The report's failure line of a query step, with the command's name and the code it left.
void report_command(ReportContext& ctx, CommandId id) {
    const CommandInfo& command = command_info(id);
    const RecordedCommand& recorded = ctx.model.commands[static_cast<std::size_t>(id)];
    if (recorded.failed && command.failure_name != nullptr) {
        report_printf(ctx, "IOCtl: %s failed 0x%x!\n", command.failure_name,
                      static_cast<unsigned>(recorded.result.error));
    }
}

namespace {

void print_identity_lines(ReportContext& ctx) {
    const DriveModel& m = ctx.model;
    // The JSON keeps the drive's own bytes (escaped there); the console and the report get them
    // with control bytes shown as '?'.
    report_printf(ctx, "Model   : %s\n", printable_text(m.identity.model.c_str()).c_str());
    report_printf(ctx, "Rev/sn  : %s/%s\n", printable_text(m.identity.revision.c_str()).c_str(),
                  printable_text(m.identity.serial.c_str()).c_str());
    // The count is the last LBA itself, in 512-byte sectors.
    const double megabytes = static_cast<double>(m.size_last_lba >> 11);
    const double gigabytes = static_cast<double>(m.size_last_lba) * 512 * 0.000000001;
    report_printf(ctx, "Size    : %s MB [%1.1f GB]\n", whole_number(megabytes, 1).text, gigabytes);
}

void print_flash_id_line(ReportContext& ctx, const char* label, const FlashReading& flash) {
    char description[kFlashDescriptionSize];
    format_flash_description(flash.fields, description, sizeof description);
    const FlashIdBytes& id = flash.bytes;
    report_printf(ctx, "%s0x%x,0x%x,0x%x,0x%x,0x%x,0x%x,0x%x,0x%x - %s\n", label, id[0], id[1],
                  id[2], id[3], id[4], id[5], id[6], id[7], description);
}

void print_controller_lines(ReportContext& ctx) {
    const DriveModel& m = ctx.model;
    report_printf(ctx, "Controller: %s (from firmware)\n", controller_name(m.controller_id).text);
    if (flash_id_present(m.flash_id.bytes))
        print_flash_id_line(ctx, "FlashID: ", m.flash_id);
}

void print_bank_lines(ReportContext& ctx) {
    for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
        const FlashReading& flash = ctx.model.banks[bank];
        if (!flash_id_present(flash.bytes))
            continue;
        char label[16];
        std::snprintf(label, sizeof label, "Bank%02u: ", bank);
        print_flash_id_line(ctx, label, flash);
    }
}

// The configuration block, the ATA-style table (report file only) and the health log file, which
// is closed before the bridge reads.
void write_controller_sections(ReportContext& ctx) {
    const std::string block = configuration_block(ctx.model.geometry, ctx.model.slc_cache);
    std::fputs(block.c_str(), ctx.console);
    if (ctx.report_file != nullptr) {
        ctx.report_file->print(block.c_str());
        ctx.report_file->print("\n");
    }
    write_ata_smart_table(ctx.report_file, ctx.model.attribute_slots);
    const FileResult outcome = write_health_log(ctx.files, ctx.console, ctx.model);
    ctx.model.file(kHealthLogFileName, outcome);
}

}  // namespace

void report_stage(ReportContext& ctx, ReadStage stage) {
    switch (stage) {
        case ReadStage::identity:
            print_identity_lines(ctx);
            break;
        case ReadStage::controller:
            print_controller_lines(ctx);
            break;
        case ReadStage::banks:
            print_bank_lines(ctx);
            break;
        case ReadStage::controller_pages:
            write_controller_sections(ctx);
            break;
    }
}

}  // namespace torvik
