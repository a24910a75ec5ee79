// How the health log shows each field of its pages: the label before ": " and the form of the
// value, row by row beside the page definitions of model/ (checked name by name while compiling).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/controller_pages.h"
#include "model/nvme_pages.h"

namespace torvik {

// How a value is shown. Every such line reads "<label>: <value>\n".
enum class Shown : std::uint8_t {
    number,            // "%u" of the low 32 bits
    whole,             // a signed 64-bit value as a whole number
    seconds,           // "%u(%uh)": the count of seconds, then the whole hours
    data_units,        // the low 96 bits of the count, in units of 2^20 bytes
    count96,           // the low 96 bits of the count
    critical_warning,  // the value and the texts of its bits
    temperature,       // in degrees Celsius
    sensor,            // "Temperature Sensor <i>", numbered on from kFirstSensorLine; absent at 0
};

struct FieldLabel {
    const char* name;   // the row of the page definition
    const char* label;  // nullptr for a line that makes its own
    Shown shown;
};

inline constexpr unsigned kFirstSensorLine = 17;
inline constexpr std::uint16_t kLowestKelvinReading = 200;  // below it a sensor is shown raw

// clang-format off
inline constexpr FieldLabel kNvmeSmartLabels[] = {
    {"critical_warning", "0 Critical Warning\t\t\t\t", Shown::critical_warning},
    {"composite_temperature", "1 Composite Temperature\t\t\t\t", Shown::temperature},
    {"available_spare", "2 Available Spare\t\t\t\t", Shown::number},
    {"available_spare_threshold", "3 Available Spare Threshold\t\t\t", Shown::number},
    {"percentage_used", "4 Percentage Used\t\t\t\t", Shown::number},
    {"data_units_read", "5 Data Units Read,MB\t\t\t\t", Shown::data_units},
    {"data_units_written", "6 Data Units Written,MB\t\t\t\t", Shown::data_units},
    {"host_read_commands", "7 Host Read Commands\t\t\t\t", Shown::count96},
    {"host_write_commands", "8 Host Write Commands\t\t\t\t", Shown::count96},
    {"controller_busy_time", "9 Controller Busy Time\t\t\t\t", Shown::number},
    {"power_cycles", "10 Power Cycles\t\t\t\t\t", Shown::number},
    {"power_on_hours", "11 Power On Hours\t\t\t\t", Shown::number},
    {"unsafe_shutdowns", "12 Unsafe Shutdowns\t\t\t\t", Shown::number},
    {"media_and_data_integrity_errors", "13 Media and Data Integrity Errors\t\t", Shown::number},
    {"error_information_log_entries", "14 Number of Error Information Log Entries\t", Shown::number},
    {"warning_composite_temperature_time", "15 Warning Composite Temperature Time\t\t", Shown::number},
    {"critical_composite_temperature_time", "16 Critical Composite Temperature Time\t\t", Shown::number},
    {"temperature_sensor_0", nullptr, Shown::sensor},
    {"temperature_sensor_1", nullptr, Shown::sensor},
    {"temperature_sensor_2", nullptr, Shown::sensor},
    {"temperature_sensor_3", nullptr, Shown::sensor},
    {"temperature_sensor_4", nullptr, Shown::sensor},
    {"temperature_sensor_5", nullptr, Shown::sensor},
    {"temperature_sensor_6", nullptr, Shown::sensor},
    {"temperature_sensor_7", nullptr, Shown::sensor},
    {"thermal_management_temp1_transition_count", "25 Thermal Management Temp 1 Transition Count\t", Shown::number},
    {"thermal_management_temp2_transition_count", "26 Thermal Management Temp 2 Transition Count\t", Shown::number},
    {"thermal_management_temp1_total_time", "27 Total Time For Thermal Management Temp 1\t", Shown::number},
    {"thermal_management_temp2_total_time", "28 Total Time For Thermal Management Temp 2\t", Shown::number},
};

inline constexpr FieldLabel kSystemStatusLabels[] = {
    {"disk_init_fail", "disk init fail\t\t\t\t", Shown::number},
    {"disk_hw_status", "disk hw status\t\t\t\t", Shown::number},
    {"write_protect", "write protect\t\t\t\t", Shown::number},
    {"ftl_err_path", "ftl err path\t\t\t\t", Shown::number},
    {"hardware_initial_error", "hardware initial error\t\t\t", Shown::number},
    {"fw_code_update_count", "fw code update count\t\t\t", Shown::number},
    {"security_state", "security state\t\t\t\t", Shown::number},
    {"gpio", "gpio\t\t\t\t\t", Shown::number},
    {"power_cycle_count", "power cycle count\t\t\t", Shown::number},
    {"abnormal_power_cycle_count", "abnormal power cycle count\t\t", Shown::number},
    {"fw_internal_power_cycle_count", "fw internal power cycle count\t\t", Shown::number},
    {"power_on_time", "power on time\t\t\t\t", Shown::seconds},
    {"flash_ip_reset_count", "flash ip reset count\t\t\t", Shown::number},
    {"host_e3d_err_count", "host e3d err count\t\t\t", Shown::number},
    {"flash_e3d_err_count", "flash e3d err count\t\t\t", Shown::number},
    {"ddr_ecc_err_count", "ddr ecc err count\t\t\t", Shown::number},
    {"dbuf_ecc_err_count", "dbuf ecc err count\t\t\t", Shown::number},
    {"gc_table_trigger_count", "gc table trigger count\t\t\t", Shown::number},
    {"d1_gc_data_trigger_count", "d1 gc data trigger count\t\t", Shown::number},
    {"d2_d3_gc_data_trigger_count", "d2 d3 gc data trigger count\t\t", Shown::number},
    {"dynamic_d1_gc_data_trigger_count", "dynamic d1 gc data trigger count\t", Shown::number},
    {"d1_gc_block_rate_of_data", "d1 gc block rate of data\t\t", Shown::number},
    {"d2_d3_gc_block_rate_of_data", "d2 d3 gc block rate of data\t\t", Shown::number},
    {"dynamic_d1_gc_block_rate_of_data", "dynamic d1 gc block rate of data\t", Shown::number},
    {"vendor_aes_set_key_status", "vendor aes set key status\t\t", Shown::number},
    {"axi_err_slave", "axi err slave\t\t\t\t", Shown::number},
    {"axi_err_zone", "axi err zone\t\t\t\t", Shown::number},
    {"d1_wear_leveling_check_count", "d1 wear leveling check count\t\t", Shown::number},
    {"d1_wear_leveling_trigger_count", "d1 wear leveling trigger count\t\t", Shown::number},
    {"d1_wear_leveling_block_rate", "d1 wear leveling block rate\t\t", Shown::number},
    {"d2_d3_wear_leveling_check_count", "d2 d3 wear leveling check count\t\t", Shown::number},
    {"d2_d3_wear_leveling_trigger_count", "d2 d3 wear leveling trigger count\t", Shown::number},
    {"d2_d3_wear_leveling_block_rate", "d2 d3 wear leveling block rate\t\t", Shown::number},
    {"vuc_protect_mode", "vuc protect mode\t\t\t", Shown::number},
    {"vuc_protect_state", "vuc protect state\t\t\t", Shown::number},
};

inline constexpr FieldLabel kFlashStatusLabels[] = {
    {"max_erase_count_d1", "max erase count d1\t\t\t", Shown::number},
    {"max_erase_count_d2_d3", "max erase count d2 d3\t\t\t", Shown::number},
    {"average_erase_count_d1", "average erase count d1\t\t\t", Shown::number},
    {"average_erase_count_d2_d3", "average erase count d2 d3\t\t", Shown::number},
    {"min_erase_count_d1", "min erase count d1\t\t\t", Shown::number},
    {"min_erase_count_d2_d3", "min erase count d2 d3\t\t\t", Shown::number},
    {"total_flash_erase_count_d1", "total flash erase count d1\t\t", Shown::whole},
    {"total_flash_erase_count_d2_d3", "total flash erase count d2 d3\t\t", Shown::whole},
    {"total_flash_program_count_d1", "total flash program count d1\t\t", Shown::whole},
    {"total_flash_program_count_d2_d3", "total flash program count d2 d3\t\t", Shown::whole},
    {"total_flash_read_count", "total flash read count\t\t\t", Shown::whole},
    {"total_flash_write_count", "total flash write count\t\t\t", Shown::whole},
    {"read_flash_unc_retry_ok_count_d1", "read flash unc retry ok count d1\t", Shown::whole},
    {"read_flash_unc_retry_ok_count_d2_d3", "read flash unc retry ok count d2 d3\t", Shown::whole},
    {"read_flash_unc_retry_fail_count_d1", "read flash unc retry fail count d1\t", Shown::number},
    {"read_flash_unc_retry_fail_count_d2_d3", "read flash unc retry fail count d2 d3\t", Shown::number},
    {"raid_ecc_recovery_ok_count_d1", "raid ecc recovery ok count d1\t\t", Shown::number},
    {"raid_ecc_recovery_ok_count_d2_d3", "raid ecc recovery ok count d2 d3\t", Shown::number},
    {"raid_ecc_recovery_fail_count_d1", "raid ecc recovery fail count d1\t\t", Shown::number},
    {"raid_ecc_recovery_fail_count_d2_d3", "raid ecc recovery fail count d2 d3\t", Shown::number},
    {"logical_good_block_count_d1", "logical good block count d1\t\t", Shown::number},
    {"logical_good_block_count_d2_d3", "logical good block count d2 d3\t\t", Shown::number},
    {"total_early_bad_physical_block_count", "total early bad physical block count\t", Shown::number},
    {"total_later_bad_physical_block_count", "total later bad physical block count\t", Shown::number},
    {"total_read_fail_block_count_d1", "total read fail block count d1\t\t", Shown::number},
    {"total_read_fail_block_count_d2_d3", "total read fail block count d2 d3\t", Shown::number},
    {"total_program_fail_block_count_d1", "total program fail block count d1\t", Shown::number},
    {"total_program_fail_block_count_d2_d3", "total program fail block count d2 d3\t", Shown::number},
    {"total_erase_fail_block_count_d1", "total erase fail block count d1\t\t", Shown::number},
    {"total_erase_fail_block_count_d2_d3", "total erase fail block count d2 d3\t", Shown::number},
    {"raid_ecc_entry", "raid ecc entry\t\t\t\t", Shown::number},
    {"read_disturb_count", "read disturb count\t\t\t", Shown::number},
    {"flash_max_pecycle_slc", "flash max pecycle SLC\t\t\t", Shown::number},
    {"flash_max_pecycle_tlc", "flash max pecycle TLC\t\t\t", Shown::number},
};
// clang-format on

// Row k of the labels shows row k of the page definition.
template <std::size_t N, std::size_t M>
constexpr bool labels_match(const FieldLabel (&labels)[N], const FieldDef (&fields)[M]) {
    if (N != M)
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (std::string_view(labels[i].name) != fields[i].name)
            return false;
    }
    return true;
}
static_assert(labels_match(kNvmeSmartLabels, kNvmeSmartFields));
static_assert(labels_match(kSystemStatusLabels, kSystemStatusFields));
static_assert(labels_match(kFlashStatusLabels, kFlashStatusFields));

}  // namespace torvik
