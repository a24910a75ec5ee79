#include "model/wear_trend.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "common/utc_time.h"
#include "model/health_verdict.h"

namespace torvik {

namespace {

using Counter = WearTrendBuilder::Counter;

constexpr double kSecondsPerDayF = static_cast<double>(kSecondsPerDay);
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
    return a > kMax64 - b ? kMax64 : a + b;
}

// The counter's rise per day over its span; none under a day.
std::optional<double> per_day(const Counter& c) {
    if (!c.known || c.last_time - c.first_time < kSecondsPerDay)
        return std::nullopt;
    const double days = static_cast<double>(c.last_time - c.first_time) / kSecondsPerDayF;
    return static_cast<double>(c.last - c.first) / days;
}

std::optional<double> per_30_days(const Counter& c) {
    const std::optional<double> day = per_day(c);
    return day ? std::optional<double>(*day * 30) : std::nullopt;
}

std::optional<std::uint64_t> continued(const Counter& c, const std::optional<std::uint64_t>& raw) {
    return raw ? std::optional<std::uint64_t>(c.last) : std::nullopt;
}

using Line = WearTrendBuilder::Line;

// A projected date: not before the last record, which is below 100 %. A date past the last one a
// time can show is kept just past it, so that the outputs can say "after 9999" rather than name
// that day.
std::int64_t end_time(double at, std::int64_t last) {
    return !(at <= static_cast<double>(kLastUtcSecond)) ? kLastUtcSecond + 1
           : at <= static_cast<double>(last)            ? last
                                                        : static_cast<std::int64_t>(at);
}

// The line of one source and when it reaches 100 %, into t; false with the reason set when it
// gives no date.
bool project(const Line& line, WearTrend& t) {
    const double n = static_cast<double>(line.n);
    const double spread = n * line.sxx - line.sx * line.sx;
    t.window_records = line.n;
    t.window_start = line.start;
    t.window_end = line.end;
    if (line.n > 0 && line.last >= kWornOut) {
        t.not_projected = "100% used reached";
        t.not_projected_code = "reached";
        return false;
    }
    if (line.n < 2) {
        t.not_projected = std::string("not enough history: fewer than two records with ") +
                          trend_source_words(t.source) + " in the last 365 days";
        t.not_projected_code = "too_few_records";
        return false;
    }
    if (line.end - line.start < kSecondsPerDay || spread <= 0) {
        t.not_projected = "not enough history: the records are less than a day apart";
        t.not_projected_code = "too_short";
        return false;
    }
    t.slope_per_day = (n * line.sxy - line.sx * line.sy) / spread;
    t.intercept = (line.sy - t.slope_per_day * line.sx) / n;
    if (!(t.slope_per_day > 0)) {
        t.not_projected = "not enough history: no change in wear";
        t.not_projected_code = "no_change";
        return false;
    }
    const double gained = line.last_reading - line.first_reading;  // in whole steps
    if (!(gained - 1 > 0)) {
        t.not_projected = std::string("not enough history: ") + trend_source_words(t.source) +
                          " moved by one step or less, so the pace cannot be told yet";
        t.not_projected_code = "within_one_step";
        return false;
    }
    const double end = static_cast<double>(line.end);
    const double days = (end - static_cast<double>(line.start)) / kSecondsPerDayF;
    const double left = line.full_reading - line.last_reading;
    const double latest = end + left / ((gained - 1) / days) * kSecondsPerDayF;
    const double earliest = end + std::max(left - 1, 0.0) / ((gained + 1) / days) * kSecondsPerDayF;
    const double central =
        static_cast<double>(line.start) +
        (static_cast<double>(kWornOut) - t.intercept) / t.slope_per_day * kSecondsPerDayF;
    t.earliest_end_time = end_time(earliest, line.end);
    t.latest_end_time = end_time(latest, line.end);
    t.projected_end_time =
        std::clamp(end_time(central, line.end), t.earliest_end_time, t.latest_end_time);
    t.not_projected.clear();
    t.not_projected_code = "";
    return true;
}

std::string year_month(std::int64_t time) {
    return time > kLastUtcSecond ? "after 9999" : format_utc_time(time).substr(0, 7);
}

}  // namespace

