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

const NvmeSmartHealth* judged_log(const DriveModel& drive) {
    switch (drive.health.source) {
        case HealthSource::nvme_smart_bridge:
            return &drive.smart_bridge;
        case HealthSource::nvme_smart_controller:
            return &drive.smart_controller;
        case HealthSource::extended_smart:
        case HealthSource::none:
            break;
    }
    return nullptr;
}

}  // namespace

DriveKey drive_key(const DriveModel& drive) {
    DriveKey key;
    if (drive.has(CommandId::nvme_identify) && drive.nvme_identity.any) {
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

KeyFigures key_figures(const DriveModel& drive) {
    KeyFigures k;
    k.drive = drive_key(drive);
    k.verdict = drive.health.verdict;
    if (const NvmeSmartHealth* s = judged_log(drive)) {
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
        if (const ExtSmartRecord* erases = drive.extended_smart.find(kExtAverageEraseCount))
            k.average_erase_count = erases->raw;
        if (const ExtSmartRecord* used = drive.extended_smart.find(kExtLifeUsed))
            k.vendor_life_used = used->raw;
        if (const ExtSmartRecord* left = drive.extended_smart.find(kExtLifeRemaining))
            k.vendor_life_remaining = left->raw;
    }
    if (drive.has(CommandId::sysinfo) && drive.geometry.pe_limit_second != 0)
        k.rated_pe_cycles = drive.geometry.pe_limit_second;
    return k;
}

DriveMakeup drive_makeup(const DriveModel& drive) {
    DriveMakeup m;
    if (drive.has(CommandId::read_info)) {
        char name[8];
        std::snprintf(name, sizeof name, "TK%04X", static_cast<unsigned>(drive.controller_id));
        m.controller = name;
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
