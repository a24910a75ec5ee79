// The flash's own counters that a drive's history keeps: grown (later) bad blocks, blocks that
// failed to program, erase or read, reads whose retries failed and RAID ECC recoveries that
// failed, from the firmware's flash status counters (sysinfo page). The firmware gives them
// without a promise, its d1 and d2 d3 members with no further meaning: they are kept and shown as
// read, said when they rise, and never judged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/controller_pages.h"

namespace torvik {

struct FlashCounterDef {
    const char* key;     // the history line's key, and the field of the note when it rises
    std::size_t row;     // in kFlashStatusFields
    const char* words;   // how the note names it
    const char* family;  // of the metrics, after "torvik_pssd_flash_"
    const char* member;  // the pair's member as the metrics label it; "" for a single counter
};

// In the history line's order, a pair's members together.
inline constexpr FlashCounterDef kFlashCounters[] = {
    {"later_bad_blocks", field_index(kFlashStatusFields, "total_later_bad_physical_block_count"),
     "Later bad blocks", "later_bad_blocks", ""},
    {"program_fail_d1", field_index(kFlashStatusFields, "total_program_fail_block_count_d1"),
     "Program fail blocks d1", "program_fail_blocks", "d1"},
    {"program_fail_d23", field_index(kFlashStatusFields, "total_program_fail_block_count_d2_d3"),
     "Program fail blocks d2 d3", "program_fail_blocks", "d2_d3"},
    {"erase_fail_d1", field_index(kFlashStatusFields, "total_erase_fail_block_count_d1"),
     "Erase fail blocks d1", "erase_fail_blocks", "d1"},
    {"erase_fail_d23", field_index(kFlashStatusFields, "total_erase_fail_block_count_d2_d3"),
     "Erase fail blocks d2 d3", "erase_fail_blocks", "d2_d3"},
    {"read_fail_d1", field_index(kFlashStatusFields, "total_read_fail_block_count_d1"),
     "Read fail blocks d1", "read_fail_blocks", "d1"},
    {"read_fail_d23", field_index(kFlashStatusFields, "total_read_fail_block_count_d2_d3"),
     "Read fail blocks d2 d3", "read_fail_blocks", "d2_d3"},
    {"read_retry_fail_d1", field_index(kFlashStatusFields, "read_flash_unc_retry_fail_count_d1"),
     "Read retry fails d1", "read_retry_fails", "d1"},
    {"read_retry_fail_d23",
     field_index(kFlashStatusFields, "read_flash_unc_retry_fail_count_d2_d3"),
     "Read retry fails d2 d3", "read_retry_fails", "d2_d3"},
    {"raid_recovery_fail_d1", field_index(kFlashStatusFields, "raid_ecc_recovery_fail_count_d1"),
     "RAID recovery fails d1", "raid_recovery_fails", "d1"},
    {"raid_recovery_fail_d23",
     field_index(kFlashStatusFields, "raid_ecc_recovery_fail_count_d2_d3"),
     "RAID recovery fails d2 d3", "raid_recovery_fails", "d2_d3"},
};
inline constexpr std::size_t kFlashCounterCount = std::size(kFlashCounters);

// The counters of one run, by their row of kFlashCounters.
struct FlashCounts {
    std::array<std::uint64_t, kFlashCounterCount> value{};
    std::uint32_t known = 0;  // bit i: value[i] was read
    static_assert(kFlashCounterCount <= 32);

    bool has(std::size_t i) const { return (known >> i & 1U) != 0; }
    void set(std::size_t i, std::uint64_t v) {
        value[i] = v;
        known |= 1U << i;
    }
};

// Every counter, from the decoded sysinfo page.
inline FlashCounts flash_counts(const StatusCounters& status) {
    FlashCounts counts;
    for (std::size_t i = 0; i < kFlashCounterCount; ++i)
        counts.set(i, status.flash[kFlashCounters[i].row]);
    return counts;
}

// A counter that rose between the first and the last run of a trend's window that hold it.
struct FlashCounterRise {
    std::size_t counter = 0;  // its row of kFlashCounters
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::int64_t first_time = 0;
    std::int64_t last_time = 0;
};

// "Later bad blocks 12 to 40 since 2026-10-01: +28 in 68 days".
std::string flash_rise_text(const FlashCounterRise& rise);

struct WearTrend;
struct HealthAssessment;

// A note for each counter that rose over the trend's window, in the order of kFlashCounters,
// after the reasons already there. The verdict stays as it is.
void note_flash_counters(HealthAssessment& health, const WearTrend& trend);

}  // namespace torvik
