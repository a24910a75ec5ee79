// The health log: a second text file with the controller's NVMe SMART page, its extended SMART
// records and the firmware's system and flash status counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/output_file.h"

namespace torvik {

inline constexpr const char* kHealthLogFileName = "torvik_pssd_flash_id_smart.txt";

// Creates the health log, writes its sections in order and closes it. When the file cannot be
// created, says so on console and writes nothing. The pages are the whole smart, smartext and
// sysinfo pages.
FileResult write_health_log(FileStore& files, std::FILE* console, const std::uint8_t* smart,
                            const std::uint8_t* smartext, const std::uint8_t* sysinfo);

// What the sections read. The field tables are in report/health_log_fields.h.

// A kelvin reading in degrees Celsius, negative below 273 K.
std::int32_t kelvin_to_celsius(std::uint16_t kelvin);

// NVMe SMART page (512 bytes): the composite temperature and sensor i (0 to 7), in kelvins; a
// sensor reading 0 is not there.
std::uint16_t composite_temperature(const std::uint8_t* smart);
std::uint16_t temperature_sensor(const std::uint8_t* smart, std::size_t i);

// Whether the NVMe SMART and EXT.SMART sections are written: their page is not all zeros.
bool nvme_smart_section_due(const std::uint8_t* smart);
bool ext_smart_section_due(const std::uint8_t* smartext);

// One extended SMART record (16 bytes, little-endian): #, IntId (the key of the attribute
// description), 4 unused bytes, the 64-bit raw value.
struct ExtSmartRecord {
    std::uint16_t number = 0;
    std::uint16_t int_id = 0;
    std::uint64_t raw = 0;
};

// How many records of the smartext page (4096 bytes) the section shows: at most 128, ending at the
// first record from record 3 on whose bytes 0..3 are all zero.
std::size_t ext_smart_record_count(const std::uint8_t* smartext);
ExtSmartRecord read_ext_smart_record(const std::uint8_t* smartext, std::size_t k);

// The sections. Each writes nothing when log is nullptr.

// The NVMe SMART / Health page (512 bytes); left out when every byte of the page is zero.
void write_nvme_smart_section(OutputFile* log, const std::uint8_t* smart);

// The extended SMART records (4096-byte page); left out when every byte of the page is zero.
void write_ext_smart_section(OutputFile* log, const std::uint8_t* smartext);

// The system and flash status logs from the sysinfo page (4096 bytes); always written.
void write_status_logs(OutputFile* log, const std::uint8_t* sysinfo);

}  // namespace torvik