const char* trend_source_name(TrendSource source) {
    switch (source) {
        case TrendSource::erase_counts:
            return "erase_counts";
        case TrendSource::vendor_life:
            return "vendor_life";
        case TrendSource::percentage_used:
            break;
    }
    return "percentage_used";
}

const char* trend_source_words(TrendSource source) {
    switch (source) {
        case TrendSource::erase_counts:
            return "erase counts against the rated P/E cycles";
        case TrendSource::vendor_life:
            return "the vendor's life used figure";
        case TrendSource::percentage_used:
            break;
    }
    return "percentage used";
}

void WearTrendBuilder::Line::add(std::int64_t time, double value, double reading, double full) {
    if (n == 0) {
        start = time;
        first_reading = reading;
    }
    end = time;
    last_reading = reading;
    full_reading = full;
    const double x = static_cast<double>(time - start) / kSecondsPerDayF;
    ++n;
    sx += x;
    sy += value;
    sxx += x * x;
    sxy += x * value;
    last = value;
}

void WearTrendBuilder::count(Counter& c, std::int64_t time,
                             const std::optional<std::uint64_t>& value) {
    if (!value)
        return;
    if (!c.known) {
        c = Counter{true, time, time, *value, *value, *value, 0};
        return;
    }
    if (*value < c.raw) {
        c.offset = saturated_sum(c.offset, c.raw);  // restarted from zero
        ++controller_resets_;
    }
    c.raw = *value;
    c.last = saturated_sum(c.offset, *value);
    c.last_time = time;
}

std::int64_t days_until(std::int64_t end, std::int64_t now) {
    // In doubles, which hold every time a trend holds exactly, so that no difference overflows.
    return end <= now
               ? 0
               : static_cast<std::int64_t>((static_cast<double>(end) - static_cast<double>(now)) /
                                           kSecondsPerDayF);
}

std::string projected_months(const WearTrend& trend) {
    if (!trend.projected_end_time)
        return "";
    return (*trend.projected_end_time > kLastUtcSecond ? "" : "about ") +
           year_month(*trend.projected_end_time) + ", between " +
           year_month(trend.earliest_end_time) + " and " + year_month(trend.latest_end_time);
}

// Judged on the latest date the readings allow: a pace that one step more or less would change
// never raises a warning on its own.
void judge_projected_wear(HealthAssessment& health, const WearTrend& trend, std::int64_t now) {
    if (!trend.projected_end_time ||
        trend.latest_end_time - now >= std::int64_t{kWearHorizonDays} * kSecondsPerDay)
        return;
    const std::int64_t days = days_until(*trend.projected_end_time, now);
    const std::string runs =
        std::to_string(trend.window_records) + (trend.window_records == 1 ? " run" : " runs");
    std::string text = "projected to reach 100% used " + projected_months(trend) + " (in " +
                       std::to_string(days) + (days == 1 ? " day" : " days") + ", from " + runs +
                       ")";
    if (trend.source != TrendSource::percentage_used)
        text += std::string(" by ") + trend_source_words(trend.source);
    health.reasons.push_back(HealthReason{HealthLevel::warning, "projected_wear",
                                          Uint128{0, static_cast<std::uint64_t>(days)}, "days",
                                          std::move(text), "history"});
    if (health.verdict == HealthVerdict::passed || health.verdict == HealthVerdict::unknown)
        health.verdict = HealthVerdict::warning;
}

WearTrendBuilder::WearTrendBuilder(std::int64_t now)
    : window_start_(now - std::int64_t{kWearWindowDays} * kSecondsPerDay) {
    chart_.reserve(kWearChartPoints);
}

void WearTrendBuilder::count_flash(std::int64_t time, const FlashCounts& counts) {
    for (std::size_t i = 0; i < kFlashCounterCount; ++i) {
        if (!counts.has(i))
            continue;
        FlashSpan& span = flash_[i];
        if ((flash_known_ >> i & 1U) == 0) {
            span.first_time = time;
            span.first = counts.value[i];
            flash_known_ |= 1U << i;
        }
        span.last_time = time;
        span.last = counts.value[i];
    }
}

void WearTrendBuilder::restart() {
    ++restarts_;
    records_ = 0;
    used_ = written_ = hours_ = erases_ = Counter{};
    for (Line& line : lines_)
        line = Line{};
    flash_known_ = 0;
    chart_.clear();
    stride_ = 1;
    seen_ = 0;
}

