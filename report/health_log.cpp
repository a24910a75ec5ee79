#include "report/health_log.h"

#include <cstddef>
#include <iterator>

#include "model/attribute_table.h"
#include "model/drive_model.h"
#include "report/health_log_fields.h"
#include "report/number_format.h"

namespace torvik {

namespace {

constexpr std::uint32_t kSecondsPerHour = 3600;
constexpr double kMegabytesPerDataUnit = kBytesPerDataUnit / 1048576.0;  // exactly 0.48828125

// The low 96 bits of a 128-bit NVMe counter, as three 32-bit words summed in double precision
// from the lowest word up.
double count96(Uint128 value) {
    return static_cast<double>(value.low & 0xFFFFFFFF) +
           static_cast<double>(value.low >> 32) * 4294967296.0 +
           static_cast<double>(value.high & 0xFFFFFFFF) * 18446744073709551616.0;
}

// A kelvin reading in degrees Celsius as the log shows it: a reading below 273 gives a negative
// difference, which appears as its unsigned 32-bit value.
unsigned celsius(std::uint64_t kelvin) {
    return static_cast<std::uint32_t>(kelvin_to_celsius(static_cast<std::uint16_t>(kelvin)));
}

void write_critical_warning(OutputFile* log, const char* label, std::uint64_t warning) {
    log->printf("%s: %u", label, static_cast<unsigned>(warning));
    if (warning != 0)
        log->printf(" (%s)", joined_critical_warnings(warning).c_str());
    log->print("\n");
}

void write_sensor(OutputFile* log, unsigned i, std::uint64_t kelvin) {
    if (kelvin == 0)
        return;  // no such sensor
    if (kelvin < kLowestKelvinReading) {
        log->printf("%u Temperature Sensor %u\t*\t\t\t: %u\n", kFirstSensorLine + i, i,
                    static_cast<unsigned>(kelvin));
    } else {
        log->printf("%u Temperature Sensor %u\t\t\t\t: %u\n", kFirstSensorLine + i, i,
                    celsius(kelvin));
    }
}

// One line; sensor is the sensor's number for the sensor lines.
void write_line(OutputFile* log, const FieldLabel& line, Uint128 value, unsigned sensor) {
    const char* label = line.label;
    switch (line.shown) {
        case Shown::number:
            log->printf("%s: %u\n", label, static_cast<unsigned>(value.low & 0xFFFFFFFF));
            break;
        case Shown::whole: {
            const double whole = static_cast<double>(static_cast<std::int64_t>(value.low));
            log->printf("%s: %s\n", label, whole_number(whole, 1).text);
            break;
        }
        case Shown::seconds: {
            const auto seconds = static_cast<std::uint32_t>(value.low);
            log->printf("%s: %u(%uh)\n", label, static_cast<unsigned>(seconds),
                        static_cast<unsigned>(seconds / kSecondsPerHour));
            break;
        }
        case Shown::data_units:
            log->printf("%s: %s\n", label,
                        whole_number(count96(value) * kMegabytesPerDataUnit, 1).text);
            break;
        case Shown::count96:
            log->printf("%s: %s\n", label, whole_number(count96(value), 1).text);
            break;
        case Shown::critical_warning:
            write_critical_warning(log, label, value.low);
            break;
        case Shown::temperature:
            log->printf("%s: %u\n", label, celsius(value.low));
            break;
        case Shown::sensor:
            write_sensor(log, sensor, value.low);
            break;
    }
}

template <std::size_t N, std::size_t M>
void write_counter_lines(OutputFile* log, const FieldLabel (&labels)[N],
                         const std::array<std::uint64_t, M>& values) {
    static_assert(N == M);
    for (std::size_t i = 0; i < N; ++i)
        write_line(log, labels[i], Uint128{0, values[i]}, 0);
}

}  // namespace

void write_nvme_smart_section(OutputFile* log, const NvmeSmartHealth& smart) {
    if (log == nullptr || !smart.any)
        return;
    log->print("-------- NVME SMART --------\n");
    for (std::size_t i = 0; i < kNvmeSmartFieldCount; ++i) {
        write_line(log, kNvmeSmartLabels[i], smart.values[i],
                   static_cast<unsigned>(i - kSmartFirstSensor));
    }
}

void write_ext_smart_section(OutputFile* log, const ExtendedSmart& ext) {
    if (log == nullptr || !ext.any)
        return;
    log->print("-------- EXT.SMART -------- (possible incorrect)\n");
    log->print(" # IntId     HexRaw        DecRaw       Description\n");
    for (const ExtSmartRecord& r : ext.records) {
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

void write_status_logs(OutputFile* log, const StatusCounters& status) {
    if (log == nullptr)
        return;
    log->print("-------- SYSTEM STATUS LOG -------- (possible incorrect)\n");
    write_counter_lines(log, kSystemStatusLabels, status.system);
    log->print("-------- FLASH STATUS LOG -------- (possible incorrect)\n");
    write_counter_lines(log, kFlashStatusLabels, status.flash);
}

FileResult write_health_log(FileStore& files, std::FILE* console, const DriveModel& model) {
    OutputFile log(files, kHealthLogFileName, FileKind::text);
    if (!log.created()) {
        std::fputs("Create Smart Log File Error\n", console);
        return log.commit();
    }
    write_nvme_smart_section(&log, model.smart_controller);
    write_ext_smart_section(&log, model.extended_smart);
    write_status_logs(&log, model.status);
    // The log itself says nothing of a failed write; only the result tells.
    return log.commit();
}

}  // namespace torvik
