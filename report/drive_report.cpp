#include "report/drive_report.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/bytes.h"
#include "common/printable_text.h"
#include "flashid/flash_id.h"
#include "report/ata_smart_table.h"
#include "report/controller_config.h"
#include "report/health_log.h"
#include "report/number_format.h"
#include "report/report_output.h"
#include "report/report_recorder.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"
#include "transport/operations.h"

namespace torvik {

namespace {

constexpr std::uint32_t kLastLba32 = 0xFFFFFFFF;

// The report's working storage, each area sized from the command table. Later sections print
// from pages read earlier, so every page lives until the report returns.
struct ReportPages {
    ReplyArea<CommandId::inquiry> inquiry{};
    ReplyArea<CommandId::read_capacity10> capacity10{};
    ReplyArea<CommandId::read_capacity16> capacity16{};
    ReplyArea<CommandId::read_fid> fid{};
    ReplyArea<CommandId::read_info> info{};
    ControllerPages controller;
    ReplyArea<CommandId::nvme_identify> nvme_identify{};
    ReplyArea<CommandId::nvme_smart_log> nvme_smart{};
    char flash_description[128] = {};
};

struct ReportRun {
    ReportContext& ctx;
    ReportPages& pages;
};

// The report's failure line, with the command's name and the code the command left.
void print_failure_line(ReportRun& run, CommandId id, std::uint32_t error) {
    report_printf(run.ctx, "IOCtl: %s failed 0x%x!\n", command_info(id).failure_name,
                  static_cast<unsigned>(error));
    run.ctx.recorder.failed(id, error);
}

void write_command_dump(ReportRun& run, CommandId id, const std::uint8_t* data) {
    const CommandInfo& command = command_info(id);
    const FileResult outcome =
        write_dump(run.ctx.files, run.ctx.link.console, command.dump_name, data, command.length);
    run.ctx.recorder.file(command.dump_name, outcome);
}

// One query: clear its area, send it, print a failure line when the step's test fails, and dump
// the area either way. `succeeded` is the step's test of the transport's result.
template <CommandId id, typename Send, typename Succeeded>
void run_query_step(ReportRun& run, ReplyArea<id>& area, Send send, Succeeded succeeded) {
    area.fill(0);
    const CommandResult result = send(area.data());
    run.ctx.recorder.sent(id, area.data(), result);
    if (!succeeded(result))
        print_failure_line(run, id, result.error);
    write_command_dump(run, id, area.data());
}

bool done(const CommandResult& result) {
    return result.ok();
}

// A text field of the INQUIRY data: it ends at its first NUL or after its last byte; spaces stay.
void inquiry_text(const std::uint8_t* field, std::size_t size, char* out) {
    std::size_t n = 0;
    while (n < size && field[n] != 0) {
        out[n] = static_cast<char>(field[n]);
        ++n;
    }
    out[n] = '\0';
}

std::uint64_t run_identity_steps(ReportRun& run) {
    ReportPages& p = run.pages;
    DriveLink& link = run.ctx.link;
    run_query_step<CommandId::inquiry>(
        run, p.inquiry,
        [&](std::uint8_t* area) {
            return scsi_inquiry(link, area, command_info(CommandId::inquiry).length);
        },
        done);

    // A block address of zero counts as a failure of READ CAPACITY(10), whatever the call said.
    std::uint32_t last_lba32 = 0;
    run_query_step<CommandId::read_capacity10>(
        run, p.capacity10,
        [&](std::uint8_t* area) {
            const CommandResult result = scsi_read_capacity10(link, area);
            if (result.ok())
                last_lba32 = get_be32(area);
            return result;
        },
        [&](const CommandResult&) { return last_lba32 != 0; });
    std::uint64_t last_lba = last_lba32;
    bool known = last_lba32 != 0;
    if (last_lba32 == kLastLba32) {
        known = false;
        run_query_step<CommandId::read_capacity16>(
            run, p.capacity16, [&](std::uint8_t* area) { return scsi_read_capacity16(link, area); },
            [&](const CommandResult& result) {
                if (result.ok()) {
                    last_lba = get_be64(p.capacity16.data());
                    known = true;
                }
                return result.ok();
            });
    }
    if (known)
        run.ctx.recorder.last_lba = last_lba;
    return last_lba;
}

void print_identity_lines(ReportRun& run, std::uint64_t last_lba) {
    char model[25];
    char revision[5];
    char serial[9];
    inquiry_text(run.pages.inquiry.data() + 8, 24, model);
    inquiry_text(run.pages.inquiry.data() + 32, 4, revision);
    inquiry_text(run.pages.inquiry.data() + 36, 8, serial);
    // The JSON keeps the drive's own bytes (escaped there); the console and the report get them
    // with control bytes shown as '?'.
    run.ctx.recorder.model = model;
    run.ctx.recorder.revision = revision;
    run.ctx.recorder.serial = serial;
    report_printf(run.ctx, "Model   : %s\n", printable_text(model).c_str());
    report_printf(run.ctx, "Rev/sn  : %s/%s\n", printable_text(revision).c_str(),
                  printable_text(serial).c_str());
    // The count is the last LBA itself, in 512-byte sectors.
    const double megabytes = static_cast<double>(last_lba >> 11);
    const double gigabytes = static_cast<double>(last_lba) * 512 * 0.000000001;
    report_printf(run.ctx, "Size    : %s MB [%1.1f GB]\n", whole_number(megabytes, 1).text,
                  gigabytes);
}

void print_flash_id_line(ReportRun& run, const char* label, const std::uint8_t* id) {
    decode_flash_id(id, run.pages.flash_description);
    report_printf(run.ctx, "%s0x%x,0x%x,0x%x,0x%x,0x%x,0x%x,0x%x,0x%x - %s\n", label, id[0], id[1],
                  id[2], id[3], id[4], id[5], id[6], id[7], run.pages.flash_description);
}

// Returns the controller id read from the info page.
template <CommandId id>
CommandResult read_vendor12_page(DriveLink& link, std::uint8_t* area) {
    constexpr CommandInfo command = command_info(id);
    static_assert(command.form == CommandForm::vendor12);
    return vendor_command12(link, area, static_cast<std::uint16_t>(command.code), command.length);
}

std::uint16_t run_controller_steps(ReportRun& run) {
    ReportPages& p = run.pages;
    DriveLink& link = run.ctx.link;
    run_query_step<CommandId::read_fid>(
        run, p.fid,
        [&](std::uint8_t* area) { return read_vendor12_page<CommandId::read_fid>(link, area); },
        done);
    run_query_step<CommandId::read_info>(
        run, p.info,
        [&](std::uint8_t* area) { return read_vendor12_page<CommandId::read_info>(link, area); },
        done);

    report_printf(run.ctx, "Controller: TK%02X%02X (from firmware)\n", p.info[kInfoControllerId],
                  p.info[kInfoControllerId + 1]);
    if (p.fid[0] != 0 || p.fid[1] != 0)
        print_flash_id_line(run, "FlashID: ", p.fid.data());
    return get_be16(p.info.data() + kInfoControllerId);
}

// A controller page. Each is cleared before its read, so a failed read dumps and prints zeros
// rather than whatever memory held.
template <CommandId id>
void read_controller_page(ReportRun& run, ReplyArea<id>& page) {
    constexpr CommandInfo command = command_info(id);
    static_assert(command.form == CommandForm::vendor16);
    run_query_step<id>(
        run, page,
        [&](std::uint8_t* area) {
            return vendor_command16(run.ctx.link, area, command.code, command.length);
        },
        done);
}

void print_bank_lines(ReportRun& run) {
    const std::uint8_t* fidall = run.pages.controller.fidall.data();
    for (unsigned bank = 0; bank < kFlashBanks; ++bank) {
        const std::uint8_t* id = fidall + 8 * bank;
        if (id[0] == 0 && id[1] == 0)
            continue;
        char label[16];
        std::snprintf(label, sizeof label, "Bank%02u: ", bank);
        print_flash_id_line(run, label, id);
    }
}

void read_controller_pages_and_print_configuration(ReportRun& run) {
    ControllerPages& c = run.pages.controller;
    read_controller_page<CommandId::sysinfo>(run, c.sysinfo);
    read_controller_page<CommandId::fidall>(run, c.fidall);
    print_bank_lines(run);
    read_controller_page<CommandId::infoblock>(run, c.infoblock);
    read_controller_page<CommandId::id>(run, c.id);
    read_controller_page<CommandId::smart>(run, c.smart);
    read_controller_page<CommandId::smartext>(run, c.smartext);

    char block[kConfigurationBlockSize];
    format_configuration_block(c, block, sizeof block);
    std::fputs(block, run.ctx.link.console);
    if (run.ctx.report_file != nullptr) {
        run.ctx.report_file->print(block);
        run.ctx.report_file->print("\n");
    }
}

// The ATA-style SMART configuration table, report file only.
void write_ata_smart_table_section(ReportRun& run) {
    write_ata_smart_table(run.ctx.report_file, run.pages.controller.infoblock.data());
}

// The health log file with its four sections; closed before the bridge reads.
void write_health_log_file(ReportRun& run) {
    const ControllerPages& c = run.pages.controller;
    const FileResult outcome = write_health_log(run.ctx.files, run.ctx.link.console, c.smart.data(),
                                                c.smartext.data(), c.sysinfo.data());
    run.ctx.recorder.file(kHealthLogFileName, outcome);
}

// A bridge read has no failure line of the report's own (the transport prints one); a failed
// request is kept for the record all the same.
void record_bridge_read(ReportRun& run, CommandId id, const std::uint8_t* area,
                        const CommandResult& result) {
    run.ctx.recorder.sent(id, area, result);
    if (!result.ok())
        run.ctx.recorder.failed(id, result.error);
}

// The two NVMe pages through the bridge; dumped only when the read counts.
void run_bridge_reads(ReportRun& run) {
    ReportPages& p = run.pages;
    p.nvme_identify.fill(0);
    const IdentifyResult identify = nvme_identify(run.ctx.link, p.nvme_identify.data());
    record_bridge_read(run, CommandId::nvme_identify, p.nvme_identify.data(), identify.request);
    if (identify.identified) {
        write_command_dump(run, CommandId::nvme_identify, p.nvme_identify.data());
    }
    p.nvme_smart.fill(0);
    const CommandResult smart = nvme_smart_log(run.ctx.link, p.nvme_smart.data());
    record_bridge_read(run, CommandId::nvme_smart_log, p.nvme_smart.data(), smart);
    if (smart.ok()) {
        write_command_dump(run, CommandId::nvme_smart_log, p.nvme_smart.data());
    }
}

// The manifest beside the dumps, so that replay can answer every command as this run saw it.
void write_run_manifest(ReportContext& ctx) {
    const std::string text = format_manifest(ctx.recorder.manifest());
    const FileResult outcome = write_text_file(ctx.files, ctx.diagnostics, kManifestFileName, text);
    ctx.recorder.file(kManifestFileName, outcome);
}

void run_report_sequence(ReportContext& ctx) {
    const std::unique_ptr<ReportPages> pages = std::make_unique<ReportPages>();
    ReportRun run{ctx, *pages};

    const std::uint64_t last_lba = run_identity_steps(run);
    print_identity_lines(run, last_lba);
    const std::uint16_t controller = run_controller_steps(run);
    const bool supported = controller_supported(controller);
    ctx.recorder.controller_id = controller;
    ctx.recorder.controller_supported = supported;
    if (!supported)
        return;

    read_controller_pages_and_print_configuration(run);
    write_ata_smart_table_section(run);
    write_health_log_file(run);
    run_bridge_reads(run);
}

}  // namespace

void run_drive_report(ReportContext& ctx) {
    run_report_sequence(ctx);
    write_run_manifest(ctx);
}

}  // namespace torvik
