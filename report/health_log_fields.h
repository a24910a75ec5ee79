// The fields of the health log's pages: where each lies in its page, how it is read and shown,
// and the name the JSON report gives it. The text sections and the JSON report read these same
// tables, so the two can never show different fields.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik {

// How a page field is read and shown. Every such line reads "<label>: <value>\n".
enum class Field : std::uint8_t {
    u8,          // unsigned, "%u"
    u16,         // unsigned little-endian, "%u"
    u32,         // unsigned little-endian, "%u"
    s64,         // two's complement little-endian, as a whole number
    seconds,     // u32 count of seconds, followed by the whole hours in parentheses
    data_units,  // 128-bit NVMe count of thousands of 512-byte units; the log reads its low 96
                 // bits and shows them in units of 2^20 bytes
    count96,     // 128-bit NVMe count; the log reads its low 96 bits
    count32,     // 128-bit NVMe count; the log reads its low 32 bits, "%u"
};

struct FieldLine {
    std::uint16_t offset;
    Field field;
    const char* label;  // the health log's text before ": "
    const char* key;    // the field's name in the JSON report
};

// NVMe SMART / Health page (little-endian). Bytes 0..2 (critical warning, composite temperature)
// and the eight temperature sensors at 0xC8 have lines of their own.
// Columns: offset, field, label, key.
inline constexpr FieldLine kNvmeLinesBeforeSensors[] = {
    {0x03, Field::u8, "2 Available Spare\t\t\t\t", "available_spare"},
    {0x04, Field::u8, "3 Available Spare Threshold\t\t\t", "available_spare_threshold"},
    {0x05, Field::u8, "4 Percentage Used\t\t\t\t", "percentage_used"},
    {0x20, Field::data_units, "5 Data Units Read,MB\t\t\t\t", "data_units_read"},
    {0x30, Field::data_units, "6 Data Units Written,MB\t\t\t\t", "data_units_written"},
    {0x40, Field::count96, "7 Host Read Commands\t\t\t\t", "host_read_commands"},
    {0x50, Field::count96, "8 Host Write Commands\t\t\t\t", "host_write_commands"},
    {0x60, Field::count32, "9 Controller Busy Time\t\t\t\t", "controller_busy_time"},
    {0x70, Field::count32, "10 Power Cycles\t\t\t\t\t", "power_cycles"},
    {0x80, Field::count32, "11 Power On Hours\t\t\t\t", "power_on_hours"},
    {0x90, Field::count32, "12 Unsafe Shutdowns\t\t\t\t", "unsafe_shutdowns"},
    {0xA0, Field::count32, "13 Media and Data Integrity Errors\t\t",
     "media_and_data_integrity_errors"},
    {0xB0, Field::count32, "14 Number of Error Information Log Entries\t",
     "error_information_log_entries"},
    {0xC0, Field::u32, "15 Warning Composite Temperature Time\t\t",
     "warning_composite_temperature_time"},
    {0xC4, Field::u32, "16 Critical Composite Temperature Time\t\t",
     "critical_composite_temperature_time"},
};

inline constexpr FieldLine kNvmeLinesAfterSensors[] = {
    {0xD8, Field::u32, "25 Thermal Management Temp 1 Transition Count\t",
     "thermal_management_temp1_transition_count"},
    {0xDC, Field::u32, "26 Thermal Management Temp 2 Transition Count\t",
     "thermal_management_temp2_transition_count"},
    {0xE0, Field::u32, "27 Total Time For Thermal Management Temp 1\t",
     "thermal_management_temp1_total_time"},
    {0xE4, Field::u32, "28 Total Time For Thermal Management Temp 2\t",
     "thermal_management_temp2_total_time"},
};

inline constexpr std::size_t kCriticalWarningOffset = 0x00;
inline constexpr std::size_t kCompositeTemperatureOffset = 0x01;  // kelvins, 16 bits

// Critical warning texts, by bit of byte 0; bits 5..7 have no text.
inline constexpr const char* kCriticalWarnings[] = {
    "spare below threshold",             // bit 0
    "temperature outside threshold",     // bit 1
    "significant media/internal error",  // bit 2
    "read only mode",                    // bit 3
    "volatile memory failed",            // bit 4
};

