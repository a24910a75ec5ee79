// Examining one drive: banner, drive choice, USB check, report, closing prompt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/run_context.h"
#include "model/drive_model.h"
#include "model/key_figures.h"
#include "platform/file_store.h"
#include "platform/platform.h"
#include "report/json_report.h"
#include "scsi/bridge_table.h"

namespace torvik {

// Where the verdict block goes: out, unless --brief sends it elsewhere.
inline std::FILE* verdict_stream(const RunContext& ctx) {
    return ctx.verdict_out != nullptr ? ctx.verdict_out : ctx.out;
}

// The version text, as the build states it.
extern const char kProgramVersion[];
inline constexpr const char* kReportFileName = "torvik_usb_pssd_flash_id.txt";

// first_arg is the drive argument (the first argument that is not an option), or nullptr for the
// prompt.
// Returns the process exit status.
int examine_drive(RunContext& ctx, const char* first_arg);

// The run's operating system, asked for once.
OsVersion query_os_version(Platform& platform);
// The first two lines of every run: the program and its version, the operating system.
void print_banner(std::FILE* out, const OsVersion& os);

// A drive on USB whose disk could not be opened: "Error open disk" on the console, and why on
// ctx.err. Call it right after the failed open, which left its error code behind. Returns why,
// as the verdict's reason words it.
std::string report_open_failure(RunContext& ctx, std::int32_t drive);

// Where one drive's files go: the store of the folder, and the folder as messages name it (as
// --output-dir gives it; empty: the current folder).
struct DriveFolder {
    FileStore& files;
    std::string shown;
};

// One examined drive, as the outputs that are written after it (or after every drive of --all)
// read it.
struct ExaminedDrive {
    RunInfo info;  // the run's facts beside the model: version, OS, drive number, simulation
    DriveModel model;
    KeyFigures figures;  // drawn from the model once, for the outputs that record them
    int status = 0;      // the run's own status: 0, or 5 when an output file is missing
};

// Examines the open USB disk of drive number `drive` into the folder: the report file and every
// file asked for, the report's lines on ctx.out, an unwritten file's reason on ctx.err.
ExaminedDrive examine_open_drive(RunContext& ctx, const DriveFolder& folder, DriveHandle disk,
                                 std::int32_t drive, const OsVersion& os);

// The end of a run that examined no drive: with --health, the block that says why there is no
// verdict; with --json=-, a document that says so (drive: the number asked for, when known).
// Returns status, which the run keeps.
int refused(const RunContext& ctx, int status, const char* why,
            std::optional<std::int32_t> drive = std::nullopt);

// The end of one drive's run: the --health block when asked for, and the exit status (the verdict
// with --health, else the run's own status).
int finish_examined_drive(const RunContext& ctx, const ExaminedDrive& examined);

}  // namespace torvik
