#include "report/health_log.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "common/bytes.h"
#include "report/attribute_table.h"
#include "report/number_format.h"
#include "transport/commands.h"

namespace torvik {

namespace {

// How a page field is read and shown. Every such line reads "<label>: <value>\n".
enum class Field : std::uint8_t {
    u8,          // unsigned, "%u"
    u16,         // unsigned little-endian, "%u"
    u32,         // unsigned little-endian, "%u"
    s64,         // two's complement little-endian, as a whole number
    seconds,     // u32 count of seconds, followed by the whole hours in parentheses
    data_units,  // 96-bit NVMe count of thousands of 512-byte units, shown in units of 2^20 bytes
    count96,     // 96-bit NVMe count
};

struct FieldLine {
    std::uint16_t offset;
    Field field;
    const char* label;
};

constexpr std::uint32_t kSecondsPerHour = 3600;
constexpr double kMegabytesPerDataUnit = 0.48828125;  // 1000 * 512 / 2^20
constexpr std::int32_t kKelvinOffset = 273;

// The low 96 bits of a 128-bit NVMe counter, as three little-endian words summed in double
// precision from the lowest word up.
double count96(const std::uint8_t* p) {
    return static_cast<double>(get_le32(p)) + static_cast<double>(get_le32(p + 4)) * 4294967296.0 +
           static_cast<double>(get_le32(p + 8)) * 18446744073709551616.0;
}

// A kelvin reading in degrees Celsius. A reading below 273 gives a negative difference, which the
// log shows as its unsigned 32-bit value.
unsigned celsius(std::uint16_t kelvin) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(kelvin) - kKelvinOffset);
}

void write_field_line(std::FILE* log, const std::uint8_t* page, const FieldLine& line) {
    const std::uint8_t* p = page + line.offset;
    switch (line.field) {
        case Field::u8:
            std::fprintf(log, "%s: %u\n", line.label, static_cast<unsigned>(p[0]));
            break;
        case Field::u16:
            std::fprintf(log, "%s: %u\n", line.label, static_cast<unsigned>(get_le16(p)));
            break;
        case Field::u32:
            std::fprintf(log, "%s: %u\n", line.label, static_cast<unsigned>(get_le32(p)));
            break;
        case Field::s64: {
            const double value = static_cast<double>(static_cast<std::int64_t>(get_le64(p)));
            std::fprintf(log, "%s: %s\n", line.label, whole_number(value, 1).text);
            break;
        }
        case Field::seconds: {
            const std::uint32_t seconds = get_le32(p);
            std::fprintf(log, "%s: %u(%uh)\n", line.label, static_cast<unsigned>(seconds),
                         static_cast<unsigned>(seconds / kSecondsPerHour));
            break;
        }
        case Field::data_units:
            std::fprintf(log, "%s: %s\n", line.label,
                         whole_number(count96(p) * kMegabytesPerDataUnit, 1).text);
            break;
        case Field::count96:
            std::fprintf(log, "%s: %s\n", line.label, whole_number(count96(p), 1).text);
            break;
    }
}

template <std::size_t N>
void write_field_lines(std::FILE* log, const std::uint8_t* page, const FieldLine (&lines)[N]) {
    for (const FieldLine& line : lines)
        write_field_line(log, page, line);
}

bool any_non_zero(const std::uint8_t* page, std::size_t size) {
    return std::any_of(page, page + size, [](std::uint8_t b) { return b != 0; });
}

