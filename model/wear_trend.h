// How fast a drive wears, from its own history: the records of earlier runs of the same drive
// and the current run, fed in time order. Only a bounded number of points is kept, whatever the
// length of the history.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/flash_counters.h"
#include "model/health_verdict.h"

namespace torvik {

// One run of the drive, as its history line or the current run holds it.
struct WearPoint {
    std::int64_t time = 0;  // seconds since 1970 UTC
    std::optional<unsigned> percentage_used;
    std::optional<std::uint64_t> data_written_bytes;
    std::optional<std::uint64_t> power_on_hours;
    std::optional<std::uint64_t> average_erase_count;
    std::optional<std::uint32_t> rated_pe_cycles;  // what the erase count is measured against
    std::optional<unsigned> life_used;             // the vendor pages' life used, in percent
    FlashCounts flash{};                           // the flash's own counters, as read
};

// What the projection of wear rests on: the first of these whose records give one.
enum class TrendSource {
    percentage_used,  // the NVMe log's percentage used
    erase_counts,     // the average erase count against the rated P/E cycles
    vendor_life,      // the vendor pages' life used figure
};

// "percentage_used", "erase_counts", "vendor_life"; and in words: "percentage used", ...
const char* trend_source_name(TrendSource source);
const char* trend_source_words(TrendSource source);

inline constexpr std::size_t kWearChartPoints = 500;  // at most, thinned evenly
inline constexpr int kWearWindowDays = 365;           // the projection rests on these last days
// A projection of 100 % used within fewer days than these makes the verdict WARNING; the alert
// rule shipped beside the metrics uses the same horizon.
inline constexpr int kWearHorizonDays = 90;

struct WearTrend {
    std::size_t records = 0;      // points of the drive counted, the current run included
    std::int64_t first_time = 0;  // the first and last of them
    std::int64_t last_time = 0;
    double elapsed_days = 0;
    std::optional<double> bytes_written_per_day;
    std::optional<double> percentage_used_per_30_days;
    std::optional<double> pe_cycles_per_30_days;  // where the erase count is known

    // The least-squares line of the source's percentage over the window's points, and when it
    // reaches 100 % (kLastUtcSecond + 1 for any time after 9999); absent with the reason in
    // not_projected ("not enough history" and why) and not_projected_code ("too_few_records",
    // "too_short", "no_change", "within_one_step", or "reached" for a drive at or past 100 %
    // already).
    //
    // Every source is a whole-number reading: a reading v stands for a true value in [v, v + 1).
    // Over the window, from its first reading f to its last l in t days, the wear gained is at
    // least l - f - 1 steps and at most l - f + 1, which bounds the date of 100 % (in steps:
    // percent, or erase cycles against the rated cycles):
    //   latest   = last run + (100 - l) / ((l - f - 1) / t)
    //   earliest = last run + (100 - l - 1) / ((l - f + 1) / t), never before the last run,
    // and the line's date is clamped between them. With l - f - 1 at zero or less the pace cannot
    // be told: no projection ("within_one_step").
    TrendSource source = TrendSource::percentage_used;
    std::optional<std::int64_t> projected_end_time;
    std::int64_t earliest_end_time = 0;  // set with projected_end_time, in the same terms
    std::int64_t latest_end_time = 0;
    std::int64_t window_start = 0;  // the first and last time the line rests on
    std::int64_t window_end = 0;
    std::size_t window_records = 0;
    double slope_per_day = 0;  // percentage used per day, and its value at window_start
    double intercept = 0;
    std::string not_projected;
    const char* not_projected_code = "";

    // Records that did not simply rise: counters that restarted from zero, falls of percentage used
    // (the trend started again), records not later than the one before; and the file's records of
    // other drives, which the trend left out (counted by the reader of the file).
    std::size_t controller_resets = 0;
    std::size_t restarts = 0;
    std::size_t out_of_order = 0;
    std::size_t other_drive = 0;

    // For the chart: the points in time order, at most kWearChartPoints.
    std::vector<WearPoint> chart;

