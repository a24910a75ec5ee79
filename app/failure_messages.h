// The explanations on standard error, beside the console lines that stay as they are: why a
// drive could not be opened or is refused, why the report stopped at the controller gate, and a
// bridge that let no vendor command through. Each says nothing when err is nullptr.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/drive_listing.h"
#include "model/drive_model.h"
#include "platform/platform.h"

namespace torvik {

// Permission denied (and what to do), no such drive (and which there are), or the error code.
void explain_open_failure(Platform& platform, std::FILE* err, std::int32_t drive,
                          std::uint32_t error);

// A drive that "Drive interface is not USB, exit!" refused: not opened, no answer, or its bus.
void explain_not_usb(Platform& platform, std::FILE* err, std::int32_t drive, const BusQuery& bus);

// After the report: an unsupported or unread controller id, every vendor command failed.
void explain_report(std::FILE* err, const DriveModel& recorder);

}  // namespace torvik
