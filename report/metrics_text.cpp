#include "report/metrics_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "common/uint128.h"
#include "model/drive_model.h"
#include "model/key_figures.h"
#include "model/nvme_pages.h"

namespace torvik {

namespace {

// The families in the order the file lists them. Figures of a counter that only grows over the
// drive's life are counters (_total); the rest are gauges.
enum Family : std::size_t {
    kBuildInfo,
    kScanDrives,
    kScanTime,
    kScanError,
    kInfo,
    kHealth,
    kHealthReason,
    kRunSuccess,
    kLastRun,
    kFailedCommands,
    kPercentageUsed,
    kAvailableSpare,
    kTemperature,
    kPowerOn,
    kPowerCycles,
    kUnsafeShutdowns,
    kMediaErrors,
    kDataRead,
    kDataWritten,
    kAverageErase,
    kRatedErase,
    kWornOutEstimate,
    kWornOutLatest,
    kCriticalWarning,
    kSpareThreshold,
    kWarningTemperature,
    kCriticalTemperature,
    kErrorLogEntries,
    kVendorLifeUsed,
    kVendorLifeRemaining,
    kFlashLaterBadBlocks,  // the flash's own counters, one family each, in kFlashCounters' order
    kFlashProgramFail,
    kFlashEraseFail,
    kFlashReadFail,
    kFlashReadRetry,
    kFlashRaidRecovery,
    kFlashBytes,
    kOfferedBytes,
    kCapacityExceedsFlash,
    kHealthNote,
    kFamilyCount
};

struct FamilyText {
    const char* name;
    const char* type;
    const char* help;
};

constexpr std::array<FamilyText, kFamilyCount> kFamilies = {{
    {"torvik_pssd_build_info", "gauge",
     "The tool that wrote the file: its version and platform in the labels; always 1."},
    {"torvik_pssd_scan_drives", "gauge", "USB drives the --all pass found."},
    {"torvik_pssd_scan_timestamp_seconds", "gauge",
     "When the --all pass scanned for drives, in seconds since 1970 UTC."},
    {"torvik_pssd_scan_error", "gauge",
     "1 when the --all pass may have missed drives, by cause: no_access, a drive it could not "
     "open or ask for its bus for lack of rights."},
    {"torvik_pssd_info", "gauge",
     "The examined drive's identity and make-up in its labels; always 1."},
    {"torvik_pssd_health", "gauge",
     "The health verdict as a state set: 1 for the drive's verdict, 0 for the other three."},
    {"torvik_pssd_health_reason", "gauge",
     "One series per warning or failed line of the health verdict: the line's level and its "
     "figure's key in the labels; always 1."},
    {"torvik_pssd_run_success", "gauge",
     "1 when the run examined the drive, 0 when it could not (another bus, no access)."},
    {"torvik_pssd_last_run_timestamp_seconds", "gauge",
     "When the run took place, in seconds since 1970 UTC."},
    {"torvik_pssd_failed_commands", "gauge", "Commands of the run that failed."},
    {"torvik_pssd_percentage_used_ratio", "gauge",
     "The drive's estimate of its rated life used, 0 to 1; may pass 1."},
    {"torvik_pssd_available_spare_ratio", "gauge",
     "Spare capacity left, as a share of the original."},
    {"torvik_pssd_temperature_celsius", "gauge", "The drive's composite temperature."},
    {"torvik_pssd_power_on_seconds_total", "counter",
     "Time the drive has been powered on, counted in whole hours."},
    {"torvik_pssd_power_cycles_total", "counter", "Power cycles of the drive."},
    {"torvik_pssd_unsafe_shutdowns_total", "counter",
     "Times the drive lost power without being told first."},
    {"torvik_pssd_media_errors_total", "counter",
     "Unrecovered data integrity errors the controller met."},
    {"torvik_pssd_data_read_bytes_total", "counter",
     "Data the host read from the drive, counted in units of 512,000 bytes."},
    {"torvik_pssd_data_written_bytes_total", "counter",
     "Data the host wrote to the drive, counted in units of 512,000 bytes."},
    {"torvik_pssd_average_erase_cycles", "gauge",
     "Average program/erase cycles of the flash blocks, from the controller's own counters."},
    {"torvik_pssd_rated_erase_cycles", "gauge",
     "Program/erase cycles a flash block is rated for in its native mode."},
    {"torvik_pssd_projected_worn_out_timestamp_seconds", "gauge",
     "When the drive's wear is estimated to reach 100 % used, from its history (--history): "
     "NVMe percentage used, else the erase counts against the rated cycles or the vendor's life "
     "used; in seconds since 1970 UTC."},
    {"torvik_pssd_projected_worn_out_latest_timestamp_seconds", "gauge",
     "The latest date the drive's whole-number readings allow for 100 % used, from its history "
     "(--history); what the verdict's projected wear goes by; in seconds since 1970 UTC."},
    {"torvik_pssd_critical_warning", "gauge",
     "The NVMe critical warning, one series per bit: 1 when the drive sets it."},
    {"torvik_pssd_available_spare_threshold_ratio", "gauge",
     "The spare capacity below which the drive warns, as a share of the original."},
    {"torvik_pssd_warning_temperature_celsius", "gauge",
     "The composite temperature above which the drive warns, as it declares it."},
    {"torvik_pssd_critical_temperature_celsius", "gauge",
     "The composite temperature above which the drive is critical, as it declares it."},
    {"torvik_pssd_error_log_entries_total", "counter",
     "Error information log entries over the drive's life."},
    {"torvik_pssd_vendor_life_used_ratio", "gauge",
     "The controller's own figure of the rated life used, 0 to 1, from its extended SMART page."},
    {"torvik_pssd_vendor_life_remaining_ratio", "gauge",
     "The controller's own figure of the rated life left, 0 to 1, from its extended SMART page."},
    {"torvik_pssd_flash_later_bad_blocks", "gauge",
     "Later (grown) bad physical blocks of the flash: the firmware's own count, shown as read."},
    {"torvik_pssd_flash_program_fail_blocks", "gauge",
     "Flash blocks that failed to program, by member: the firmware's own counts, shown as read."},
    {"torvik_pssd_flash_erase_fail_blocks", "gauge",
     "Flash blocks that failed to erase, by member: the firmware's own counts, shown as read."},
    {"torvik_pssd_flash_read_fail_blocks", "gauge",
     "Flash blocks that failed to read, by member: the firmware's own counts, shown as read."},
    {"torvik_pssd_flash_read_retry_fails", "gauge",
     "Flash reads whose retries failed, by member: the firmware's own counts, shown as read."},
    {"torvik_pssd_flash_raid_recovery_fails", "gauge",
     "RAID ECC recoveries that failed, by member: the firmware's own counts, shown as read."},
    {"torvik_pssd_flash_bytes", "gauge",
     "The flash the populated banks hold, by the capacity per chip enable of their flash IDs."},
    {"torvik_pssd_offered_bytes", "gauge",
     "The capacity the drive offers: its last block address plus one, times 512."},
    {"torvik_pssd_capacity_exceeds_flash", "gauge",
     "1 when the health verdict fails the drive for offering more than its flash holds (or than "
     "the NVMe drive's total capacity), else 0."},
    {"torvik_pssd_health_note", "gauge",
     "A fact the health verdict notes without counting it, one series per note, its code in the "
     "field label; always 1."},
}};

// The family of a flash counter: the one named "torvik_pssd_flash_" and the counter's family.
Family flash_family(const FlashCounterDef& counter) {
    constexpr std::string_view kPrefix = "torvik_pssd_flash_";
    std::size_t f = kFlashLaterBadBlocks;
    while (f < kFlashRaidRecovery &&
           std::string_view(kFamilies[f].name).substr(kPrefix.size()) != counter.family)
        ++f;
    return static_cast<Family>(f);
}

// The NVMe critical warning's bits by the names the metric labels them with, bit 0 first.
constexpr const char* kCriticalWarningBits[] = {
    "spare", "temperature", "reliability", "read_only", "volatile_memory",
};
static_assert(std::size(kCriticalWarningBits) == std::size(kCriticalWarnings));

struct Sample {
    Family family;
    std::string labels;  // inside the braces
    std::string value;
};

std::string label(const char* name, std::string_view value) {
    return std::string(",") + name + "=\"" + metrics_label_value(value) + "\"";
}

// n / 100 in exact decimals: 2 -> "0.02", 150 -> "1.5", 100 -> "1".
std::string hundredths(unsigned n) {
    std::string text = std::to_string(n / 100);
    const unsigned rest = n % 100;
    if (rest != 0) {
        text += '.';
        text += static_cast<char>('0' + rest / 10);
        if (rest % 10 != 0)
            text += static_cast<char>('0' + rest % 10);
    }
    return text;
}

// The samples of one drive, in family order; a figure the run did not read has none.
// A drive's series are keyed by its identity, serial and model, which stay when the drive moves
// to another port or OS name; its path is a label of torvik_pssd_info alone. with_path puts it on
// every series: a drive the run could not reach (no identity: the path is all it has) and one
// whose identity another drive of the file repeats.
void drive_samples(const MetricsDrive& drive, bool with_path, std::vector<Sample>& out) {
    const KeyFigures k = drive.figures != nullptr ? *drive.figures : KeyFigures{};
    // A serial with bytes that are not printable ASCII shows them as U+FFFD in its label: its
    // bytes in hexadecimal tell such serials apart.
    const std::string hex = serial_hex(k.drive.serial);
    const std::string path = label("path", drive.path);
    const std::string keys = drive.model == nullptr
                                 ? path.substr(1)
                                 : label("serial", k.drive.serial).substr(1) +
                                       label("model", k.drive.model) +
                                       (hex.empty() ? std::string() : label("serial_hex", hex)) +
                                       (with_path ? path : std::string());
    auto add = [&](Family family, std::string value, const std::string& more = {}) {
        out.push_back(Sample{family, keys + more, std::move(value)});
    };
    auto add_count = [&](Family family, const std::optional<std::uint64_t>& value) {
        if (value)
            add(family, std::to_string(*value));
    };

    if (drive.model != nullptr) {
        const DriveMakeup m = drive_makeup(*drive.model);
        add(kInfo, "1",
            (with_path ? std::string() : path) + label("firmware", k.drive.firmware) +
                label("controller", m.controller) + label("flash_maker", m.flash_maker) +
                label("flash_node", m.flash_node) + label("flash_cell_type", m.flash_cell_type));
        for (const HealthVerdict verdict : {HealthVerdict::passed, HealthVerdict::warning,
                                            HealthVerdict::failed, HealthVerdict::unknown}) {
            add(kHealth, verdict == k.verdict ? "1" : "0", label("verdict", verdict_name(verdict)));
        }
        // What an alert shows as the reasons for the verdict: the lines that set it. The notes,
        // which do not count, keep a family of their own.
        for (const HealthReason& reason : drive.model->health.reasons) {
            if (reason.level == HealthLevel::warning || reason.level == HealthLevel::failed)
                add(kHealthReason, "1",
                    label("field", reason.field) + label("level", level_name(reason.level)));
            else if (reason.level == HealthLevel::note)
                add(kHealthNote, "1", label("field", reason.field));
        }
    }
    add(kRunSuccess, drive.model != nullptr ? "1" : "0");
    if (drive.run_time)
        add(kLastRun, std::to_string(*drive.run_time));
    if (drive.model == nullptr)
        return;
    add(kFailedCommands, std::to_string(drive.model->failures.size()));
    if (k.percentage_used)
        add(kPercentageUsed, hundredths(*k.percentage_used));
    if (k.available_spare)
        add(kAvailableSpare, hundredths(*k.available_spare));
    if (k.temperature_celsius)
        add(kTemperature, std::to_string(*k.temperature_celsius));
    if (k.power_on_hours) {
        constexpr std::uint32_t kSecondsPerHour = 3600;
        add(kPowerOn,
            decimal_text(saturating_multiply(Uint128{0, *k.power_on_hours}, kSecondsPerHour)).text);
    }
    add_count(kPowerCycles, k.power_cycles);
    add_count(kUnsafeShutdowns, k.unsafe_shutdowns);
    add_count(kMediaErrors, k.media_errors);
    add_count(kDataRead, k.data_read_bytes);
    add_count(kDataWritten, k.data_written_bytes);
    add_count(kAverageErase, k.average_erase_count);
    if (k.rated_pe_cycles)
        add(kRatedErase, std::to_string(*k.rated_pe_cycles));
    if (drive.model->trend && drive.model->trend->projected_end_time) {
        add(kWornOutEstimate, std::to_string(*drive.model->trend->projected_end_time));
        add(kWornOutLatest, std::to_string(drive.model->trend->latest_end_time));
    }
    if (k.critical_warning) {
        for (std::size_t bit = 0; bit < std::size(kCriticalWarningBits); ++bit) {
            add(kCriticalWarning, ((*k.critical_warning >> bit) & 1U) != 0 ? "1" : "0",
                label("bit", kCriticalWarningBits[bit]));
        }
    }
    if (k.spare_threshold)
        add(kSpareThreshold, hundredths(*k.spare_threshold));
    if (k.warning_temperature_celsius)
        add(kWarningTemperature, std::to_string(*k.warning_temperature_celsius));
    if (k.critical_temperature_celsius)
        add(kCriticalTemperature, std::to_string(*k.critical_temperature_celsius));
    add_count(kErrorLogEntries, k.error_log_entries);
    if (k.life_used)
        add(kVendorLifeUsed, hundredths(*k.life_used));
    if (k.life_remaining)
        add(kVendorLifeRemaining, hundredths(*k.life_remaining));
    for (std::size_t i = 0; i < kFlashCounterCount; ++i) {
        const FlashCounterDef& counter = kFlashCounters[i];
        if (k.flash_counters.has(i))
            add(flash_family(counter), std::to_string(k.flash_counters.value[i]),
                *counter.member == '\0' ? std::string() : label("member", counter.member));
    }
    if (const std::optional<FlashFigures>& flash = drive.model->flash) {
        if (flash->bytes)
            add(kFlashBytes, std::to_string(*flash->bytes));
        if (flash->offered_bytes)
            add(kOfferedBytes, decimal_text(*flash->offered_bytes).text);
        add(kCapacityExceedsFlash, flash->exceeds ? "1" : "0");
    }
}

}  // namespace

std::string metrics_label_value(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += "\xEF\xBF\xBD";  // U+FFFD in UTF-8
        } else {
            out += c;
        }
    }
    return out;
}

