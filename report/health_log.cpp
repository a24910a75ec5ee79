#include "report/health_log.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "common/bytes.h"
#include "report/attribute_table.h"
#include "report/health_log_fields.h"
#include "report/number_format.h"
#include "scsi/commands.h"

namespace torvik {

namespace {

constexpr std::uint32_t kSecondsPerHour = 3600;
constexpr double kMegabytesPerDataUnit = 0.48828125;  // 1000 * 512 / 2^20

// The low 96 bits of a 128-bit NVMe counter, as three little-endian words summed in double
// precision from the lowest word up.
double count96(const std::uint8_t* p) {
    return static_cast<double>(get_le32(p)) + static_cast<double>(get_le32(p + 4)) * 4294967296.0 +
           static_cast<double>(get_le32(p + 8)) * 18446744073709551616.0;
}

// A kelvin reading in degrees Celsius as the log shows it: a reading below 273 gives a negative
// difference, which appears as its unsigned 32-bit value.
unsigned celsius(std::uint16_t kelvin) {
    return static_cast<std::uint32_t>(kelvin_to_celsius(kelvin));
}

void write_field_line(OutputFile* log, const std::uint8_t* page, const FieldLine& line) {
    const std::uint8_t* p = page + line.offset;
    switch (line.field) {
        case Field::u8:
            log->printf("%s: %u\n", line.label, static_cast<unsigned>(p[0]));
            break;
        case Field::u16:
            log->printf("%s: %u\n", line.label, static_cast<unsigned>(get_le16(p)));
            break;
        case Field::u32:
        case Field::count32:
            log->printf("%s: %u\n", line.label, static_cast<unsigned>(get_le32(p)));
            break;
        case Field::s64: {
            const double value = static_cast<double>(static_cast<std::int64_t>(get_le64(p)));
            log->printf("%s: %s\n", line.label, whole_number(value, 1).text);
            break;
        }
        case Field::seconds: {
            const std::uint32_t seconds = get_le32(p);
            log->printf("%s: %u(%uh)\n", line.label, static_cast<unsigned>(seconds),
                        static_cast<unsigned>(seconds / kSecondsPerHour));
            break;
        }
        case Field::data_units:
            log->printf("%s: %s\n", line.label,
                        whole_number(count96(p) * kMegabytesPerDataUnit, 1).text);
            break;
        case Field::count96:
            log->printf("%s: %s\n", line.label, whole_number(count96(p), 1).text);
            break;
    }
}

template <std::size_t N>
void write_field_lines(OutputFile* log, const std::uint8_t* page, const FieldLine (&lines)[N]) {
    for (const FieldLine& line : lines)
        write_field_line(log, page, line);
}

bool any_non_zero(const std::uint8_t* page, std::size_t size) {
    return std::any_of(page, page + size, [](std::uint8_t b) { return b != 0; });
}

// Extended SMART page: up to 128 records of 16 bytes from byte 0 (little-endian).
//
//   offset  width  field
//   0..1    16     #       record number
//   2..3    16     IntId   internal attribute id, the key of the description
//   4..7    32     (not shown)
//   8..15   64     raw value
//
// Bytes 0..3 all zero mark the end of the records, but only from record 3 on.
constexpr std::size_t kExtRecordSize = 16;
constexpr std::size_t kExtRecordCount = 128;
constexpr std::size_t kExtFirstEndMark = 3;

void write_critical_warning(OutputFile* log, std::uint8_t warning) {
    log->printf("0 Critical Warning\t\t\t\t: %u", static_cast<unsigned>(warning));
    if (warning != 0) {
        log->print(" (");
        const char* separator = "";
        for (std::size_t bit = 0; bit < std::size(kCriticalWarnings); ++bit) {
            if ((warning >> bit & 1) == 0)
                continue;
            log->printf("%s%s", separator, kCriticalWarnings[bit]);
            separator = "; ";
        }
        log->print(")");
    }
    log->print("\n");
}

void write_temperature_sensors(OutputFile* log, const std::uint8_t* smart) {
    for (unsigned i = 0; i < kSensorCount; ++i) {
        const std::uint16_t kelvin = temperature_sensor(smart, i);
        if (kelvin == 0)
            continue;  // no such sensor
        if (kelvin < kLowestKelvinReading) {
            log->printf("%u Temperature Sensor %u\t*\t\t\t: %u\n", kFirstSensorLine + i, i,
                        static_cast<unsigned>(kelvin));
        } else {
            log->printf("%u Temperature Sensor %u\t\t\t\t: %u\n", kFirstSensorLine + i, i,
                        celsius(kelvin));
        }
    }
}

}  // namespace

std::int32_t kelvin_to_celsius(std::uint16_t kelvin) {
    return static_cast<std::int32_t>(kelvin) - kKelvinOffset;
}

std::uint16_t composite_temperature(const std::uint8_t* smart) {
    return get_le16(smart + kCompositeTemperatureOffset);
}

std::uint16_t temperature_sensor(const std::uint8_t* smart, std::size_t i) {
    return get_le16(smart + kSensorOffset + 2 * i);
}

bool nvme_smart_section_due(const std::uint8_t* smart) {
    return any_non_zero(smart, command_info(CommandId::smart).length);
}

bool ext_smart_section_due(const std::uint8_t* smartext) {
    return any_non_zero(smartext, command_info(CommandId::smartext).length);
}

std::size_t ext_smart_record_count(const std::uint8_t* smartext) {
    std::size_t k = 0;
    while (k < kExtRecordCount &&
           (k < kExtFirstEndMark || get_le32(smartext + kExtRecordSize * k) != 0)) {
        ++k;
    }
    return k;
}

ExtSmartRecord read_ext_smart_record(const std::uint8_t* smartext, std::size_t k) {
    const std::uint8_t* record = smartext + kExtRecordSize * k;
    return ExtSmartRecord{get_le16(record), get_le16(record + 2), get_le64(record + 8)};
}

void write_nvme_smart_section(OutputFile* log, const std::uint8_t* smart) {
    if (log == nullptr || !nvme_smart_section_due(smart))
        return;
    log->print("-------- NVME SMART --------\n");
    write_critical_warning(log, smart[kCriticalWarningOffset]);
    log->printf("1 Composite Temperature\t\t\t\t: %u\n", celsius(composite_temperature(smart)));
    write_field_lines(log, smart, kNvmeLinesBeforeSensors);
    write_temperature_sensors(log, smart);
    write_field_lines(log, smart, kNvmeLinesAfterSensors);
}

void write_ext_smart_section(OutputFile* log, const std::uint8_t* smartext) {
    if (log == nullptr || !ext_smart_section_due(smartext))
        return;
    log->print("-------- EXT.SMART -------- (possible incorrect)\n");
    log->print(" # IntId     HexRaw        DecRaw       Description\n");
    const std::size_t count = ext_smart_record_count(smartext);
    for (std::size_t k = 0; k < count; ++k) {
        const ExtSmartRecord r = read_ext_smart_record(smartext, k);
        // HexRaw: the low 48 bits, lowest word first; DecRaw: both 32-bit halves, in double.
        const double raw =
            static_cast<double>(static_cast<std::uint32_t>(r.raw)) +
            static_cast<double>(static_cast<std::uint32_t>(r.raw >> 32)) * 4294967296.0;
        log->printf("%2u %04x: %04x_%04x_%04x %s", static_cast<unsigned>(r.number),
                    static_cast<unsigned>(r.int_id), static_cast<unsigned>(r.raw & 0xFFFF),
                    static_cast<unsigned>(r.raw >> 16 & 0xFFFF),
                    static_cast<unsigned>(r.raw >> 32 & 0xFFFF), whole_number(raw, 13).text);
        if (const char* text = find_attribute_description(r.int_id)) {
            log->printf(" - %s", text);
        }
        log->print("\n");
    }
}

void write_status_logs(OutputFile* log, const std::uint8_t* sysinfo) {
    if (log == nullptr)
        return;
    log->print("-------- SYSTEM STATUS LOG -------- (possible incorrect)\n");
    write_field_lines(log, sysinfo, kSystemStatusLines);
    log->print("-------- FLASH STATUS LOG -------- (possible incorrect)\n");
    write_field_lines(log, sysinfo, kFlashStatusLines);
}

FileResult write_health_log(FileStore& files, std::FILE* console, const std::uint8_t* smart,
                            const std::uint8_t* smartext, const std::uint8_t* sysinfo) {
    OutputFile log(files, kHealthLogFileName, FileKind::text);
    if (!log.created()) {
        std::fputs("Create Smart Log File Error\n", console);
        return log.commit();
    }
    write_nvme_smart_section(&log, smart);
    write_ext_smart_section(&log, smartext);
    write_status_logs(&log, sysinfo);
    // The log itself says nothing of a failed write; only the result tells.
    return log.commit();
}

}  // namespace torvik
