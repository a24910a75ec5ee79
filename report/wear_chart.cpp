#include "report/wear_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/utc_time.h"
#include "model/wear_trend.h"
#include "report/html_report.h"
#include "report/number_format.h"
#include "report/wear_trend_text.h"

namespace torvik {

namespace {

// The drawing in viewBox units: a plot area kPlotWidth wide right of the y labels, one panel of
// kPanelHeight per series, the date labels under the last.
constexpr double kWidth = 720;
constexpr double kLeft = 72;
constexpr double kPlotWidth = 628;
constexpr double kPanelTitle = 22;
constexpr double kPanelHeight = 130;
constexpr double kPanelGap = 18;
constexpr double kDateLabels = 24;
constexpr double kDay = 86400;

// No coordinate leaves this range: a finite number in plain decimals, whatever it was computed
// from.
constexpr double kFarOff = 1e6;

std::string coordinate(double value) {
    if (!std::isfinite(value))
        value = 0;
    const long long tenths = std::llround(std::clamp(value, -kFarOff, kFarOff) * 10);
    const unsigned long long magnitude = tenths < 0 ? 0ULL - static_cast<unsigned long long>(tenths)
                                                    : static_cast<unsigned long long>(tenths);
    char text[32];
    std::snprintf(text, sizeof text, "%s%llu.%llu", tenths < 0 ? "-" : "", magnitude / 10,
                  magnitude % 10);
    return text;
}

std::string point(double x, double y) {
    return coordinate(x) + "," + coordinate(y);
}

std::string text(double x, double y, const char* anchor, const std::string& words) {
    return "<text x=\"" + coordinate(x) + "\" y=\"" + coordinate(y) + "\" text-anchor=\"" + anchor +
           "\">" + html_escape(words) + "</text>";
}

std::string line(double x1, double y1, double x2, double y2, const char* attributes) {
    return "<line x1=\"" + coordinate(x1) + "\" y1=\"" + coordinate(y1) + "\" x2=\"" +
           coordinate(x2) + "\" y2=\"" + coordinate(y2) + "\" " + attributes + "/>";
}

// The points the chart draws: the model's, and never more than kWearChartPoints of them, taken
// evenly from the first to the last.
std::vector<WearPoint> chart_points(const std::vector<WearPoint>& all) {
    if (all.size() <= kWearChartPoints)
        return all;
    std::vector<WearPoint> kept;
    kept.reserve(kWearChartPoints);
    for (std::size_t i = 0; i < kWearChartPoints; ++i)
        kept.push_back(all[i * (all.size() - 1) / (kWearChartPoints - 1)]);
    return kept;
}

// The time axis in seconds, as doubles so that no difference of two times can overflow.
struct TimeAxis {
    double first = 0;
    double last = 0;
    double x(double t) const { return kLeft + (t - first) / (last - first) * kPlotWidth; }
};

TimeAxis time_axis(const WearTrend& trend, const std::vector<WearPoint>& points) {
    TimeAxis axis{static_cast<double>(trend.first_time), static_cast<double>(trend.last_time)};
    for (const WearPoint& p : points) {
        axis.first = std::min(axis.first, static_cast<double>(p.time));
        axis.last = std::max(axis.last, static_cast<double>(p.time));
    }
    axis.first = std::max(axis.first, static_cast<double>(kFirstUtcSecond));
    axis.last = std::min(axis.last, static_cast<double>(kLastUtcSecond));
    // The projection's way to 100 % is shown up to twice the history's length further on, so the
    // runs themselves keep at least a third of the width; a later end is cut at the edge.
    if (trend.projected_end_time) {
        const double span = std::max(axis.last - axis.first, 30 * kDay);
        axis.last = std::clamp(static_cast<double>(*trend.projected_end_time), axis.last,
                               std::min(axis.last + 2 * span, static_cast<double>(kLastUtcSecond)));
    }
    if (!(axis.last - axis.first >= 60)) {  // every run at one moment: a day around it
        axis.first -= kDay / 2;
        axis.last = axis.first + kDay;
    }
    return axis;
}

// The part of the segment (x1, y1)-(x2, y2) inside the box, by its parameter along the segment;
// false when none of it is inside or a coordinate is not finite.
bool clip(double& x1, double& y1, double& x2, double& y2, double left, double top, double right,
          double bottom) {
    for (const double v : {x1, y1, x2, y2}) {
        if (!std::isfinite(v))
            return false;
    }
    const double dx = x2 - x1, dy = y2 - y1;
    double enter = 0, leave = 1;
    const double p[] = {-dx, dx, -dy, dy};
    const double q[] = {x1 - left, right - x1, y1 - top, bottom - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0)
            enter = std::max(enter, r);
        else
            leave = std::min(leave, r);
    }
    if (!(enter < leave))
        return false;
    const double sx = x1, sy = y1;
    x1 = sx + enter * dx, y1 = sy + enter * dy;
    x2 = sx + leave * dx, y2 = sy + leave * dy;
    return true;
}

// A y scale from 0 to a round top: 1, 2 or 5 times a power of ten, at least the largest value.
double round_top(double largest) {
    if (!(largest > 0) || !std::isfinite(largest))
        return 1;
    double step = std::pow(10, std::floor(std::log10(largest)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * step >= largest)
            return m * step;
    }
    return 10 * step;
}

// The height in the drawing of a value on a panel whose plot area begins at plot_top and whose
// scale ends at scale_top.
double value_y(double plot_top, double scale_top, double value) {
    return plot_top + kPanelHeight - value / scale_top * kPanelHeight;
}

struct Series {
    const char* title;
    const char* colour;
    std::vector<std::pair<double, double>> values;  // time, value
    double top = 1;
    std::string (*label)(double);
};

std::string percent_label(double value) {
    return grouped_digits(static_cast<std::uint64_t>(std::llround(value))) + "%";
}

std::string bytes_label(double value) {
    return decimal_bytes(value);
}

// One panel: its title, the y scale with three grid lines, the series as a line (a dot for a
// single run), and the vertical lines of the date labels.
std::string panel(const Series& s, const TimeAxis& axis, double top) {
    const double plot_top = top + kPanelTitle, bottom = plot_top + kPanelHeight;
    const auto y = [&](double v) { return value_y(plot_top, s.top, v); };
    std::string svg = "<g>" + text(kLeft, top + 14, "start", s.title);
    for (const double share : {0.0, 0.5, 1.0}) {
        const double at = y(share * s.top);
        svg += line(kLeft, at, kLeft + kPlotWidth, at, "stroke=\"#d1d5db\"");
        svg += text(kLeft - 6, at + 4, "end", s.label(share * s.top));
    }
    for (const double share : {0.0, 0.5, 1.0}) {
        const double at = kLeft + share * kPlotWidth;
        svg += line(at, plot_top, at, bottom, "stroke=\"#e5e7eb\"");
    }
    std::string points;
    for (const auto& [t, v] : s.values) {
        if (!points.empty())
            points += ' ';
        points += point(axis.x(t), y(v));
    }
    if (s.values.size() == 1) {
        svg += "<circle cx=\"" + coordinate(axis.x(s.values[0].first)) + "\" cy=\"" +
               coordinate(y(s.values[0].second)) + "\" r=\"3\" fill=\"" + s.colour + "\"/>";
    } else if (!s.values.empty()) {
        svg += "<polyline class=\"series\" points=\"" + points + "\" fill=\"none\" stroke=\"" +
               s.colour + "\" stroke-width=\"2\"/>";
    }
    return svg + "</g>";
}

std::string date_label(double t, bool with_time) {
    const auto seconds = static_cast<std::int64_t>(
        std::clamp(t, static_cast<double>(kFirstUtcSecond), static_cast<double>(kLastUtcSecond)));
    const std::string iso = format_utc_time(seconds);  // 2026-12-08T10:00:00Z
    return with_time ? iso.substr(0, 10) + " " + iso.substr(11, 5) : iso.substr(0, 10);
}

}  // namespace

