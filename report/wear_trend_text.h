// The drive's wear over time in words: the --health block's Trend line and the text beside the
// HTML page's chart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace torvik {

struct WearTrend;

// "37 runs over 412 days, 48.20 GB written a day, 0.31% used per 30 days; 100% used about
// 2031-04-18 (an estimate from 30 runs, 2025-12-08 to 2026-12-08)", or "3 runs over 0.5 days; not
// enough history (...)". A rate that is unknown, or not a finite number, is left out.
std::string trend_summary(const WearTrend& trend);

// A rate with two decimals ("0.31", "-1.25"), rounded in whole hundredths so every C library
// prints the same; absent when it is not finite or too large to be a rate of a real drive.
std::optional<std::string> two_decimals(double value);

// The UTC date of a moment, "2031-04-18" (years 0 to 9999, clamped).
std::string utc_date(std::int64_t seconds);

}  // namespace torvik
