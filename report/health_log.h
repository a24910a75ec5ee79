// The health log: a second text file with the controller's NVMe SMART page, its extended SMART
// records and the firmware's system and flash status counters.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace torvik {

inline constexpr const char* kHealthLogFileName = "torvik_pssd_flash_id_smart.txt";

// Creates the health log, writes its sections in order and closes it. When the file cannot be
// created, says so on console and writes nothing. The pages are the whole smart, smartext and
// sysinfo pages.
void write_health_log(Platform& platform, std::FILE* console, const std::uint8_t* smart,
                      const std::uint8_t* smartext, const std::uint8_t* sysinfo);

// The sections. Each writes nothing when log is nullptr.

// The NVMe SMART / Health page (512 bytes); left out when every byte of the page is zero.
void write_nvme_smart_section(std::FILE* log, const std::uint8_t* smart);

// The extended SMART records (4096-byte page); left out when every byte of the page is zero.
void write_ext_smart_section(std::FILE* log, const std::uint8_t* smartext);

// The system and flash status logs from the sysinfo page (4096 bytes); always written.
void write_status_logs(std::FILE* log, const std::uint8_t* sysinfo);

}  // namespace torvik
