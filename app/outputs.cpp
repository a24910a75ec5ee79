#include "app/outputs.h"

#include <iterator>

#include "app/exit_status.h"
#include "app/program_message.h"
#include "report/health_log.h"
#include "report/html_report.h"
#include "report/json_report.h"

namespace torvik {

namespace {

bool always(const RunContext&) {
    return true;
}

FileResult write_json(const RunContext& ctx, FileStore& files, ExaminedDrive& examined) {
    const std::string json = json_report_text(examined.info, examined.model);
    const FileResult result = write_json_report(files, ctx.out, json);
    if (ctx.json_out != nullptr && !write_whole_output(ctx.json_out, json.c_str(), ctx.err))
        examined.status = kExitFilesIncomplete;
    return result;
}

FileResult write_html(const RunContext& ctx, FileStore& files, ExaminedDrive& examined) {
    return write_html_report(files, ctx.out, html_report(examined.info, examined.model));
}

// clang-format off
constexpr OutputRow kOutputs[] = {
    // option     file                 NVMe pages named  asked                                                  renderer
    {nullptr,     kReportFileName,     false,     true,  always,                                                nullptr},
    {nullptr,     kHealthLogFileName,  false,     false, always,                                                nullptr},
    {"--json",    kJsonReportFileName, true,      true,  [](const RunContext& c) { return c.json; },           write_json},
    {"--json=-",  nullptr,             true,      false, [](const RunContext& c) { return c.json_out != nullptr; }, nullptr},
    {"--html",    kHtmlReportFileName, true,      true,  [](const RunContext& c) { return c.html; },           write_html},
    {"--history", nullptr,             true,      false, [](const RunContext& c) { return !c.history.empty(); }, nullptr},
    {"--metrics", nullptr,             true,      false, [](const RunContext& c) { return !c.metrics_file.empty(); }, nullptr},
    {"--health",  nullptr,             true,      false, [](const RunContext& c) { return c.health; },         nullptr},
    {"--all",     nullptr,             false,     false, [](const RunContext& c) { return c.all; },            nullptr},
};
// clang-format on

}  // namespace

std::span<const OutputRow> output_rows() {
    return kOutputs;
}

bool nvme_pages_needed(const RunContext& ctx) {
    for (const OutputRow& row : kOutputs) {
        if (row.needs_nvme_pages && row.asked(ctx))
            return true;
    }
    return false;
}

void write_rendered_outputs(const RunContext& ctx, FileStore& files, ExaminedDrive& examined) {
    for (const OutputRow& row : kOutputs) {
        if (row.write != nullptr && row.asked(ctx))
            examined.model.file(row.file, row.write(ctx, files, examined));
    }
}

std::vector<std::string> named_files(const RunContext& ctx) {
    std::vector<std::string> names;
    for (const OutputRow& row : kOutputs) {
        if (row.named && row.file != nullptr && row.asked(ctx) &&
            (row.option != nullptr || !ctx.output_dir.empty()))
            names.emplace_back(row.file);
    }
    return names;
}

}  // namespace torvik
