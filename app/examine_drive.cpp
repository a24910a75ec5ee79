#include "app/examine_drive.h"

#include <cstring>
#include <optional>

#include "app/bridge_choice.h"
#include "app/drive_argument.h"
#include "app/drive_history.h"
#include "app/drive_query.h"
#include "app/drive_reading.h"
#include "app/exit_status.h"
#include "app/failure_messages.h"
#include "app/metrics_file.h"
#include "app/output_dir.h"
#include "app/outputs.h"
#include "app/program_message.h"
#include "app/program_version.h"
#include "app/run_start.h"
#include "model/drive_model.h"
#include "model/drive_reader.h"
#include "platform/drive_path.h"
#include "platform/host_platform.h"
#include "platform/output_file.h"
#include "platform/storage_descriptor.h"
#include "report/drive_report.h"
#include "report/health_block.h"
#include "report/json_report.h"

namespace torvik {

namespace {

constexpr std::size_t kAnswerSize = 128;  // 127 characters and the NUL
constexpr int kKeyPollMs = 50;
constexpr std::intptr_t kShellSuccessAbove = 32;

// Reads one answer line. The first 127 characters count; the rest of a longer line is read and
// dropped so that it can never reach the closing prompt as key presses. False at end of input
// before any character.
bool read_answer(std::FILE* in, char (&answer)[kAnswerSize]) {
    std::size_t n = 0;
    int c = std::fgetc(in);
    if (c == EOF)
        return false;
    for (; c != EOF && c != '\n'; c = std::fgetc(in)) {
        if (n < kAnswerSize - 1)
            answer[n++] = static_cast<char>(c);
    }
    if (n > 0 && answer[n - 1] == '\r')
        --n;  // a line typed on a CRLF console
    answer[n] = '\0';
    return true;
}

void closing_prompt(const RunContext& ctx) {
    std::fputs("\nPress any key to exit or Space to open full text report\n", ctx.out);
    std::fflush(ctx.out);
    KeyState state = KeyState::none;
    while ((state = ctx.platform.wait_key(kKeyPollMs)) == KeyState::none) {
    }
    if (state == KeyState::closed)
        return;  // no console: nothing will ever be typed
    int last = 0;
    while (ctx.platform.wait_key(0) == KeyState::pending)
        last = ctx.platform.read_key();
    if (last != ' ')
        return;
    const std::intptr_t result =
        ctx.platform.shell_open(output_path(ctx.output_dir, kReportFileName).c_str());
    if (result <= kShellSuccessAbove) {
        std::fprintf(ctx.out, "Open report report file error: %u\n", static_cast<unsigned>(result));
    }
}

// The report file with its header lines; not created() when it could not be made.
void open_report_file(const RunContext& ctx, OutputFile& report, std::int32_t drive,
                      const OsVersion& os) {
    if (!report.created()) {
        std::fputs("Create log file error\n", ctx.out);
        return;
    }
    report.printf("v%s\nDrive: %u(%s)\n", kProgramVersion, static_cast<unsigned>(drive), "USB");
    report.printf("OS: %d.%d build %d %s\n", os.major, os.minor, os.build, os.service_pack);
}

// One line on standard error for every output file that is missing or incomplete; true when
// there was one.
bool report_unwritten_files(const RunContext& ctx, FileStore& files, const DriveModel& model) {
    bool any = false;
    for (const FileRecord& file : model.files) {
        if (file.outcome == FileOutcome::written)
            continue;
        print_message(ctx.err, "cannot write %s: %s\n", file.name.c_str(),
                      files.error_text(file.error).c_str());
        any = true;
    }
    return any;
}

RunInfo run_info(const RunContext& ctx, std::int32_t drive, const OsVersion& os) {
    RunInfo info;
    info.tool_version = kProgramVersion;
    info.platform = host_platform_name();
    info.os = os;
    info.drive = drive;
    info.bus = "USB";
    info.simulation = ctx.simulation;
    info.simulation_source = static_cast<std::size_t>(drive) < ctx.simulation_sources.size()
                                 ? ctx.simulation_sources[static_cast<std::size_t>(drive)]
                                 : ctx.simulation_source;
    return info;
}

// The --health block on the console, after the report and before the closing prompt; examined is
// nullptr when the run never reached the drive.
void print_health(const RunContext& ctx, const HealthAssessment& health,
                  const ExaminedDrive* examined) {
    if (ctx.asked.has(OutputId::health)) {
        const std::string block =
            examined != nullptr
                ? health_block(health, &examined->model, &examined->figures, ctx.colour)
                : health_block(health, nullptr, nullptr, ctx.colour);
        std::fputs(block.c_str(), verdict_stream(ctx));
        std::fflush(verdict_stream(ctx));
    }
}

int health_exit_status(HealthVerdict verdict, int run_status) {
    switch (verdict) {
        case HealthVerdict::passed:
            return run_status;
        case HealthVerdict::warning:
            return kExitHealthWarning;
        case HealthVerdict::failed:
            return kExitHealthFailed;
        case HealthVerdict::unknown:
            break;
    }
    return kExitHealthUnknown;
}

// --metrics, for the drive examined (model) or not reached (nullptr): a monitoring system learns
// from the file that the run failed too. True when it was not asked for.
bool write_run_metrics(const RunContext& ctx, std::int32_t drive, const ExaminedDrive* examined) {
    if (!ctx.asked.has(OutputId::metrics) || ctx.open_folder == nullptr)
        return true;
    const DriveModel* model = examined != nullptr ? &examined->model : nullptr;
    const MetricsDrive entry{ctx.platform.drive_names(drive).path, model,
                             model != nullptr ? model->run_time : ctx.platform.run_time(),
                             examined != nullptr ? &examined->figures : nullptr};
    return write_metrics_file(ctx, {&entry, 1}, MetricsRun{});
}

}  // namespace

OsVersion query_os_version(Platform& platform) {
    OsVersion os;
    os.record_size = kOsVersionExSize;
    if (!platform.get_version(os)) {
        os = OsVersion{};
        os.record_size = kOsVersionSize;
        platform.get_version(os);
    }
    os.service_pack[sizeof os.service_pack - 1] = '\0';
    return os;
}

void print_banner(std::FILE* out, const OsVersion& os) {
    std::fprintf(out, "Torvik usb/pssd flash id v%s by tarn\n", kProgramVersion);
    std::fprintf(out, "OS: %d.%d build %d %s\n", os.major, os.minor, os.build, os.service_pack);
}

std::string report_open_failure(const RunContext& ctx, std::int32_t drive) {
    const std::uint32_t error = ctx.platform.last_error();
    std::fputs("Error open disk\n", ctx.out);
    std::fflush(ctx.out);
    explain_open_failure(ctx.platform, ctx.err, drive, error);
    return open_failure_reason(ctx.platform, error, "the disk could not be opened");
}

ExaminedDrive examine_open_drive(const RunContext& ctx, const DriveFolder& folder, DriveHandle disk,
                                 std::int32_t drive, const OsVersion& os, PassState* pass) {
    ExaminedDrive examined;
    // The caller holds the folder's lock: no temporary there belongs to a live run.
    folder.files.remove_leftover_temps(run_file_names(), option_files_in(ctx, folder.shown));
    // The report file is written all along and replaces the previous one only at the end,
    // complete, before the closing prompt can open it.
    OutputFile report(folder.files, kReportFileName, FileKind::text);
    open_report_file(ctx, report, drive, os);
    DriveModel& model = examined.model;
    model.run_time = ctx.platform.run_time();
    model.bridge = run_bridge(ctx, drive);
    ReportContext report_ctx{ctx.out, folder.files, report.created() ? &report : nullptr, model};
    read_drive_with_report(DriveLink{ctx.platform, disk, ctx.out, ctx.err}, report_ctx,
                           run_nvme_reads(ctx, model.bridge));
    std::fflush(ctx.out);
    explain_report(ctx.err, model);
    // The figures once for the run: the trend read from the history may raise only the verdict.
    examined.figures = key_figures(model);
    const HistoryPlan history = read_drive_history(ctx, model, examined.figures, pass);
    examined.figures.verdict = model.health.verdict;
    // --health: the verdict's block ends the report file too, after every line it had before,
    // for whoever reads the file rather than the console.
    if (report.created() && ctx.asked.has(OutputId::health)) {
        report.print("\n");
        report.print(health_block(model.health, &model, &examined.figures, false).c_str());
    }
    model.file(kReportFileName, report.commit());
    examined.info = run_info(ctx, drive, os);
    write_rendered_outputs(ctx, folder, examined);
    folder.files.sync_folder();
    if (report_unwritten_files(ctx, folder.files, model))
        examined.status = kExitFilesIncomplete;
    if (history.failed ||
        (history.append && !append_drive_history(ctx, model, examined.figures, history)))
        examined.status = kExitFilesIncomplete;
    name_asked_files(ctx.err, model, named_files(ctx), folder.shown);
    return examined;
}

void print_not_examined(const RunContext& ctx, const char* why) {
    print_health(ctx, health_not_examined(why), nullptr);
    std::fflush(ctx.out);
}

int refused(const RunContext& ctx, int status, const char* why, std::optional<std::int32_t> drive) {
    print_not_examined(ctx, why);
    // --json=-: a script learns why from the document too (no file is written for the run).
    if (ctx.json_out != nullptr) {
        const std::string json = refused_run_json(kProgramVersion, host_platform_name(), drive,
                                                  health_not_examined(why));
        write_whole_output(ctx.json_out, json.c_str(), ctx.err);
    }
    return status;
}

int finish_examined_drive(const RunContext& ctx, const ExaminedDrive& examined) {
    print_health(ctx, examined.model.health, &examined);
    std::fflush(ctx.out);
    return ctx.asked.has(OutputId::health)
               ? health_exit_status(examined.model.health.verdict, examined.status)
               : examined.status;
}

int examine_drive(const RunContext& ctx, const char* first_arg) {
    const OsVersion os = query_os_version(ctx.platform);
    print_banner(ctx.out, os);

    DriveArgument choice;
    if (ctx.named_drive) {
        if (first_arg != nullptr)
            choice = parse_drive_argument(first_arg);
        choice.drive = *ctx.named_drive;
    } else if (first_arg == nullptr) {
        std::fputs("Use: torvik_usb_pssd_flash_id[b][y]\n", ctx.out);
        std::fputs("     - b for save binary\n", ctx.out);
        std::fputs("     - y disable any requests to user\n\n", ctx.out);
        print_drive_menu(ctx.platform, ctx.out);
        std::fputs("Please select drive number:", ctx.out);
        std::fflush(ctx.out);
        char answer[kAnswerSize] = {};
        if (!read_answer(ctx.in, answer)) {
            std::fputs("\nError: no drive number given (end of input)\n", ctx.out);
            return refused(ctx, kExitBadDrive, "no drive number given");
        }
        choice = parse_drive_argument(answer);
        if (choice.drive < 0 || choice.drive > 99) {
            std::fputs("Error: bad drive number\n", ctx.out);
            return refused(ctx, kExitBadDrive, "bad drive number");
        }
    } else {
        choice = parse_drive_argument(first_arg);
    }

    // Held while this run writes, so that two runs into one folder never mix their files.
    FolderLock lock(ctx.files, ctx.lock_wait_ms);
    if (!lock.held()) {
        print_message(
            ctx.err,
            "another run is still writing into %s after %d s; try again when it "
            "has finished\n",
            ctx.output_dir.empty() ? "the current folder" : ("'" + ctx.output_dir + "'").c_str(),
            ctx.lock_wait_ms / 1000);
        return refused(ctx, kExitUsage, "another run is writing into the output folder",
                       choice.drive);
    }

    if (ctx.json_out != nullptr || ctx.verdict_out != nullptr)
        choice.no_requests = true;  // standard output carries the document, or the verdict, alone

    int status = kExitOk;
    std::optional<ExaminedDrive> examined;
    Refusal refusal;
    const BusQuery bus = query_bus(ctx.platform, choice.drive);
    if (bus.bus_type != kBusTypeUsb) {
        std::fputs("Drive interface is not USB, exit!", ctx.out);
        std::fflush(ctx.out);
        refusal = explain_not_usb(ctx.platform, ctx.err, choice.drive, bus);
        status = refusal.status;
        if (ctx.asked.has(OutputId::health))
            std::fputc('\n', ctx.out);  // the line above has no end of its own; the block follows
    } else {
        std::fprintf(ctx.out, "Drive: %u(%s)\n", static_cast<unsigned>(choice.drive), "USB");
        const std::string not_forced = check_forced_bridge(ctx, choice.drive);
        if (!not_forced.empty())
            return refused(ctx, kExitUsage, not_forced.c_str());
        char path[kDrivePathSize];
        format_drive_path(path, sizeof path, choice.drive);
        const DriveGuard disk(ctx.platform, ctx.platform.open_drive(path, kDiskOpenFlags));
        if (!disk.is_open()) {
            const std::string why = report_open_failure(ctx, choice.drive);
            lock.release();  // the metrics' folder may be this one, whose lock they take
            write_run_metrics(ctx, choice.drive, nullptr);
            return refused(ctx, kExitOpenFailed, why.c_str(), choice.drive);
        }
        examined = examine_open_drive(ctx, DriveFolder{ctx.files, ctx.output_dir, ctx.json_out},
                                      disk.get(), choice.drive, os);
        status = examined->status;
    }

    lock.release();
    if (!write_run_metrics(ctx, choice.drive, examined ? &*examined : nullptr)) {
        if (status == kExitOk)
            status = kExitFilesIncomplete;
        if (examined && examined->status == kExitOk)
            examined->status = kExitFilesIncomplete;
    }
    // The verdict before the closing prompt, where the eye is while the prompt waits.
    const int final_status = examined ? finish_examined_drive(ctx, *examined)
                                      : refused(ctx, status, refusal.reason.c_str(), choice.drive);
    if (!choice.no_requests)
        closing_prompt(ctx);
    return final_status;
}

}  // namespace torvik