std::string wear_chart_section(const WearTrend& trend) {
    const std::vector<WearPoint> points = chart_points(trend.chart);
    const TimeAxis axis = time_axis(trend, points);

    Series used{"Percentage used", "#1d4ed8", {}, 100, percent_label};
    Series written{"Data written", "#15803d", {}, 1, bytes_label};
    double most_used = 0, most_written = 0;
    for (const WearPoint& p : points) {
        const auto t = static_cast<double>(p.time);
        if (p.percentage_used) {
            used.values.emplace_back(t, *p.percentage_used);
            most_used = std::max(most_used, static_cast<double>(*p.percentage_used));
        }
        if (p.data_written_bytes) {
            written.values.emplace_back(t, static_cast<double>(*p.data_written_bytes));
            most_written = std::max(most_written, static_cast<double>(*p.data_written_bytes));
        }
    }
    // Up to 100 % at least, where the projection ends; a worn drive's figures beyond it too.
    used.top = std::max(100.0, std::ceil(most_used / 25) * 25);
    written.top = round_top(most_written);

    const bool two = !written.values.empty();
    const double height =
        (two ? 2 : 1) * (kPanelTitle + kPanelHeight) + (two ? kPanelGap : 0) + kDateLabels;
    const std::string summary = trend_summary(trend);
    std::string svg =
        "<svg class=\"trend\" viewBox=\"0 0 " + coordinate(kWidth) + " " + coordinate(height) +
        "\" width=\"100%\" style=\"display:block;min-width:540px;max-width:780px\" role=\"img\" "
        "aria-labelledby=\"wear-chart-title wear-chart-desc\">"
        "<title id=\"wear-chart-title\">Wear over time</title>"
        "<desc id=\"wear-chart-desc\">" +
        html_escape(summary) + "</desc><g font-size=\"12\" fill=\"#1f2937\">";
    svg += panel(used, axis, 0);

    // The projection: the least-squares line from the first run it rests on to 100 %, cut to the
    // percentage panel.
    if (trend.projected_end_time) {
        double x1 = axis.x(static_cast<double>(trend.window_start));
        double y1 = value_y(kPanelTitle, used.top, trend.intercept);
        double x2 = axis.x(static_cast<double>(*trend.projected_end_time));
        double y2 = value_y(kPanelTitle, used.top, 100);
        if (clip(x1, y1, x2, y2, kLeft, kPanelTitle, kLeft + kPlotWidth,
                 kPanelTitle + kPanelHeight)) {
            svg += line(x1, y1, x2, y2,
                        "class=\"projection\" stroke=\"#b45309\" stroke-width=\"2\" "
                        "stroke-dasharray=\"6 4\"");
        }
    }
    if (two)
        svg += panel(written, axis, kPanelTitle + kPanelHeight + kPanelGap);
    // Where the runs end and the projection goes on alone.
    const auto last_run = static_cast<double>(trend.last_time);
    if (trend.projected_end_time && axis.last - last_run > (axis.last - axis.first) / 20) {
        const double x = axis.x(last_run);
        svg += line(x, kPanelTitle, x, height - kDateLabels, "stroke=\"#6b7280\"");
        svg += text(x + 4, kPanelTitle + 14, "start", "last run");
    }

    const bool with_time = axis.last - axis.first < 2 * kDay;
    const double labels = height - 6;
    svg += text(kLeft, labels, "start", date_label(axis.first, with_time));
    svg += text(kLeft + kPlotWidth / 2, labels, "middle",
                date_label(axis.first + (axis.last - axis.first) / 2, with_time));
    svg += text(kLeft + kPlotWidth, labels, "end", date_label(axis.last, with_time));
    svg += "</g></svg>";

    std::string legend = "Blue line: percentage used at each run";
    if (trend.projected_end_time)
        legend += std::string(
                      "; dashed orange line: the estimate's straight line to 100% used, "
                      "from ") +
                  trend_source_words(trend.source);
    if (two)
        legend += "; green line: data written";
    if (trend.chart.size() > points.size())
        legend += "; " + grouped_digits(points.size()) + " of " +
                  grouped_digits(trend.chart.size()) + " runs drawn, evenly spread";
    // In a narrow window the chart keeps a readable size and scrolls inside its box, which takes
    // the keyboard focus so that it can be scrolled without a mouse.
    // The records that did not simply rise, said in words under the chart.
    std::string counts;
    const auto count = [&](std::size_t n, const char* one, const char* many) {
        if (n == 0)
            return;
        counts += (counts.empty() ? "" : "; ") + grouped_digits(n) + " " + (n == 1 ? one : many);
    };
    count(trend.controller_resets, "counter that restarted from zero (a controller reset)",
          "counters that restarted from zero (controller resets)");
    count(trend.restarts, "fall of percentage used: the trend starts after it",
          "falls of percentage used: the trend starts after the last");
    count(trend.out_of_order, "record not later than the one before, skipped",
          "records not later than the one before, skipped");
    count(trend.other_drive, "record of another drive, left out",
          "records of other drives, left out");
    if (!counts.empty())
        counts = "<p class=\"src\">History: " + counts + ".</p>";
    return "<section id=\"trend\"><h2>Wear over time</h2><div class=\"wide\" tabindex=\"0\">" +
           svg + "</div><p>" + html_escape(summary) + "</p><p class=\"src\">" + legend + ".</p>" +
           counts + "</section>";
}

}  // namespace torvik
