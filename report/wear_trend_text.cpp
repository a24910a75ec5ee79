#include "report/wear_trend_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "common/printable_text.h"
#include "common/utc_time.h"
#include "model/wear_trend.h"
#include "report/number_format.h"

namespace torvik {

namespace {

constexpr double kLargestRate = 1e15;

std::string runs(std::size_t count) {
    return grouped_digits(count) + (count == 1 ? " run" : " runs");
}

// Under ten days with a tenth ("0.5 days"), whole days from there on ("412 days").
std::string days(double elapsed) {
    if (!std::isfinite(elapsed) || elapsed < 0)
        return "an unknown time";
    if (elapsed < 9.95) {
        const long tenths = std::lround(elapsed * 10);
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " days";
    }
    const auto whole = static_cast<std::uint64_t>(std::llround(std::fmin(elapsed, kLargestRate)));
    return grouped_digits(whole) + " days";
}

// A rate with two decimals ("0.31", "-1.25"), rounded in whole hundredths so every C library
// prints the same; absent when it is not finite or too large to be a rate of a real drive.
std::optional<std::string> two_decimals(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= kLargestRate)
        return std::nullopt;
    const long long hundredths = std::llround(value * 100);
    const unsigned long long magnitude = hundredths < 0
                                             ? 0ULL - static_cast<unsigned long long>(hundredths)
                                             : static_cast<unsigned long long>(hundredths);
    char text[40];
    std::snprintf(text, sizeof text, "%s%llu.%02llu", hundredths < 0 ? "-" : "", magnitude / 100,
                  magnitude % 100);
    return text;
}

// The UTC date of a moment, "2031-04-18" (years 0 to 9999, clamped).
std::string utc_date(std::int64_t seconds) {
    return format_utc_time(seconds).substr(0, 10);
}

}  // namespace

std::string days_left(const WearTrend& trend) {
    const std::int64_t days = days_until(trend.projected_end_time.value_or(0), trend.last_time);
    return grouped_digits(static_cast<std::uint64_t>(days)) + (days == 1 ? " day" : " days");
}

std::string trend_summary(const WearTrend& trend) {
    std::string out = runs(trend.records);
    if (trend.records > 1)
        out += " over " + days(trend.elapsed_days);
    if (trend.bytes_written_per_day && std::isfinite(*trend.bytes_written_per_day) &&
        *trend.bytes_written_per_day >= 0)
        out += ", " + decimal_bytes(*trend.bytes_written_per_day) + " written a day";
    if (trend.percentage_used_per_30_days) {
        if (const auto rate = two_decimals(*trend.percentage_used_per_30_days))
            out += ", " + *rate + "% used per 30 days";
    }
    if (trend.pe_cycles_per_30_days) {
        if (const auto rate = two_decimals(*trend.pe_cycles_per_30_days))
            out += ", " + *rate + " P/E cycles per 30 days";
    }
    if (!trend.projected_end_time) {
        const std::string why = printable_text(trend.not_projected.c_str());
        return out + "; " + (why.empty() ? std::string("no projection") : why);
    }
    out += "; 100% used " + projected_months(trend);
    if (*trend.projected_end_time <= kLastUtcSecond)
        out += ", in " + days_left(trend);
    return out + " (from " + trend_source_words(trend.source) + ", an estimate from " +
           runs(trend.window_records) + ", " + utc_date(trend.window_start) + " to " +
           utc_date(trend.window_end) + ")";
}

}  // namespace torvik
