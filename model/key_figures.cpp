#include "model/key_figures.h"

#include <cstdio>

#include "model/drive_model.h"

namespace torvik {

namespace {

std::string trimmed(const std::string& text) {
    return identify_text(text);  // the same padding (spaces, NULs) ends either page's texts
}

// A decoder text without the space it starts with to join the one-line description.
std::string joined_text(const char* text) {
    if (text == nullptr)
        return {};
    return text[0] == ' ' ? text + 1 : text;
}

std::uint64_t saturated(Uint128 value) {
    return value.high != 0 ? ~std::uint64_t{0} : value.low;
}

constexpr std::uint64_t kLargestPercentage = 0xFFFF;  // what a history line keeps of a percentage
constexpr std::uint64_t kHottestChip = 999;           // Celsius; a larger reading is no reading

// The value of the extended SMART record of that IntId, when it has one no larger than largest.
std::optional<std::uint64_t> record_value(const ExtendedSmart& ext, std::uint16_t int_id,
                                          std::uint64_t largest) {
    const ExtSmartRecord* record = ext.find(int_id);
    if (record == nullptr || record->raw > largest)
        return std::nullopt;
    return record->raw;
}

}  // namespace

std::string serial_hex(std::string_view serial) {
    bool printable = true;
    for (const char c : serial)
        printable = printable && c >= 0x20 && c <= 0x7E;
    if (printable)
        return {};
    constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : serial) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

DriveKey drive_key(const DriveModel& drive) {
    return drive.drive_identity;
}

DriveKey identify_drive(const DriveModel& drive) {
    DriveKey key;
    key.bridge_serial = trimmed(drive.identity.serial);
    key.bridge_model = trimmed(drive.identity.model);
    if (nvme_identity_texts(drive) != nullptr) {
        key.serial = trimmed(drive.nvme_identity.serial_number);
        key.model = trimmed(drive.nvme_identity.model_number);
        key.firmware = trimmed(drive.nvme_identity.firmware_revision);
        key.from_nvme = true;
    } else {
        key.serial = trimmed(drive.identity.serial);
        key.model = trimmed(drive.identity.model);
        key.firmware = trimmed(drive.identity.revision);
    }
    return key;
}

bool same_identity(const DriveKey& a, const DriveKey& b) {
    return a.from_nvme == b.from_nvme && a.serial == b.serial && a.model == b.model;
}

KeyFigures key_figures(const DriveModel& drive) {
    KeyFigures k;
    k.drive = drive_key(drive);
    k.verdict = drive.health.verdict;
    if (const NvmeSmartHealth* s = judged_smart_log(drive)) {
        k.percentage_used = static_cast<unsigned>(s->values[kSmartPercentageUsed].low);
        k.available_spare = static_cast<unsigned>(s->values[kSmartAvailableSpare].low);
        const auto kelvin = static_cast<std::uint16_t>((*s)[kSmartCompositeTemperature]);
        if (kelvin != 0)  // 0: the drive has no composite temperature sensor
            k.temperature_celsius = kelvin_to_celsius(kelvin);
        k.power_on_hours = saturated(s->values[kSmartPowerOnHours]);
        k.power_cycles = saturated(s->values[kSmartPowerCycles]);
        k.unsafe_shutdowns = saturated(s->values[kSmartUnsafeShutdowns]);
        k.media_errors = saturated(s->values[kSmartMediaErrors]);
        k.data_read_bytes = saturated(data_unit_bytes(s->values[kSmartDataUnitsRead]));
        k.data_written_bytes = saturated(data_unit_bytes(s->values[kSmartDataUnitsWritten]));
        k.critical_warning = static_cast<unsigned>(s->values[kSmartCriticalWarning].low);
        k.spare_threshold = static_cast<unsigned>(s->values[kSmartSpareThreshold].low);
        k.error_log_entries = saturated(s->values[kSmartErrorLogEntries]);
        k.counters = KeyFigures::NvmeCounters{
            s->values[kSmartPowerOnHours],    s->values[kSmartPowerCycles],
            s->values[kSmartUnsafeShutdowns], s->values[kSmartMediaErrors],
            s->values[kSmartDataUnitsRead],   s->values[kSmartDataUnitsWritten]};
    }
    if (drive.has(CommandId::nvme_identify) && drive.nvme_identity.any) {
        if (drive.nvme_identity.warning_temperature != 0)
            k.warning_temperature_celsius =
                kelvin_to_celsius(drive.nvme_identity.warning_temperature);
        if (drive.nvme_identity.critical_temperature != 0)
            k.critical_temperature_celsius =
                kelvin_to_celsius(drive.nvme_identity.critical_temperature);
    }
    if (drive.has(CommandId::smartext)) {
        const ExtendedSmart& ext = drive.extended_smart;
        if (const ExtSmartRecord* erases = ext.find(kExtAverageEraseCount))
            k.average_erase_count = erases->raw;
        k.life_used_record = record_value(ext, kExtLifeUsed, ~std::uint64_t{0});
        k.life_remaining_record = record_value(ext, kExtLifeRemaining, ~std::uint64_t{0});
        if (const auto used = record_value(ext, kExtLifeUsed, kLargestPercentage))
            k.life_used = static_cast<unsigned>(*used);
        if (const auto left = record_value(ext, kExtLifeRemaining, kLargestPercentage))
            k.life_remaining = static_cast<unsigned>(*left);
        k.chip_temperature_celsius = record_value(ext, kExtChipTemperature, kHottestChip);
        k.highest_temperature_celsius = record_value(ext, kExtHighestTemperature, kHottestChip);
    }
    if (drive.has(CommandId::sysinfo)) {
        if (drive.geometry.pe_limit_second != 0)
            k.rated_pe_cycles = drive.geometry.pe_limit_second;
        k.system_power_on_seconds =
            drive.status.system[field_index(kSystemStatusFields, "power_on_time")];
        k.flash_counters = flash_counts(drive.status);
    }
    return k;
}

DriveMakeup drive_makeup(const DriveModel& drive) {
    DriveMakeup m;
    if (drive.has(CommandId::read_info)) {
        m.controller = controller_name(drive.controller_id).text;
    }
    if (drive.has(CommandId::read_fid)) {
        const FlashFields& fields = drive.flash_id.fields;
        m.flash_maker = joined_text(fields.maker);
        m.flash_node = joined_text(fields.node);
        if (fields.cell)
            m.flash_cell_type = joined_text(cell_type_text(*fields.cell));
    }
    return m;
}

}  // namespace torvik
