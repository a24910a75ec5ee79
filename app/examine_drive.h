// Examining one drive: banner, drive choice, USB check, report, closing prompt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/examined_drive.h"
#include "app/run_context.h"
#include "platform/platform.h"

namespace torvik {

// first_arg is the drive argument (the first argument that is not an option), or nullptr for the
// prompt.
// Returns the process exit status.
int examine_drive(const RunContext& ctx, const char* first_arg);

// The run's operating system, asked for once.
OsVersion query_os_version(Platform& platform);
// The first two lines of every run: the program and its version, the operating system.
void print_banner(std::FILE* out, const OsVersion& os);

// A drive on USB whose disk could not be opened: "Error open disk" on the console, and why on
// ctx.err. Call it right after the failed open, which left its error code behind. Returns why,
// as the verdict's reason words it.
std::string report_open_failure(const RunContext& ctx, std::int32_t drive);

// Examines the open USB disk of drive number `drive` into the folder: the report file and every
// file asked for, the report's lines on ctx.out, an unwritten file's reason on ctx.err. pass: the
// --all pass the drive belongs to; nullptr for a run of one drive.
ExaminedDrive examine_open_drive(const RunContext& ctx, const DriveFolder& folder, DriveHandle disk,
                                 std::int32_t drive, const OsVersion& os,
                                 PassState* pass = nullptr);

// With --health, the block that says why a drive has no verdict.
void print_not_examined(const RunContext& ctx, const char* why);

// The end of a run that examined no drive: with --health, the block that says why there is no
// verdict; with --json=-, a document that says so (drive: the number asked for, when known).
// Returns status, which the run keeps.
int refused(const RunContext& ctx, int status, const char* why,
            std::optional<std::int32_t> drive = std::nullopt);

// The end of one drive's run: the --health block when asked for, and the exit status (the verdict
// with --health, else the run's own status).
int finish_examined_drive(const RunContext& ctx, const ExaminedDrive& examined);

}  // namespace torvik