std::string metrics_text(std::span<const MetricsDrive> drives, const MetricsRun& run) {
    std::vector<Sample> samples;
    samples.push_back(
        Sample{kBuildInfo,
               label("version", run.version).substr(1) + label("platform", run.platform), "1"});
    if (run.scan_drives)
        samples.push_back(Sample{kScanDrives, {}, std::to_string(*run.scan_drives)});
    if (run.scan_time)
        samples.push_back(Sample{kScanTime, {}, std::to_string(*run.scan_time)});
    if (run.scan_no_access)
        samples.push_back(Sample{kScanError, label("cause", "no_access").substr(1),
                                 *run.scan_no_access ? "1" : "0"});
    for (const MetricsDrive& drive : drives) {
        const auto same_identity = [&](const MetricsDrive& other) {
            return other.model != nullptr && other.figures != nullptr &&
                   other.figures->drive.serial == drive.figures->drive.serial &&
                   other.figures->drive.model == drive.figures->drive.model;
        };
        const bool repeated = drive.model != nullptr && drive.figures != nullptr &&
                              std::count_if(drives.begin(), drives.end(), same_identity) > 1;
        drive_samples(drive, drive.model == nullptr || repeated, samples);
    }
    std::string text;
    for (std::size_t f = 0; f < kFamilyCount; ++f) {
        const FamilyText& family = kFamilies[f];
        bool first = true;
        for (const Sample& sample : samples) {
            if (sample.family != f)
                continue;
            if (first) {
                text += std::string("# HELP ") + family.name + " " + family.help + "\n# TYPE " +
                        family.name + " " + family.type + "\n";
                first = false;
            }
            text += std::string(family.name) +
                    (sample.labels.empty() ? std::string() : "{" + sample.labels + "}") + " " +
                    sample.value + "\n";
        }
    }
    return text;
}

}  // namespace torvik
