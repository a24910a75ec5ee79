// The drive's wear over time in words: the --health block's Trend line and the text beside the
// HTML page's chart.
#pragma once

#include <string>

namespace torvik {

struct WearTrend;

// "37 runs over 412 days, 48.20 GB written a day, 0.31% used per 30 days; 100% used about
// 2031-04, between 2030-06 and 2032-11, in 1,592 days (from percentage used, an estimate from 30
// runs, 2025-12-08 to 2026-12-08)", or "3 runs over 0.5 days; not enough history (...)". A rate
// that is unknown or not a finite number is left out, and so is a negative amount of data written
// a day.
std::string trend_summary(const WearTrend& trend);

// The time from the last run to the projected date: "1,592 days", "1 day".
std::string days_left(const WearTrend& trend);

}  // namespace torvik