bool WearTrendBuilder::add(const WearPoint& point) {
    if (records_ > 0 && point.time <= last_time_) {
        ++out_of_order_;
        return false;
    }
    if (records_ > 0 && point.percentage_used && last_used_ && *point.percentage_used < *last_used_)
        restart();
    if (records_ == 0)
        first_time_ = point.time;
    ++records_;
    last_time_ = point.time;
    if (point.percentage_used)
        last_used_ = point.percentage_used;

    count(used_, point.time, point.percentage_used);
    count(written_, point.time, point.data_written_bytes);
    count(hours_, point.time, point.power_on_hours);
    count(erases_, point.time, point.average_erase_count);

    if (point.time >= window_start_) {
        if (point.percentage_used)
            lines_[0].add(point.time, *point.percentage_used, *point.percentage_used, kWornOut);
        if (point.average_erase_count && point.rated_pe_cycles && *point.rated_pe_cycles != 0) {
            const auto erases = static_cast<double>(erases_.last);
            const auto rated = static_cast<double>(*point.rated_pe_cycles);
            lines_[1].add(point.time, erases * 100.0 / rated, erases, rated);
        }
        if (point.life_used)
            lines_[2].add(point.time, *point.life_used, *point.life_used, kWornOut);
        if (point.flash.known != 0)
            count_flash(point.time, point.flash);
    }

    // The chart keeps every stride-th point; when full, every other one goes and the stride
    // doubles, so the kept points stay evenly spread over the whole history.
    last_ = WearPoint{point.time,
                      point.percentage_used,
                      continued(written_, point.data_written_bytes),
                      continued(hours_, point.power_on_hours),
                      continued(erases_, point.average_erase_count),
                      point.rated_pe_cycles,
                      point.life_used,
                      point.flash};
    last_in_chart_ = false;
    if (seen_++ % stride_ == 0) {
        if (chart_.size() == kWearChartPoints) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < chart_.size(); i += 2)
                chart_[kept++] = chart_[i];
            chart_.resize(kept);
            stride_ *= 2;
        }
        if ((seen_ - 1) % stride_ == 0) {
            chart_.push_back(last_);
            last_in_chart_ = true;
        }
    }
    return true;
}

WearTrend WearTrendBuilder::finish() const {
    WearTrend t;
    t.records = records_;
    t.first_time = first_time_;
    t.last_time = last_time_;
    t.elapsed_days = static_cast<double>(last_time_ - first_time_) / kSecondsPerDayF;
    t.bytes_written_per_day = per_day(written_);
    t.percentage_used_per_30_days = per_30_days(used_);
    t.pe_cycles_per_30_days = per_30_days(erases_);

    t.controller_resets = controller_resets_;
    t.restarts = restarts_;
    t.out_of_order = out_of_order_;
    // The first source that gives a date; else the reason of the first one the records hold at
    // all (or of percentage used when they hold none).
    std::optional<WearTrend> first_reason;
    for (const TrendSource source :
         {TrendSource::percentage_used, TrendSource::erase_counts, TrendSource::vendor_life}) {
        const Line& line = lines_[static_cast<std::size_t>(source)];
        if (line.n == 0 && source != TrendSource::percentage_used)
            continue;
        WearTrend tried = t;
        tried.source = source;
        if (project(line, tried)) {
            t = std::move(tried);
            first_reason.reset();
            break;
        }
        if (!first_reason || (first_reason->window_records == 0 && line.n > 0))
            first_reason = std::move(tried);
        if (std::string_view(first_reason->not_projected_code) == "reached")
            break;
    }
    if (first_reason)
        t = std::move(*first_reason);

    for (std::size_t i = 0; i < kFlashCounterCount; ++i) {
        const FlashSpan& span = flash_[i];
        if ((flash_known_ >> i & 1U) != 0 && span.last > span.first)
            t.flash_rises.push_back(
                FlashCounterRise{i, span.first, span.last, span.first_time, span.last_time});
    }

    t.chart = chart_;
    if (!last_in_chart_ && records_ > 0) {
        if (t.chart.size() == kWearChartPoints)
            t.chart.back() = last_;
        else
            t.chart.push_back(last_);
    }
    return t;
}

}  // namespace torvik
