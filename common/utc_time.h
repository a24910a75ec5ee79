// A moment in UTC as ISO 8601 text, "2026-03-14T09:26:53Z", and back. Plain calendar arithmetic
// over seconds since 1970-01-01 00:00 UTC (the proleptic Gregorian calendar), so no time zone or
// locale is ever consulted.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace torvik {

namespace detail {

// Days since 1970-01-01 of a civil date, and back: the eras of 400 years repeat exactly.
constexpr std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

constexpr CivilDate civil_from_days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return CivilDate{static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

}  // namespace detail

inline constexpr std::int64_t kSecondsPerDay = 86400;

// Years 0 to 9999 only, so the text always has its fixed width.
inline constexpr std::int64_t kFirstUtcSecond = -62167219200;  // 0000-01-01T00:00:00Z
inline constexpr std::int64_t kLastUtcSecond = 253402300799;   // 9999-12-31T23:59:59Z

// Every time the tool reads or writes (a run's time, a history line's, SOURCE_DATE_EPOCH) lies in
// 1970-01-01T00:00:00Z to 9999-12-31T23:59:59Z: differences of two never overflow, and the number
// and its text always say the same moment.
inline constexpr std::int64_t kFirstRunSecond = 0;
inline constexpr bool is_run_time(std::int64_t seconds) {
    return seconds >= kFirstRunSecond && seconds <= kLastUtcSecond;
}

// A run time given as text (SOURCE_DATE_EPOCH): decimal digits only, no sign, space or exponent,
// in the range above. False for anything else.
inline bool parse_run_seconds(std::string_view text, std::int64_t& seconds) {
    constexpr std::size_t kMaxDigits = 19;  // leading zeros aside, the range needs 12
    if (text.empty() || text.size() > kMaxDigits)
        return false;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > kLastUtcSecond)
            return false;
    }
    seconds = value;
    return true;
}

// "YYYY-MM-DDTHH:MM:SSZ"; a moment outside years 0 to 9999 is clamped to the nearest end.
inline std::string format_utc_time(std::int64_t seconds) {
    seconds = seconds < kFirstUtcSecond ? kFirstUtcSecond : seconds;
    seconds = seconds > kLastUtcSecond ? kLastUtcSecond : seconds;
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const detail::CivilDate date = detail::civil_from_days(days);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year),
                  date.month, date.day, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

// The text format_utc_time writes, exactly; false for anything else (another form, a date that
// does not exist, a time past 23:59:59).
inline bool parse_utc_time(std::string_view text, std::int64_t& seconds) {
    constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kShape.size())
        return false;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i])
            return false;
    }
    const auto number = [text](std::size_t at, std::size_t width) {
        unsigned value = 0;
        for (std::size_t i = at; i < at + width; ++i)
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
        return value;
    };
    const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return false;
    const std::int64_t days = detail::days_from_civil(year, month, day);
    if (detail::civil_from_days(days).day != day)
        return false;  // 31 April, 29 February of a common year
    seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return true;
}

}  // namespace torvik
