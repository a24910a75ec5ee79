// The explanations on standard error, beside the console lines that stay as they are: why a
// drive could not be opened or is refused, why the report stopped at the controller gate, and a
// bridge that let no vendor command through. Each says nothing when err is nullptr.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/drive_query.h"
#include "model/drive_model.h"
#include "platform/platform.h"

namespace torvik {

// Permission denied (and what to do), no such drive (and which there are), or the error code.
void explain_open_failure(Platform& platform, std::FILE* err, std::int32_t drive,
                          std::uint32_t error);

// Why a drive could not be opened, as the verdict's reason words it: "permission denied: run as
// root" (what the user can do about it), "there is no such drive", else fallback.
std::string open_failure_reason(Platform& platform, std::uint32_t error, const char* fallback);

// What a refusal at the USB check means: the exit status and the reason the health block gives.
struct Refusal {
    int status = 0;
    std::string reason{};
};

// A drive that "Drive interface is not USB, exit!" refused: no such drive (status 2), on another
// bus or not telling its bus (3), or not opened (4). The explanation starts on a new line of its
// own, as the console line before it has no line end.
Refusal explain_not_usb(Platform& platform, std::FILE* err, std::int32_t drive,
                        const BusQuery& bus);

// After the report: an unsupported or unread controller id, every vendor command failed, the
// bridge's NVMe health missing for want of a tunnel of its own.
void explain_report(std::FILE* err, const DriveModel& model);

// The files the user asked for (names), in one line at the end, each only when it was written;
// output_dir is the folder as given (empty: the current directory).
void name_asked_files(std::FILE* err, const DriveModel& model,
                      const std::vector<std::string>& names, const std::string& output_dir);

}  // namespace torvik
