// How fast a drive wears, from its own history: the records of earlier runs of the same drive
// and the current run, fed in time order. Only a bounded number of points is kept, whatever the
// length of the history.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torvik {

// One run of the drive, as its history line or the current run holds it.
struct WearPoint {
    std::int64_t time = 0;  // seconds since 1970 UTC
    std::optional<unsigned> percentage_used;
    std::optional<std::uint64_t> data_written_bytes;
    std::optional<std::uint64_t> power_on_hours;
    std::optional<std::uint64_t> average_erase_count;
};

inline constexpr std::size_t kWearChartPoints = 500;  // at most, thinned evenly
inline constexpr int kWearWindowDays = 365;           // the projection rests on these last days

struct WearTrend {
    std::size_t records = 0;      // points of the drive counted, the current run included
    std::int64_t first_time = 0;  // the first and last of them
    std::int64_t last_time = 0;
    double elapsed_days = 0;
    std::optional<double> bytes_written_per_day;
    std::optional<double> percentage_used_per_30_days;
    std::optional<double> pe_cycles_per_30_days;  // where the erase count is known

    // The least-squares line of percentage used over the window's points, and when it reaches
    // 100 %; absent with the reason in not_projected ("not enough history" and why).
    std::optional<std::int64_t> projected_end_time;
    std::int64_t window_start = 0;  // the first and last time the line rests on
    std::int64_t window_end = 0;
    std::size_t window_records = 0;
    double slope_per_day = 0;  // percentage used per day, and its value at window_start
    double intercept = 0;
    std::string not_projected;

    // For the chart: the points in time order, at most kWearChartPoints.
    std::vector<WearPoint> chart;
};

}  // namespace torvik
