// The run's outputs, one row each: the option that asks for it, its file in the drive's folder,
// whether it needs the bridge's NVMe pages, and the function that renders and writes it once the
// drive is read. The command line's option of a row's name asks for that output (sets the row's
// bit in the run's OutputSet); the run loops over the rows. A new output format is a renderer, a
// row here, and its option's row (its --help text) in the command line's option table.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_context.h"
#include "platform/output_file.h"

namespace torvik {

struct ExaminedDrive;

struct OutputRow {
    const char* option;  // the option that asks for it; nullptr: every run writes it
    // Its file in the drive's folder; nullptr: a stream, or a file of its own path (--history,
    // --metrics).
    const char* file;
    // The bridge's NVMe pages are read for any controller when this output is asked for: it
    // shows the verdict or the NVMe figures.
    bool needs_nvme_pages;
    // The closing "wrote ..." line names the file when it was asked for and written.
    bool named;
    // Renders the output from the examined drive and writes it into the folder, once the drive
    // is read; nullptr for an output the run writes at its own point: as the drive is read (the
    // report, the health log), around the renderers (the history), after the drive (the --health
    // block, the metrics) or after every drive (the summary of --all).
    // A stream it could not write whole makes the drive's status kExitFilesIncomplete.
    FileResult (*write)(const RunContext& ctx, FileStore& files, ExaminedDrive& examined);
};

std::span<const OutputRow> output_rows();

// The row (its bit in an OutputSet) of the output that option asks for; none for another option.
std::optional<std::size_t> output_row(std::string_view option);

// Whether the run asks for the output of that row: always for an output with no option.
bool output_asked(const RunContext& ctx, std::size_t row);

// Whether any output the run asks for needs the bridge's NVMe pages.
bool nvme_pages_needed(const RunContext& ctx);

// Renders and writes every output asked for that has a renderer, in the table's order, each
// file's outcome recorded in the model.
void write_rendered_outputs(const RunContext& ctx, FileStore& files, ExaminedDrive& examined);

// The files the closing line names: those asked for that the table names, the report only when
// --output-dir gave the folder.
std::vector<std::string> named_files(const RunContext& ctx);

}  // namespace torvik
