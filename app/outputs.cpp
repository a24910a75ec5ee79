#include "app/outputs.h"

#include <iterator>

#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/program_message.h"
#include "report/health_log.h"
#include "report/html_report.h"
#include "report/json_report.h"

namespace torvik {

namespace {

FileResult write_json(const RunContext& ctx, FileStore& files, ExaminedDrive& examined) {
    const std::string json = json_report_text(examined.info, examined.model);
    const FileResult result = write_json_report(files, ctx.out, json);
    if (ctx.json_out != nullptr && !write_whole_output(ctx.json_out, json.c_str(), ctx.err))
        examined.status = kExitFilesIncomplete;
    return result;
}

FileResult write_html(const RunContext& ctx, FileStore& files, ExaminedDrive& examined) {
    return write_html_report(files, ctx.out,
                             html_report(examined.info, examined.model, examined.figures));
}

// clang-format off
constexpr OutputRow kOutputs[] = {
    // option     file                 NVMe pages named  renderer
    {nullptr,     kReportFileName,     false,     true,  nullptr},
    {nullptr,     kHealthLogFileName,  false,     false, nullptr},
    {"--json",    kJsonReportFileName, true,      true,  write_json},
    {"--json=-",  nullptr,             true,      false, nullptr},
    {"--html",    kHtmlReportFileName, true,      true,  write_html},
    {"--history", nullptr,             true,      false, nullptr},
    {"--metrics", nullptr,             true,      false, nullptr},
    {"--health",  nullptr,             true,      false, nullptr},
    {"--all",     nullptr,             false,     false, nullptr},
};
// clang-format on

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

std::optional<std::size_t> output_row(std::string_view option) {
    for (std::size_t i = 0; i < std::size(kOutputs); ++i) {
        if (kOutputs[i].option != nullptr && option == kOutputs[i].option)
            return i;
    }
    return std::nullopt;
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

void write_rendered_outputs(const RunContext& ctx, FileStore& files, ExaminedDrive& examined) {
    for (std::size_t i = 0; i < std::size(kOutputs); ++i) {
        const OutputRow& row = kOutputs[i];
        if (row.write != nullptr && output_asked(ctx, i))
            examined.model.file(row.file, row.write(ctx, files, examined));
    }
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
