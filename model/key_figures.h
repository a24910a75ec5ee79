// Who a drive is and the figures that tell how it wears, in base units, picked from the model once
// a run: what a drive's history line and the monitoring metrics record, and what the --health
// summary and the HTML report show. The health figures come from the page the verdict was judged
// from (the NVMe log read through the bridge, else the controller's copy); the erase count and its
// rated limit from the controller pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/uint128.h"
#include "model/drive_identity.h"
#include "model/flash_counters.h"
#include "model/health_verdict.h"

namespace torvik {

struct DriveModel;

// The run's identity of the drive, as the model holds it (DriveModel::drive_identity).
DriveKey drive_key(const DriveModel& drive);

struct KeyFigures {
    DriveKey drive;
    HealthVerdict verdict = HealthVerdict::unknown;
    // Each absent when no NVMe SMART / Health page was read.
    std::optional<unsigned> percentage_used;          // of the rated life; may pass 100
    std::optional<unsigned> available_spare;          // percent
    std::optional<std::int32_t> temperature_celsius;  // absent too when the drive has no sensor
    std::optional<std::uint64_t> power_on_hours;
    std::optional<std::uint64_t> power_cycles;
    std::optional<std::uint64_t> unsafe_shutdowns;
    std::optional<std::uint64_t> media_errors;
    std::optional<std::uint64_t> data_read_bytes;     // saturated at 2^64 - 1
    std::optional<std::uint64_t> data_written_bytes;  // saturated at 2^64 - 1
    // From the controller's extended SMART page and the flash geometry (sysinfo page).
    std::optional<std::uint64_t> average_erase_count;
    std::optional<std::uint32_t> rated_pe_cycles;  // absent when the page gives 0
    std::optional<unsigned> life_used;             // the extended SMART page's life used, percent
    std::optional<unsigned> life_remaining;        // and its life remaining, percent
    // From the same NVMe page as the health figures; absent without it.
    std::optional<unsigned> critical_warning;  // the bits, see kCriticalWarnings
    std::optional<unsigned> spare_threshold;   // percent
    std::optional<std::uint64_t> error_log_entries;
    // The thresholds the NVMe Identify page declares; absent when it declares none (0 K).
    std::optional<std::int32_t> warning_temperature_celsius;
    std::optional<std::int32_t> critical_temperature_celsius;

    // The figures above and beside them whole, for the outputs that show one at any size (the
    // --health summary, the HTML report). The NVMe counters in their 128 bits, present with the
    // health figures.
    struct NvmeCounters {
        Uint128 power_on_hours{};
        Uint128 power_cycles{};
        Uint128 unsafe_shutdowns{};
        Uint128 media_errors{};
        Uint128 data_units_read{};  // of kBytesPerDataUnit bytes
        Uint128 data_units_written{};
    };
    std::optional<NvmeCounters> counters;
    // The extended SMART page's life records at any value: life_used and life_remaining keep
    // those up to 65,535 only, the others being no percentage a history can hold.
    std::optional<std::uint64_t> life_used_record;
    std::optional<std::uint64_t> life_remaining_record;
    // Its chip temperature and the highest it has seen, Celsius; absent above 999, which no chip
    // reaches.
    std::optional<std::uint64_t> chip_temperature_celsius;
    std::optional<std::uint64_t> highest_temperature_celsius;
    // The system status page's power-on time (sysinfo).
    std::optional<std::uint64_t> system_power_on_seconds;
    // The flash's own counters as the firmware gives them (sysinfo); none known without it.
    FlashCounts flash_counters;
};

KeyFigures key_figures(const DriveModel& drive);

// What the drive is built from, as the monitoring metrics label it; each text empty when the run
// did not read it.
struct DriveMakeup {
    std::string controller;  // "TK5021", from the info page's controller id
    // The first flash package's, as the flash ID decoder names them: "Toshiba", "112L BiCS5",
    // "TLC".
    std::string flash_maker;
    std::string flash_node;
    std::string flash_cell_type;
};

DriveMakeup drive_makeup(const DriveModel& drive);

}  // namespace torvik