// NVMe SMART / Health page (little-endian). Bytes 0..2 (critical warning, composite temperature)
// and the eight temperature sensors at 0xC8 have lines of their own; of each 128-bit counter only
// the low 96 bits (lines 5..8) or the low 32 bits (lines 9..14) are read.
// Columns: offset, field, label.
constexpr FieldLine kNvmeLinesBeforeSensors[] = {
    {0x03, Field::u8, "2 Available Spare\t\t\t\t"},
    {0x04, Field::u8, "3 Available Spare Threshold\t\t\t"},
    {0x05, Field::u8, "4 Percentage Used\t\t\t\t"},
    {0x20, Field::data_units, "5 Data Units Read,MB\t\t\t\t"},
    {0x30, Field::data_units, "6 Data Units Written,MB\t\t\t\t"},
    {0x40, Field::count96, "7 Host Read Commands\t\t\t\t"},
    {0x50, Field::count96, "8 Host Write Commands\t\t\t\t"},
    {0x60, Field::u32, "9 Controller Busy Time\t\t\t\t"},
    {0x70, Field::u32, "10 Power Cycles\t\t\t\t\t"},
    {0x80, Field::u32, "11 Power On Hours\t\t\t\t"},
    {0x90, Field::u32, "12 Unsafe Shutdowns\t\t\t\t"},
    {0xA0, Field::u32, "13 Media and Data Integrity Errors\t\t"},
    {0xB0, Field::u32, "14 Number of Error Information Log Entries\t"},
    {0xC0, Field::u32, "15 Warning Composite Temperature Time\t\t"},
    {0xC4, Field::u32, "16 Critical Composite Temperature Time\t\t"},
};

constexpr FieldLine kNvmeLinesAfterSensors[] = {
    {0xD8, Field::u32, "25 Thermal Management Temp 1 Transition Count\t"},
    {0xDC, Field::u32, "26 Thermal Management Temp 2 Transition Count\t"},
    {0xE0, Field::u32, "27 Total Time For Thermal Management Temp 1\t"},
    {0xE4, Field::u32, "28 Total Time For Thermal Management Temp 2\t"},
};

// Critical warning texts, by bit of byte 0; bits 5..7 have no text.
constexpr const char* kCriticalWarnings[] = {
    "spare below threshold",             // bit 0
    "temperature outside threshold",     // bit 1
    "significant media/internal error",  // bit 2
    "read only mode",                    // bit 3
    "volatile memory failed",            // bit 4
};

constexpr std::size_t kSensorOffset = 0xC8;
constexpr std::size_t kSensorCount = 8;
constexpr unsigned kFirstSensorLine = 17;
constexpr std::uint16_t kLowestKelvinReading = 200;  // below it a sensor is shown raw

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

// Sysinfo page. Columns: offset, field, label.
constexpr FieldLine kSystemStatusLines[] = {
    {0x109, Field::u8, "disk init fail\t\t\t\t"},
    {0x10A, Field::u16, "disk hw status\t\t\t\t"},
    {0x10C, Field::u8, "write protect\t\t\t\t"},
    {0x10D, Field::u8, "ftl err path\t\t\t\t"},
    {0x10E, Field::u16, "hardware initial error\t\t\t"},
    {0x110, Field::u32, "fw code update count\t\t\t"},
    {0x114, Field::u8, "security state\t\t\t\t"},
    {0x115, Field::u8, "gpio\t\t\t\t\t"},
    {0x120, Field::u32, "power cycle count\t\t\t"},
    {0x124, Field::u32, "abnormal power cycle count\t\t"},
    {0x128, Field::u32, "fw internal power cycle count\t\t"},
    {0x12C, Field::seconds, "power on time\t\t\t\t"},
    {0x134, Field::u32, "flash ip reset count\t\t\t"},
    {0x138, Field::u32, "host e3d err count\t\t\t"},
    {0x13C, Field::u32, "flash e3d err count\t\t\t"},
    {0x140, Field::u32, "ddr ecc err count\t\t\t"},
    {0x144, Field::u32, "dbuf ecc err count\t\t\t"},
    {0x148, Field::u32, "gc table trigger count\t\t\t"},
    {0x14C, Field::u32, "d1 gc data trigger count\t\t"},
    {0x150, Field::u32, "d2 d3 gc data trigger count\t\t"},
    {0x154, Field::u32, "dynamic d1 gc data trigger count\t"},
    {0x158, Field::u8, "d1 gc block rate of data\t\t"},
    {0x159, Field::u8, "d2 d3 gc block rate of data\t\t"},
    {0x15A, Field::u8, "dynamic d1 gc block rate of data\t"},
    {0x15B, Field::u8, "vendor aes set key status\t\t"},
    {0x15C, Field::u8, "axi err slave\t\t\t\t"},
    {0x15D, Field::u8, "axi err zone\t\t\t\t"},
    {0x164, Field::u32, "d1 wear leveling check count\t\t"},
    {0x168, Field::u32, "d1 wear leveling trigger count\t\t"},
    {0x16C, Field::u8, "d1 wear leveling block rate\t\t"},
    {0x170, Field::u32, "d2 d3 wear leveling check count\t\t"},
    {0x174, Field::u32, "d2 d3 wear leveling trigger count\t"},
    {0x178, Field::u8, "d2 d3 wear leveling block rate\t\t"},
    {0x179, Field::u8, "vuc protect mode\t\t\t"},
    {0x17A, Field::u8, "vuc protect state\t\t\t"},
};