inline constexpr std::size_t kSensorOffset = 0xC8;  // eight 16-bit readings in kelvins
inline constexpr std::size_t kSensorCount = 8;
inline constexpr unsigned kFirstSensorLine = 17;
inline constexpr std::uint16_t kLowestKelvinReading = 200;  // below it a sensor is shown raw
inline constexpr std::int32_t kKelvinOffset = 273;

// Sysinfo page. A key is its label without the tabs, in lower case, spaces written as
// underscores. Columns: offset, field, label, key.
inline constexpr FieldLine kSystemStatusLines[] = {
    {0x109, Field::u8, "disk init fail\t\t\t\t", "disk_init_fail"},
    {0x10A, Field::u16, "disk hw status\t\t\t\t", "disk_hw_status"},
    {0x10C, Field::u8, "write protect\t\t\t\t", "write_protect"},
    {0x10D, Field::u8, "ftl err path\t\t\t\t", "ftl_err_path"},
    {0x10E, Field::u16, "hardware initial error\t\t\t", "hardware_initial_error"},
    {0x110, Field::u32, "fw code update count\t\t\t", "fw_code_update_count"},
    {0x114, Field::u8, "security state\t\t\t\t", "security_state"},
    {0x115, Field::u8, "gpio\t\t\t\t\t", "gpio"},
    {0x120, Field::u32, "power cycle count\t\t\t", "power_cycle_count"},
    {0x124, Field::u32, "abnormal power cycle count\t\t", "abnormal_power_cycle_count"},
    {0x128, Field::u32, "fw internal power cycle count\t\t", "fw_internal_power_cycle_count"},
    {0x12C, Field::seconds, "power on time\t\t\t\t", "power_on_time"},
    {0x134, Field::u32, "flash ip reset count\t\t\t", "flash_ip_reset_count"},
    {0x138, Field::u32, "host e3d err count\t\t\t", "host_e3d_err_count"},
    {0x13C, Field::u32, "flash e3d err count\t\t\t", "flash_e3d_err_count"},
    {0x140, Field::u32, "ddr ecc err count\t\t\t", "ddr_ecc_err_count"},
    {0x144, Field::u32, "dbuf ecc err count\t\t\t", "dbuf_ecc_err_count"},
    {0x148, Field::u32, "gc table trigger count\t\t\t", "gc_table_trigger_count"},
    {0x14C, Field::u32, "d1 gc data trigger count\t\t", "d1_gc_data_trigger_count"},
    {0x150, Field::u32, "d2 d3 gc data trigger count\t\t", "d2_d3_gc_data_trigger_count"},
    {0x154, Field::u32, "dynamic d1 gc data trigger count\t", "dynamic_d1_gc_data_trigger_count"},
    {0x158, Field::u8, "d1 gc block rate of data\t\t", "d1_gc_block_rate_of_data"},
    {0x159, Field::u8, "d2 d3 gc block rate of data\t\t", "d2_d3_gc_block_rate_of_data"},
    {0x15A, Field::u8, "dynamic d1 gc block rate of data\t", "dynamic_d1_gc_block_rate_of_data"},
    {0x15B, Field::u8, "vendor aes set key status\t\t", "vendor_aes_set_key_status"},
    {0x15C, Field::u8, "axi err slave\t\t\t\t", "axi_err_slave"},
    {0x15D, Field::u8, "axi err zone\t\t\t\t", "axi_err_zone"},
    {0x164, Field::u32, "d1 wear leveling check count\t\t", "d1_wear_leveling_check_count"},
    {0x168, Field::u32, "d1 wear leveling trigger count\t\t", "d1_wear_leveling_trigger_count"},
    {0x16C, Field::u8, "d1 wear leveling block rate\t\t", "d1_wear_leveling_block_rate"},
    {0x170, Field::u32, "d2 d3 wear leveling check count\t\t", "d2_d3_wear_leveling_check_count"},
    {0x174, Field::u32, "d2 d3 wear leveling trigger count\t", "d2_d3_wear_leveling_trigger_count"},
    {0x178, Field::u8, "d2 d3 wear leveling block rate\t\t", "d2_d3_wear_leveling_block_rate"},
    {0x179, Field::u8, "vuc protect mode\t\t\t", "vuc_protect_mode"},
    {0x17A, Field::u8, "vuc protect state\t\t\t", "vuc_protect_state"},
};

