#include "model/wear_trend.h"

#include <limits>

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

void count(Counter& c, std::int64_t time, const std::optional<std::uint64_t>& value) {
    if (!value)
        return;
    if (!c.known) {
        c = Counter{true, time, time, *value, *value, *value, 0};
        return;
    }
    if (*value < c.raw)
        c.offset = saturated_sum(c.offset, c.raw);  // restarted from zero
    c.raw = *value;
    c.last = saturated_sum(c.offset, *value);
    c.last_time = time;
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

}  // namespace

WearTrendBuilder::WearTrendBuilder(std::int64_t now)
    : window_start_(now - std::int64_t{kWearWindowDays} * kSecondsPerDay) {
    chart_.reserve(kWearChartPoints);
}

void WearTrendBuilder::restart() {
    ++restarts_;
    records_ = 0;
    used_ = written_ = hours_ = erases_ = Counter{};
    n_ = 0;
    sx_ = sy_ = sxx_ = sxy_ = 0;
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

    if (point.percentage_used && point.time >= window_start_) {
        if (n_ == 0)
            line_start_ = point.time;
        line_end_ = point.time;
        const double x = static_cast<double>(point.time - line_start_) / kSecondsPerDayF;
        const double y = *point.percentage_used;
        ++n_;
        sx_ += x;
        sy_ += y;
        sxx_ += x * x;
        sxy_ += x * y;
    }

    // The chart keeps every stride-th point; when full, every other one goes and the stride
    // doubles, so the kept points stay evenly spread over the whole history.
    last_ = WearPoint{
        point.time, point.percentage_used, continued(written_, point.data_written_bytes),
        continued(hours_, point.power_on_hours), continued(erases_, point.average_erase_count)};
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

    t.window_records = n_;
    t.window_start = line_start_;
    t.window_end = line_end_;
    const double n = static_cast<double>(n_);
    const double spread = n * sxx_ - sx_ * sx_;
    if (n_ < 2) {
        t.not_projected =
            "not enough history: fewer than two records with percentage used in the "
            "last 365 days";
    } else if (line_end_ - line_start_ < kSecondsPerDay || spread <= 0) {
        t.not_projected = "not enough history: the records are less than a day apart";
    } else {
        t.slope_per_day = (n * sxy_ - sx_ * sy_) / spread;
        t.intercept = (sy_ - t.slope_per_day * sx_) / n;
        if (t.slope_per_day <= 0) {
            t.not_projected = "not enough history: no change in wear";
        } else {
            const double at =
                static_cast<double>(line_start_) +
                (static_cast<double>(kWornOut) - t.intercept) / t.slope_per_day * kSecondsPerDayF;
            // A date past the last one a time can show is kept just past it, so that the
            // outputs can say "after 9999" rather than name that last day.
            t.projected_end_time = at > static_cast<double>(kLastUtcSecond)
                                       ? kLastUtcSecond + 1
                                       : static_cast<std::int64_t>(at);
        }
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