constexpr FieldLine kFlashStatusLines[] = {
    {0x200, Field::u32, "max erase count d1\t\t\t"},
    {0x204, Field::u32, "max erase count d2 d3\t\t\t"},
    {0x208, Field::u32, "average erase count d1\t\t\t"},
    {0x20C, Field::u32, "average erase count d2 d3\t\t"},
    {0x210, Field::u32, "min erase count d1\t\t\t"},
    {0x214, Field::u32, "min erase count d2 d3\t\t\t"},
    {0x218, Field::s64, "total flash erase count d1\t\t"},
    {0x220, Field::s64, "total flash erase count d2 d3\t\t"},
    {0x228, Field::s64, "total flash program count d1\t\t"},
    {0x230, Field::s64, "total flash program count d2 d3\t\t"},
    {0x238, Field::s64, "total flash read count\t\t\t"},
    {0x240, Field::s64, "total flash write count\t\t\t"},
    {0x248, Field::s64, "read flash unc retry ok count d1\t"},
    {0x250, Field::s64, "read flash unc retry ok count d2 d3\t"},
    {0x258, Field::u32, "read flash unc retry fail count d1\t"},
    {0x25C, Field::u32, "read flash unc retry fail count d2 d3\t"},
    {0x260, Field::u32, "raid ecc recovery ok count d1\t\t"},
    {0x264, Field::u32, "raid ecc recovery ok count d2 d3\t"},
    {0x268, Field::u32, "raid ecc recovery fail count d1\t\t"},
    {0x26C, Field::u32, "raid ecc recovery fail count d2 d3\t"},
    {0x270, Field::u16, "logical good block count d1\t\t"},
    {0x272, Field::u16, "logical good block count d2 d3\t\t"},
    {0x274, Field::u16, "total early bad physical block count\t"},
    {0x276, Field::u16, "total later bad physical block count\t"},
    {0x278, Field::u16, "total read fail block count d1\t\t"},
    {0x27A, Field::u16, "total read fail block count d2 d3\t"},
    {0x27C, Field::u16, "total program fail block count d1\t"},
    {0x27E, Field::u16, "total program fail block count d2 d3\t"},
    {0x280, Field::u16, "total erase fail block count d1\t\t"},
    {0x282, Field::u16, "total erase fail block count d2 d3\t"},
    {0x284, Field::u32, "raid ecc entry\t\t\t\t"},
    {0x288, Field::u32, "read disturb count\t\t\t"},
    {0x28C, Field::u16, "flash max pecycle SLC\t\t\t"},
    {0x290, Field::u16, "flash max pecycle TLC\t\t\t"},
};

void write_critical_warning(std::FILE* log, std::uint8_t warning) {
    std::fprintf(log, "0 Critical Warning\t\t\t\t: %u", static_cast<unsigned>(warning));
    if (warning != 0) {
        std::fputs(" (", log);
        const char* separator = "";
        for (std::size_t bit = 0; bit < std::size(kCriticalWarnings); ++bit) {
            if ((warning >> bit & 1) == 0)
                continue;
            std::fprintf(log, "%s%s", separator, kCriticalWarnings[bit]);
            separator = "; ";
        }
        std::fputc(')', log);
    }
    std::fputc('\n', log);
}

