// The run's outputs, one row each: the option that asks for it with its --help text, its file in
// the drive's folder, whether it needs the bridge's NVMe pages, and the function that renders and
// writes it once the drive is read. The command line parses, shows in --help and completes a
// row's option as one of its own, and the option sets the row's bit in the run's OutputSet; the
// run loops over the rows. A new output format is a renderer and a row here.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "app/run_context.h"
#include "platform/output_file.h"

namespace torvik {

struct DriveFolder;
struct ExaminedDrive;

struct OutputRow {
    // The option that asks for it; nullptr: every run writes it.
    const char* option = nullptr;
    // The option as --help shows it and the command line reads it: how it takes a value, the
    // synopsis, and the text (lines after the first indented). A row with no synopsis is asked
    // for by another option's value (--json=-), not by an option of its own.
    OptionValue value = OptionValue::none;
    const char* synopsis = nullptr;
    const char* help = nullptr;
    // What the option sets besides asking for the output, or the error for a value it refuses;
    // nullptr: a switch that only asks.
    void (*apply)(CommandLine& cl, std::string_view value, std::string& error) = nullptr;
    // Its file in the drive's folder; nullptr: a stream, or a file of its own path (--history,
    // --metrics).
    const char* file = nullptr;
    // The file's line in --help's list of files; nullptr: not listed there.
    const char* file_help = nullptr;
    // The bridge's NVMe pages are read for any controller when this output is asked for: it
    // shows the verdict or the NVMe figures.
    bool needs_nvme_pages = false;
    // The closing "wrote ..." line names the file when it was asked for and written.
    bool named = false;
    // Renders the output from the examined drive and writes it where the drive's outputs go, once
    // the drive is read; nullptr for an output the run writes at its own point: as the drive is
    // read (the report, the health log), around the renderers (the history), after the drive (the
    // --health block, the metrics) or after every drive (the summary of --all). A stream it could
    // not write whole makes the drive's status kExitFilesIncomplete.
    FileResult (*write)(const RunContext& ctx, const DriveFolder& folder,
                        ExaminedDrive& examined) = nullptr;
};

std::span<const OutputRow> output_rows();

// Whether the run asks for the output of that row: always for an output with no option.
bool output_asked(const RunContext& ctx, std::size_t row);

// Whether any output the run asks for needs the bridge's NVMe pages.
bool nvme_pages_needed(const RunContext& ctx);

// Renders and writes every output asked for that has a renderer, in the table's order, each
// file's outcome recorded in the model.
void write_rendered_outputs(const RunContext& ctx, const DriveFolder& folder,
                            ExaminedDrive& examined);

// The name of every file a run may write into a drive's folder: the file of every row that has
// one, the run's manifest and every command's dump. A killed run's temporaries go by these names,
// --history and --metrics may name none of them, and a replay folder holds the same.
std::vector<const char*> run_file_names();

// The files the closing line names: those asked for that the table names, the report only when
// --output-dir gave the folder.
std::vector<std::string> named_files(const RunContext& ctx);

}  // namespace torvik