    // The flash's own counters that rose from the first to the last run of the window
    // (kWearWindowDays) that hold them, in the order of kFlashCounters; each is compared as read,
    // so one that fell (a firmware that restarted its count) is not among them.
    std::vector<FlashCounterRise> flash_rises;
};

// The reason a projection whose latest date of 100 % used lies within kWearHorizonDays of now
// gives the verdict, last among the reasons (field "projected_wear"), WARNING at least; nothing
// otherwise.
void judge_projected_wear(HealthAssessment& health, const WearTrend& trend, std::int64_t now);

// The time left as every output says it: whole days from now to a date, none before now.
std::int64_t days_until(std::int64_t end, std::int64_t now);

// The projected dates in words: "about 2027-05, between 2027-03 and 2027-09" (a date after 9999
// as "after 9999"); empty without a projection.
std::string projected_months(const WearTrend& trend);

// Builds a WearTrend from one drive's points fed in time order, the current run last, in
// bounded memory: running sums for the line, a chart thinned evenly as it fills.
//
// The rules, for records that do not simply rise:
// - A point whose time is not after the previous counted one (a history appended out of order,
//   or a clock set back) is skipped and counted in out_of_order(): it cannot be sorted in
//   without keeping every point.
// - Percentage used never falls on one drive: a fall means another drive under the same name
//   (or a reset of its wear record), so the trend starts again from that point and the earlier
//   points no longer count (restarts()).
// - Data written, power-on hours and the erase count that fall are counters that restarted from
//   zero (a controller reset): they continue from where they stood, the new value added on top,
//   and the chart shows them continued.
// - Rates need points at least a day apart; a shorter span gives none.
// - The flash's own counters are kept as read, first and last, over the window's points.
class WearTrendBuilder {
  public:
    // now: the current run's time; the line rests on the points of the kWearWindowDays before.
    explicit WearTrendBuilder(std::int64_t now);

    // False when the point was skipped (not after the previous one).
    bool add(const WearPoint& point);
    WearTrend finish() const;

    std::size_t out_of_order() const { return out_of_order_; }
    std::size_t restarts() const { return restarts_; }
    std::size_t controller_resets() const { return controller_resets_; }

    // A counter that may restart from zero, continued across restarts.
    struct Counter {
        bool known = false;
        std::int64_t first_time = 0;
        std::int64_t last_time = 0;
        std::uint64_t first = 0;  // continued values
        std::uint64_t last = 0;
        std::uint64_t raw = 0;     // the last value as the drive gave it
        std::uint64_t offset = 0;  // what earlier restarts add
    };

    // The running sums of one source's least-squares line; x in days from its first point.
    // The readings in the source's own steps ride along: the first and the last, and the
    // reading that stands for 100 % (100, or the rated cycles of the last point).
    struct Line {
        std::size_t n = 0;
        std::int64_t start = 0;
        std::int64_t end = 0;
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        double last = 0;  // the last value added
        double first_reading = 0, last_reading = 0, full_reading = 100;
        void add(std::int64_t time, double value, double reading, double full);
    };

    // A flash counter's first and last reading in the window.
    struct FlashSpan {
        std::int64_t first_time = 0;
        std::int64_t last_time = 0;
        std::uint64_t first = 0;
        std::uint64_t last = 0;
    };

  private:
    void restart();
    void count(Counter& c, std::int64_t time, const std::optional<std::uint64_t>& value);
    void count_flash(std::int64_t time, const FlashCounts& counts);

    std::int64_t window_start_;
    std::size_t out_of_order_ = 0;
    std::size_t restarts_ = 0;
    std::size_t controller_resets_ = 0;

    std::size_t records_ = 0;
    std::int64_t first_time_ = 0;
    std::int64_t last_time_ = 0;
    std::optional<unsigned> last_used_;
    Counter used_;
    Counter written_;
    Counter hours_;
    Counter erases_;

    // The lines over the window's points, one for each source, by TrendSource.
    Line lines_[3];
    // The flash counters over the window's points, by their row of kFlashCounters; bit i of
    // flash_known_: flash_[i] holds a reading.
    std::array<FlashSpan, kFlashCounterCount> flash_{};
    std::uint32_t flash_known_ = 0;

    std::vector<WearPoint> chart_;
    std::size_t stride_ = 1;  // every stride-th point enters the chart
    std::size_t seen_ = 0;    // points since the last restart
    WearPoint last_{};
    bool last_in_chart_ = false;
};

}  // namespace torvik