void write_temperature_sensors(std::FILE* log, const std::uint8_t* smart) {
    for (unsigned i = 0; i < kSensorCount; ++i) {
        const std::uint16_t kelvin = get_le16(smart + kSensorOffset + 2 * i);
        if (kelvin == 0)
            continue;  // no such sensor
        if (kelvin < kLowestKelvinReading) {
            std::fprintf(log, "%u Temperature Sensor %u\t*\t\t\t: %u\n", kFirstSensorLine + i, i,
                         static_cast<unsigned>(kelvin));
        } else {
            std::fprintf(log, "%u Temperature Sensor %u\t\t\t\t: %u\n", kFirstSensorLine + i, i,
                         celsius(kelvin));
        }
    }
}

}  // namespace

void write_nvme_smart_section(std::FILE* log, const std::uint8_t* smart) {
    if (log == nullptr || !any_non_zero(smart, command_info(CommandId::smart).length))
        return;
    std::fputs("-------- NVME SMART --------\n", log);
    write_critical_warning(log, smart[0]);
    std::fprintf(log, "1 Composite Temperature\t\t\t\t: %u\n", celsius(get_le16(smart + 1)));
    write_field_lines(log, smart, kNvmeLinesBeforeSensors);
    write_temperature_sensors(log, smart);
    write_field_lines(log, smart, kNvmeLinesAfterSensors);
}

void write_ext_smart_section(std::FILE* log, const std::uint8_t* smartext) {
    if (log == nullptr || !any_non_zero(smartext, command_info(CommandId::smartext).length)) {
        return;
    }
    std::fputs("-------- EXT.SMART -------- (possible incorrect)\n", log);
    std::fputs(" # IntId     HexRaw        DecRaw       Description\n", log);
    for (std::size_t k = 0; k < kExtRecordCount; ++k) {
        const std::uint8_t* record = smartext + kExtRecordSize * k;
        if (k >= kExtFirstEndMark && get_le32(record) == 0)
            break;
        const std::uint16_t int_id = get_le16(record + 2);
        const double raw = static_cast<double>(get_le32(record + 8)) +
                           static_cast<double>(get_le32(record + 12)) * 4294967296.0;
        std::fprintf(log, "%2u %04x: %04x_%04x_%04x %s", static_cast<unsigned>(get_le16(record)),
                     static_cast<unsigned>(int_id), static_cast<unsigned>(get_le16(record + 8)),
                     static_cast<unsigned>(get_le16(record + 10)),
                     static_cast<unsigned>(get_le16(record + 12)), whole_number(raw, 13).text);
        if (const char* text = find_attribute_description(int_id)) {
            std::fprintf(log, " - %s", text);
        }
        std::fputc('\n', log);
    }
}

void write_status_logs(std::FILE* log, const std::uint8_t* sysinfo) {
    if (log == nullptr)
        return;
    std::fputs("-------- SYSTEM STATUS LOG -------- (possible incorrect)\n", log);
    write_field_lines(log, sysinfo, kSystemStatusLines);
    std::fputs("-------- FLASH STATUS LOG -------- (possible incorrect)\n", log);
    write_field_lines(log, sysinfo, kFlashStatusLines);
}

void write_health_log(Platform& platform, std::FILE* console, const std::uint8_t* smart,
                      const std::uint8_t* smartext, const std::uint8_t* sysinfo) {
    std::FILE* log = platform.create_file(kHealthLogFileName, "w");
    if (log == nullptr) {
        std::fputs("Create Smart Log File Error\n", console);
        return;
    }
    write_nvme_smart_section(log, smart);
    write_ext_smart_section(log, smartext);
    write_status_logs(log, sysinfo);
    std::fclose(log);
}

}  // namespace torvik
