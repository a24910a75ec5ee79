// The two NVMe pages: Identify Controller (read through the bridge) and the SMART / Health log
// (read through the bridge, and the controller's own copy among its vendor pages). Both are
// little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "common/uint128.h"
#include "model/page_field.h"
#include "scsi/commands.h"

namespace torvik {

// ---- Identify Controller ------------------------------------------------------------------------

// Columns: name, offset, width, unit.
inline constexpr FieldDef kNvmeIdentifyFields[] = {
    le("pci_vendor_id", 0, 2, Unit::id),
    le("pci_subsystem_vendor_id", 2, 2, Unit::id),
    text("serial_number", 4, 20),
    text("model_number", 24, 40),
    text("firmware_revision", 64, 8),
    le("maximum_data_transfer_size", 77, 1),  // a power of two of the minimum page size
    le("warning_composite_temperature_threshold", 266, 2, Unit::kelvin),  // 0: none declared
    le("critical_composite_temperature_threshold", 268, 2, Unit::kelvin),
    le("total_nvm_capacity", 280, 16, Unit::bytes),  // TNVMCAP; 0 when the drive does not tell
};
static_assert(fields_fit(kNvmeIdentifyFields, command_info(CommandId::nvme_identify).length));

inline constexpr const FieldDef& kIdentifySerial =
    kNvmeIdentifyFields[field_index(kNvmeIdentifyFields, "serial_number")];
inline constexpr const FieldDef& kIdentifyModel =
    kNvmeIdentifyFields[field_index(kNvmeIdentifyFields, "model_number")];
inline constexpr const FieldDef& kIdentifyFirmware =
    kNvmeIdentifyFields[field_index(kNvmeIdentifyFields, "firmware_revision")];
inline constexpr const FieldDef& kIdentifyWarningTemperature = kNvmeIdentifyFields[field_index(
    kNvmeIdentifyFields, "warning_composite_temperature_threshold")];
inline constexpr const FieldDef& kIdentifyCriticalTemperature = kNvmeIdentifyFields[field_index(
    kNvmeIdentifyFields, "critical_composite_temperature_threshold")];
inline constexpr const FieldDef& kIdentifyTotalCapacity =
    kNvmeIdentifyFields[field_index(kNvmeIdentifyFields, "total_nvm_capacity")];

struct NvmeIdentity {
    std::string model_number;  // as the page holds them, padding included
    std::string serial_number;
    std::string firmware_revision;
    std::uint16_t warning_temperature = 0;  // kelvins; 0 when the drive declares none
    std::uint16_t critical_temperature = 0;
    Uint128 total_capacity{};  // bytes of NVM the drive holds in all; 0 when it does not tell
    bool any = false;          // a byte of the page was not zero
};

NvmeIdentity decode_nvme_identity(const std::uint8_t* identify);

// An Identify text without the spaces (and NULs) that pad it to its field's width.
inline std::string identify_text(const std::string& field) {
    const std::size_t end = field.find_last_not_of(std::string(" \0", 2));
    return end == std::string::npos ? std::string() : field.substr(0, end + 1);
}

// ---- SMART / Health log -------------------------------------------------------------------------

// In page order. Columns: name, offset, width, unit.
inline constexpr FieldDef kNvmeSmartFields[] = {
    le("critical_warning", 0x00, 1, Unit::id),  // bits: see kCriticalWarnings
    le("composite_temperature", 0x01, 2, Unit::kelvin),
    le("available_spare", 0x03, 1, Unit::percent),
    le("available_spare_threshold", 0x04, 1, Unit::percent),
    le("percentage_used", 0x05, 1, Unit::percent),  // of the rated life; may pass 100
    le("data_units_read", 0x20, 16, Unit::data_units),
    le("data_units_written", 0x30, 16, Unit::data_units),
    le("host_read_commands", 0x40, 16),
    le("host_write_commands", 0x50, 16),
    le("controller_busy_time", 0x60, 16, Unit::minutes),
    le("power_cycles", 0x70, 16),
    le("power_on_hours", 0x80, 16, Unit::hours),
    le("unsafe_shutdowns", 0x90, 16),
    le("media_and_data_integrity_errors", 0xA0, 16),
    le("error_information_log_entries", 0xB0, 16),
    le("warning_composite_temperature_time", 0xC0, 4, Unit::minutes),
    le("critical_composite_temperature_time", 0xC4, 4, Unit::minutes),
    le("temperature_sensor_0", 0xC8, 2, Unit::kelvin),  // 0: no such sensor
    le("temperature_sensor_1", 0xCA, 2, Unit::kelvin),
    le("temperature_sensor_2", 0xCC, 2, Unit::kelvin),
    le("temperature_sensor_3", 0xCE, 2, Unit::kelvin),
    le("temperature_sensor_4", 0xD0, 2, Unit::kelvin),
    le("temperature_sensor_5", 0xD2, 2, Unit::kelvin),
    le("temperature_sensor_6", 0xD4, 2, Unit::kelvin),
    le("temperature_sensor_7", 0xD6, 2, Unit::kelvin),
    le("thermal_management_temp1_transition_count", 0xD8, 4),
    le("thermal_management_temp2_transition_count", 0xDC, 4),
    le("thermal_management_temp1_total_time", 0xE0, 4, Unit::seconds),
    le("thermal_management_temp2_total_time", 0xE4, 4, Unit::seconds),
};
static_assert(fields_fit(kNvmeSmartFields, command_info(CommandId::nvme_smart_log).length));
static_assert(command_info(CommandId::smart).length ==
              command_info(CommandId::nvme_smart_log).length);

inline constexpr std::size_t kNvmeSmartFieldCount = std::size(kNvmeSmartFields);
inline constexpr std::size_t kSmartCriticalWarning =
    field_index(kNvmeSmartFields, "critical_warning");
inline constexpr std::size_t kSmartCompositeTemperature =
    field_index(kNvmeSmartFields, "composite_temperature");
inline constexpr std::size_t kSmartAvailableSpare =
    field_index(kNvmeSmartFields, "available_spare");
inline constexpr std::size_t kSmartSpareThreshold =
    field_index(kNvmeSmartFields, "available_spare_threshold");
inline constexpr std::size_t kSmartPercentageUsed =
    field_index(kNvmeSmartFields, "percentage_used");
inline constexpr std::size_t kSmartDataUnitsRead = field_index(kNvmeSmartFields, "data_units_read");
inline constexpr std::size_t kSmartDataUnitsWritten =
    field_index(kNvmeSmartFields, "data_units_written");
inline constexpr std::size_t kSmartPowerCycles = field_index(kNvmeSmartFields, "power_cycles");
inline constexpr std::size_t kSmartPowerOnHours = field_index(kNvmeSmartFields, "power_on_hours");
inline constexpr std::size_t kSmartUnsafeShutdowns =
    field_index(kNvmeSmartFields, "unsafe_shutdowns");
inline constexpr std::size_t kSmartMediaErrors =
    field_index(kNvmeSmartFields, "media_and_data_integrity_errors");
inline constexpr std::size_t kSmartErrorLogEntries =
    field_index(kNvmeSmartFields, "error_information_log_entries");
inline constexpr std::size_t kSmartFirstSensor =
    field_index(kNvmeSmartFields, "temperature_sensor_0");
inline constexpr std::size_t kSmartSensorCount = 8;
static_assert(field_index(kNvmeSmartFields, "temperature_sensor_7") ==
              kSmartFirstSensor + kSmartSensorCount - 1);

// Critical warning texts, by bit of the critical warning; bits 5..7 have no text.
inline constexpr const char* kCriticalWarnings[] = {
    "spare below threshold",             // bit 0
    "temperature outside threshold",     // bit 1
    "significant media/internal error",  // bit 2
    "read only mode",                    // bit 3
    "volatile memory failed",            // bit 4
};

// The text of critical warning bit `bit`; nullptr for a bit the log does not name.
constexpr const char* critical_warning_text(unsigned bit) {
    return bit < std::size(kCriticalWarnings) ? kCriticalWarnings[bit] : nullptr;
}

// The texts of a critical warning's set bits that have one, lowest bit first.
struct CriticalWarningTexts {
    std::array<const char*, std::size(kCriticalWarnings)> texts{};
    std::size_t count = 0;
    const char* const* begin() const { return texts.data(); }
    const char* const* end() const { return texts.data() + count; }
};

CriticalWarningTexts critical_warning_texts(std::uint64_t warning);

// The same texts joined with "; "; empty when none is set.
std::string joined_critical_warnings(std::uint64_t warning);

inline constexpr std::int32_t kKelvinOffset = 273;
inline constexpr std::uint32_t kBytesPerDataUnit = 512000;  // a thousand 512-byte units

// A data units counter in bytes.
inline Uint128 data_unit_bytes(Uint128 units) {
    return saturating_multiply(units, kBytesPerDataUnit);
}

// A kelvin reading in degrees Celsius, negative below 273 K.
constexpr std::int32_t kelvin_to_celsius(std::uint16_t kelvin) {
    return static_cast<std::int32_t>(kelvin) - kKelvinOffset;
}

// The page decoded: every field of kNvmeSmartFields by its row, and whether any byte of the page
// was not zero (a page of zeros has nothing to show and is judged as not read).
struct NvmeSmartHealth {
    std::array<Uint128, kNvmeSmartFieldCount> values{};
    bool any = false;

    std::uint64_t operator[](std::size_t field) const { return values[field].low; }
};

NvmeSmartHealth decode_nvme_smart(const std::uint8_t* smart);

}  // namespace torvik
