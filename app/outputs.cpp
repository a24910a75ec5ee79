#include "app/outputs.h"

#include <iterator>

#include "app/examined_drive.h"
#include "app/exit_status.h"
#include "app/program_message.h"
#include "report/drive_report.h"
#include "report/health_log.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"

namespace torvik {

namespace {

FileResult write_json(const RunContext& ctx, const DriveFolder& folder, ExaminedDrive& examined) {
    const std::string json = json_report_text(examined.info, examined.model);
    const FileResult result = write_text_file(folder.files, ctx.out, kJsonReportFileName, json);
    if (folder.json_out != nullptr && !write_whole_output(folder.json_out, json.c_str(), ctx.err))
        examined.status = kExitFilesIncomplete;
    return result;
}

FileResult write_html(const RunContext& ctx, const DriveFolder& folder, ExaminedDrive& examined) {
    return write_text_file(folder.files, ctx.out, kHtmlReportFileName,
                           html_report(examined.info, examined.model, examined.figures));
}

// --json=- (or --json -) also asks for the document on standard output; once given, standard
// output carries the document alone, whatever --json follows.
void apply_json(CommandLine& cl, std::string_view value, std::string& error) {
    if (value == "-")
        cl.asked.add(OutputId::json_stdout);
    if (!value.empty() && value != "-")
        error = "--json= takes '-' (standard output) only";
}

// In the order the run writes them. Each option shows in --help where the command line's option
// table places it, or after that table's own options when it places none.
constexpr OutputRow kOutputs[] = {
    {.file = kReportFileName, .file_help = "the report", .named = true},
    {.file = kHealthLogFileName, .file_help = "the health log (supported controllers only)"},
    {.option = "--json",
     .value = OptionValue::attached,
     .synopsis = "--json[=-]",
     .help = "also write the JSON report (docs/json.md); --json=- (or --json -,\n"
             "the lone - then never a drive argument) also writes it to standard\n"
             "output, and nothing else there (the run's lines go to standard\n"
             "error, no closing prompt); with --all one document for the pass;\n"
             "with --list, the list as JSON on standard output",
     .apply = apply_json,
     .file = kJsonReportFileName,
     .file_help = "the run as data (docs/json.md)",
     .needs_nvme_pages = true,
     .named = true,
     .write = write_json},
    {.option = "--json=-", .needs_nvme_pages = true},  // asked for by --json's value
    {.option = "--html",
     .synopsis = "--html",
     .help = "also write the HTML report (one web page)",
     .file = kHtmlReportFileName,
     .file_help = "the report as one web page",
     .needs_nvme_pages = true,
     .named = true,
     .write = write_html},
    {.option = "--history",
     .value = OptionValue::required,
     .synopsis = "--history FILE",
     .help = "append the run to the drive history FILE (docs/history.md; FILE is\n"
             "relative to the current directory) and read the drive's wear trend\n"
             "from its earlier runs",
     .apply = [](CommandLine& cl, std::string_view v, std::string&) { cl.history = v; },
     .needs_nvme_pages = true},
    {.option = "--metrics",
     .value = OptionValue::required,
     .synopsis = "--metrics FILE",
     .help = "also write the run as metrics for Prometheus's node exporter\n"
             "(its textfile collector) to FILE (docs/metrics.md)",
     .apply = [](CommandLine& cl, std::string_view v, std::string&) { cl.metrics_file = v; },
     .needs_nvme_pages = true},
    {.option = "--health",
     .synopsis = "--health",
     .help = "print the health verdict after the run; the exit status tells it",
     .needs_nvme_pages = true},
    {.option = "--all",
     .synopsis = "--all",
     .help = "examine every drive on the USB bus in turn, without prompts, each\n"
             "into its own folder driveN_SERIAL of the output folder (the serial\n"
             "the drive's INQUIRY gives, letters, digits, - and _ only), then\n"
             "print one line per drive; drives on other buses are skipped"},
};

constexpr bool at_row(OutputId id, const char* option) {
    const OutputRow& row = kOutputs[static_cast<std::size_t>(id)];
    return row.option == nullptr || option == nullptr ? row.option == option
                                                      : std::string_view(row.option) == option;
}
static_assert(at_row(OutputId::report, nullptr) && at_row(OutputId::json, "--json") &&
                  at_row(OutputId::json_stdout, "--json=-") && at_row(OutputId::html, "--html") &&
                  at_row(OutputId::history, "--history") &&
                  at_row(OutputId::metrics, "--metrics") && at_row(OutputId::health, "--health") &&
                  at_row(OutputId::all_summary, "--all"),
              "an OutputId is its row's position in the table");
static_assert(std::size(kOutputs) <= 32, "an OutputSet holds 32 rows");

}  // namespace

std::span<const OutputRow> output_rows() {
    return kOutputs;
}

bool output_asked(const RunContext& ctx, std::size_t row) {
    return kOutputs[row].option == nullptr || ctx.asked.has(row);
}

bool nvme_pages_needed(const RunContext& ctx) {
    for (std::size_t i = 0; i < std::size(kOutputs); ++i) {
        if (kOutputs[i].needs_nvme_pages && output_asked(ctx, i))
            return true;
    }
    return false;
}

void write_rendered_outputs(const RunContext& ctx, const DriveFolder& folder,
                            ExaminedDrive& examined) {
    for (std::size_t i = 0; i < std::size(kOutputs); ++i) {
        const OutputRow& row = kOutputs[i];
        if (row.write != nullptr && output_asked(ctx, i))
            examined.model.file(row.file, row.write(ctx, folder, examined));
    }
}

std::vector<const char*> run_file_names() {
    std::vector<const char*> names;
    for (const OutputRow& row : kOutputs) {
        if (row.file != nullptr)
            names.push_back(row.file);
    }
    names.push_back(kManifestFileName);
    for (const CommandInfo& command : kCommands)
        names.push_back(command.dump_name);
    return names;
}

std::vector<std::string> named_files(const RunContext& ctx) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < std::size(kOutputs); ++i) {
        const OutputRow& row = kOutputs[i];
        if (row.named && row.file != nullptr && output_asked(ctx, i) &&
            (row.option != nullptr || !ctx.output_dir.empty()))
            names.emplace_back(row.file);
    }
    return names;
}

}  // namespace torvik
