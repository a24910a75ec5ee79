// The health log: a second text file with the controller's NVMe SMART page, its extended SMART
// records and the firmware's system and flash status counters, drawn from the drive model.
#pragma once

#include <cstdio>

#include "model/controller_pages.h"
#include "model/nvme_pages.h"
#include "platform/output_file.h"

namespace torvik {

struct DriveModel;

inline constexpr const char* kHealthLogFileName = "torvik_pssd_flash_id_smart.txt";

// Creates the health log, writes its sections in order and closes it. When the file cannot be
// created, says so on console and writes nothing.
FileResult write_health_log(FileStore& files, std::FILE* console, const DriveModel& model);

// The sections. Each writes nothing when log is nullptr.

// The NVMe SMART / Health page; left out when every byte of the page is zero.
void write_nvme_smart_section(OutputFile* log, const NvmeSmartHealth& smart);

// The extended SMART records; left out when every byte of the page is zero.
void write_ext_smart_section(OutputFile* log, const ExtendedSmart& ext);

// The system and flash status logs of the sysinfo page; always written.
void write_status_logs(OutputFile* log, const StatusCounters& status);

}  // namespace torvik
