#include "report/drive_report.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/bytes.h"
#include "common/printable_text.h"
#include "flashid/flash_id.h"
#include "report/ata_smart_table.h"
#include "report/controller_config.h"
#include "report/health_log.h"
#include "report/number_format.h"
#include "report/report_output.h"
#include "report/report_recorder.h"
#include "transport/commands.h"
#include "transport/operations.h"

namespace torvik {

namespace {

constexpr std::uint32_t kLastLba32 = 0xFFFFFFFF;

// Controller id: info page bytes 382 (high) and 383 (low).
constexpr std::size_t kInfoControllerId = 382;
constexpr std::uint16_t kSupportedControllers[] = {0x5017, 0x5018, 0x5021};

// The report's working storage. Later sections print from pages read earlier, so every page
// lives until the report returns.
struct ReportPages {
    std::array<std::uint8_t, 64> inquiry{};
    std::array<std::uint8_t, 8> capacity10{};
    std::array<std::uint8_t, 32> capacity16{};
    std::array<std::uint8_t, 512> fid{};
    std::array<std::uint8_t, 528> info{};
    ControllerPages controller;
    std::array<std::uint8_t, 4096> nvme_identify{};
    std::array<std::uint8_t, 512> nvme_smart{};
    char flash_description[128] = {};
};

struct ReportRun {
    ReportContext& ctx;
    DriveLink link;
    const char* command_name = "";
    ReportPages& pages;
};

void failure_line(ReportRun& run, CommandId id) {
    const std::uint32_t error = run.ctx.platform.last_error();
    report_printf(run.ctx, "IOCtl: %s failed 0x%x!\n", run.command_name,
                  static_cast<unsigned>(error));
    if (run.ctx.recorder != nullptr)
        run.ctx.recorder->failed(id, error, run.command_name);
}

void record_reply(ReportRun& run, CommandId id, const std::uint8_t* area) {
    if (run.ctx.recorder != nullptr)
        run.ctx.recorder->sent(id, area);
}

void dump(ReportRun& run, CommandId id, const std::uint8_t* data) {
    const CommandInfo& command = command_info(id);
    const FileResult outcome =
        write_dump(run.ctx.platform, run.ctx.console, command.dump_name, data, command.length);
    if (run.ctx.recorder != nullptr)
        run.ctx.recorder->file(command.dump_name, outcome);
}

// One query: name it, clear its area, send it, report a failure, and dump the area either way.
template <typename Send>
void query_step(ReportRun& run, const char* name, CommandId id, std::uint8_t* area,
                std::size_t area_size, Send send) {
    run.command_name = name;
    std::memset(area, 0, area_size);
    const bool ok = send();
    record_reply(run, id, area);
    if (!ok)
        failure_line(run, id);
    dump(run, id, area);
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

std::uint64_t identity_steps(ReportRun& run) {
    ReportPages& p = run.pages;
    query_step(run, "Inquiry", CommandId::inquiry, p.inquiry.data(), p.inquiry.size(), [&] {
        return scsi_inquiry(run.link, p.inquiry.data(), command_info(CommandId::inquiry).length) !=
               0;
    });

    std::uint32_t last_lba32 = 0;
    query_step(run, "ReadCapacity", CommandId::read_capacity10, p.capacity10.data(),
               p.capacity10.size(), [&] {
                   last_lba32 = scsi_read_capacity10(run.link, p.capacity10.data());
                   return last_lba32 != 0;
               });
    std::uint64_t last_lba = last_lba32;
    bool known = last_lba32 != 0;  // zero is READ CAPACITY(10)'s failure
    if (last_lba32 == kLastLba32) {
        known = false;
        query_step(run, "ReadCapacity16", CommandId::read_capacity16, p.capacity16.data(),
                   p.capacity16.size(), [&] {
                       if (scsi_read_capacity16(run.link, p.capacity16.data()) == 0)
                           return false;
                       last_lba = get_be64(p.capacity16.data());
                       known = true;
                       return true;
                   });
    }
    if (run.ctx.recorder != nullptr && known)
        run.ctx.recorder->last_lba = last_lba;
    return last_lba;
}

void identity_lines(ReportRun& run, std::uint64_t last_lba) {
    char model[25];
    char revision[5];
    char serial[9];
    inquiry_text(run.pages.inquiry.data() + 8, 24, model);
    inquiry_text(run.pages.inquiry.data() + 32, 4, revision);
    inquiry_text(run.pages.inquiry.data() + 36, 8, serial);
    // The JSON keeps the drive's own bytes (escaped there); the console and the report get them
    // with control bytes shown as '?'.
    if (ReportRecorder* recorder = run.ctx.recorder) {
        recorder->model = model;
        recorder->revision = revision;
        recorder->serial = serial;
    }
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
std::uint16_t controller_steps(ReportRun& run) {
    ReportPages& p = run.pages;
    query_step(run, "ReadFID", CommandId::read_fid, p.fid.data(), p.fid.size(), [&] {
        return vendor_command12(run.link, p.fid.data(),
                                static_cast<std::uint16_t>(command_info(CommandId::read_fid).code),
                                command_info(CommandId::read_fid).length, Direction::data_in) != 0;
    });
    query_step(run, "ReadInfo", CommandId::read_info, p.info.data(), p.info.size(), [&] {
        return vendor_command12(run.link, p.info.data(),
                                static_cast<std::uint16_t>(command_info(CommandId::read_info).code),
                                command_info(CommandId::read_info).length, Direction::data_in) != 0;
    });

    report_printf(run.ctx, "Controller: TK%02X%02X (from firmware)\n", p.info[kInfoControllerId],
                  p.info[kInfoControllerId + 1]);
    if (p.fid[0] != 0 || p.fid[1] != 0)
        print_flash_id_line(run, "FlashID: ", p.fid.data());
    return get_be16(p.info.data() + kInfoControllerId);
}

bool controller_supported(std::uint16_t id) {
    for (std::uint16_t supported : kSupportedControllers) {
        if (id == supported)
            return true;
    }
    return false;
}

// The six controller pages keep the command name "ReadInfo". Each is cleared before its read,
// so a failed read dumps and prints zeros rather than whatever memory held.
void read_controller_page(ReportRun& run, CommandId id, std::uint8_t* page) {
    const CommandInfo& command = command_info(id);
    std::memset(page, 0, command.length);
    const bool ok =
        vendor_command16(run.link, page, command.code, command.length, Direction::data_in) != 0;
    record_reply(run, id, page);
    if (!ok)
        failure_line(run, id);
    dump(run, id, page);
}

void bank_lines(ReportRun& run) {
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

void controller_pages_and_configuration(ReportRun& run) {
    ControllerPages& c = run.pages.controller;
    read_controller_page(run, CommandId::sysinfo, c.sysinfo.data());
    read_controller_page(run, CommandId::fidall, c.fidall.data());
    bank_lines(run);
    read_controller_page(run, CommandId::infoblock, c.infoblock.data());
    read_controller_page(run, CommandId::id, c.id.data());
    read_controller_page(run, CommandId::smart, c.smart.data());
    read_controller_page(run, CommandId::smartext, c.smartext.data());

    char block[kConfigurationBlockSize];
    format_configuration_block(c, block, sizeof block);
    std::fputs(block, run.ctx.console);
    if (run.ctx.report_file != nullptr) {
        run.ctx.report_file->print(block);
        run.ctx.report_file->print("\n");
    }
}

// The ATA-style SMART configuration table, report file only.
void ata_smart_table(ReportRun& run) {
    write_ata_smart_table(run.ctx.report_file, run.pages.controller.infoblock.data());
}

// The health log file with its four sections; closed before the bridge reads.
void health_log(ReportRun& run) {
    const ControllerPages& c = run.pages.controller;
    const FileResult outcome = write_health_log(run.ctx.platform, run.ctx.console, c.smart.data(),
                                                c.smartext.data(), c.sysinfo.data());
    if (run.ctx.recorder != nullptr)
        run.ctx.recorder->file(kHealthLogFileName, outcome);
}

// A bridge read has no failure line of its own (the transport prints one); it is kept for the
// record all the same.
void record_bridge_read(ReportRun& run, CommandId id, const std::uint8_t* area, bool failed) {
    ReportRecorder* recorder = run.ctx.recorder;
    if (recorder == nullptr)
        return;
    recorder->sent(id, area);
    if (failed)
        recorder->failed(id, run.ctx.platform.last_error(), nullptr);
}

// The two NVMe pages through the bridge; dumped only when the read succeeded.
void bridge_reads(ReportRun& run) {
    ReportPages& p = run.pages;
    p.nvme_identify.fill(0);
    bool identify_failed = false;
    const bool identified = nvme_identify(run.link, p.nvme_identify.data(), &identify_failed) != 0;
    record_bridge_read(run, CommandId::nvme_identify, p.nvme_identify.data(), identify_failed);
    if (identified) {
        dump(run, CommandId::nvme_identify, p.nvme_identify.data());
    }
    p.nvme_smart.fill(0);
    const bool smart_read = nvme_smart_log(run.link, p.nvme_smart.data()) != 0;
    record_bridge_read(run, CommandId::nvme_smart_log, p.nvme_smart.data(), !smart_read);
    if (smart_read) {
        dump(run, CommandId::nvme_smart_log, p.nvme_smart.data());
    }
}

}  // namespace

void drive_report(ReportContext& ctx) {
    const std::unique_ptr<ReportPages> pages = std::make_unique<ReportPages>();
    ReportRun run{ctx, DriveLink{ctx.platform, ctx.disk, ctx.console}, "", *pages};

    const std::uint64_t last_lba = identity_steps(run);
    identity_lines(run, last_lba);
    const std::uint16_t controller = controller_steps(run);
    const bool supported = controller_supported(controller);
    if (ctx.recorder != nullptr) {
        ctx.recorder->controller_id = controller;
        ctx.recorder->controller_supported = supported;
    }
    if (!supported)
        return;

    controller_pages_and_configuration(run);
    ata_smart_table(run);
    health_log(run);
    bridge_reads(run);
}

}  // namespace torvik