inline constexpr FieldLine kFlashStatusLines[] = {
    {0x200, Field::u32, "max erase count d1\t\t\t", "max_erase_count_d1"},
    {0x204, Field::u32, "max erase count d2 d3\t\t\t", "max_erase_count_d2_d3"},
    {0x208, Field::u32, "average erase count d1\t\t\t", "average_erase_count_d1"},
    {0x20C, Field::u32, "average erase count d2 d3\t\t", "average_erase_count_d2_d3"},
    {0x210, Field::u32, "min erase count d1\t\t\t", "min_erase_count_d1"},
    {0x214, Field::u32, "min erase count d2 d3\t\t\t", "min_erase_count_d2_d3"},
    {0x218, Field::s64, "total flash erase count d1\t\t", "total_flash_erase_count_d1"},
    {0x220, Field::s64, "total flash erase count d2 d3\t\t", "total_flash_erase_count_d2_d3"},
    {0x228, Field::s64, "total flash program count d1\t\t", "total_flash_program_count_d1"},
    {0x230, Field::s64, "total flash program count d2 d3\t\t", "total_flash_program_count_d2_d3"},
    {0x238, Field::s64, "total flash read count\t\t\t", "total_flash_read_count"},
    {0x240, Field::s64, "total flash write count\t\t\t", "total_flash_write_count"},
    {0x248, Field::s64, "read flash unc retry ok count d1\t", "read_flash_unc_retry_ok_count_d1"},
    {0x250, Field::s64, "read flash unc retry ok count d2 d3\t",
     "read_flash_unc_retry_ok_count_d2_d3"},
    {0x258, Field::u32, "read flash unc retry fail count d1\t",
     "read_flash_unc_retry_fail_count_d1"},
    {0x25C, Field::u32, "read flash unc retry fail count d2 d3\t",
     "read_flash_unc_retry_fail_count_d2_d3"},
    {0x260, Field::u32, "raid ecc recovery ok count d1\t\t", "raid_ecc_recovery_ok_count_d1"},
    {0x264, Field::u32, "raid ecc recovery ok count d2 d3\t", "raid_ecc_recovery_ok_count_d2_d3"},
    {0x268, Field::u32, "raid ecc recovery fail count d1\t\t", "raid_ecc_recovery_fail_count_d1"},
    {0x26C, Field::u32, "raid ecc recovery fail count d2 d3\t",
     "raid_ecc_recovery_fail_count_d2_d3"},
    {0x270, Field::u16, "logical good block count d1\t\t", "logical_good_block_count_d1"},
    {0x272, Field::u16, "logical good block count d2 d3\t\t", "logical_good_block_count_d2_d3"},
    {0x274, Field::u16, "total early bad physical block count\t",
     "total_early_bad_physical_block_count"},
    {0x276, Field::u16, "total later bad physical block count\t",
     "total_later_bad_physical_block_count"},
    {0x278, Field::u16, "total read fail block count d1\t\t", "total_read_fail_block_count_d1"},
    {0x27A, Field::u16, "total read fail block count d2 d3\t", "total_read_fail_block_count_d2_d3"},
    {0x27C, Field::u16, "total program fail block count d1\t", "total_program_fail_block_count_d1"},
    {0x27E, Field::u16, "total program fail block count d2 d3\t",
     "total_program_fail_block_count_d2_d3"},
    {0x280, Field::u16, "total erase fail block count d1\t\t", "total_erase_fail_block_count_d1"},
    {0x282, Field::u16, "total erase fail block count d2 d3\t",
     "total_erase_fail_block_count_d2_d3"},
    {0x284, Field::u32, "raid ecc entry\t\t\t\t", "raid_ecc_entry"},
    {0x288, Field::u32, "read disturb count\t\t\t", "read_disturb_count"},
    {0x28C, Field::u16, "flash max pecycle SLC\t\t\t", "flash_max_pecycle_slc"},
    {0x290, Field::u16, "flash max pecycle TLC\t\t\t", "flash_max_pecycle_tlc"},
};

}  // namespace torvik
