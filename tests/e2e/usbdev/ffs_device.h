// A USB mass-storage function in user space through FunctionFS: descriptors, the control
// requests of the Bulk-Only class and the Bulk-Only Transport loop on the two bulk endpoints.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/usbdev/bot.h"

namespace torvik::usbdev {

// The FunctionFS descriptor block: one interface (mass storage, SCSI transparent command set,
// Bulk-Only) with a bulk-in and a bulk-out endpoint, at full and at high speed.
std::vector<std::uint8_t> ffs_descriptors();

// The FunctionFS strings block: no strings, no languages.
std::vector<std::uint8_t> ffs_strings();

struct DeviceOptions {
    std::string ffs_dir;       // where the function's FunctionFS instance is mounted
    std::string ready_file;    // created once the descriptors are written; empty for none
    std::FILE* log = nullptr;  // one line per command and per control event
};

// Writes the descriptors, then serves the control endpoint and runs the Bulk-Only loop until the
// process is ended. Returns only after a setup failure (non-zero).
int run_ffs_device(const DeviceOptions& options, BotSession& session);

}  // namespace torvik::usbdev
