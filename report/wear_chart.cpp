#include "report/wear_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "common/utc_time.h"
#include "model/flash_counters.h"
#include "model/health_verdict.h"
#include "model/wear_trend.h"
#include "report/html_page.h"
#include "report/number_format.h"
#include "report/wear_trend_text.h"

namespace torvik {

namespace {

// The drawing in viewBox units: a plot area right of the y labels, one panel per series (a title
// row, then the plot), the date labels under the last. It is drawn twice, for a wide window and
// for a phone's, each with its labels placed for its own width: text keeps one size in both. The
// narrow one's titles begin at its left edge, over the scale's labels, so its title row is
// taller; the projected date has a row of its own at the top, there being no room beside a title
// or between the lines for it; and there is no middle grid line.
struct Frame {
    double width;
    double left;        // where the plot area begins
    double plot_width;  // and its width
    double title_x;     // where the panels' titles begin
    double title_row;   // the height of a panel's title row
    bool middle_line;   // a vertical grid line halfway along the time axis
    double answer_row;  // the height of the projected date's row above the panels; 0: none
    const char* name;   // the drawing's class, and what its ids end with
    double right() const { return left + plot_width; }
};
constexpr Frame kWideFrame{720, 72, 628, 72, 22, true, 0, "full"};
constexpr Frame kNarrowFrame{370, 72, 290, 4, 26, false, 22, "narrow"};
// A percentage panel is tall enough for 10 % to hold a line of text: the labels of the 90 % and
// 100 % lines sit one above the other.
constexpr double kPercentHeight = 160;
constexpr double kBytesHeight = 130;
constexpr double kPanelGap = 18;
constexpr double kDateLabels = 24;
constexpr double kDay = 86400;
constexpr double kFontSize = 12;
// Free space kept around a label, so that it neither touches a line nor another label.
constexpr double kClearance = 2;

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

// A text for the drawing: escaped, and an arrow (the one character outside ASCII it holds) as
// its character reference.
std::string svg_text(const std::string& words) {
    const std::string arrow = "\u2192";
    const std::size_t at = words.find(arrow);
    if (at == std::string::npos)
        return html_escape(words);
    return html_escape(words.substr(0, at)) + "&#x2192;" +
           svg_text(words.substr(at + arrow.size()));
}

std::string point(double x, double y) {
    return coordinate(x) + "," + coordinate(y);
}

// The width of a text at kFontSize, from the advance widths of a wide sans-serif face, so that a
// narrower face only leaves more room. Each UTF-8 character counts once.
double text_width(const std::string& words) {
    double em = 0;
    for (const char c : words) {
        const auto u = static_cast<unsigned char>(c);
        if ((u & 0xC0) == 0x80)
            continue;  // a continuation byte
        if (u >= 0x80)
            em += 0.84;  // an arrow
        else if (c >= '0' && c <= '9')
            em += 0.64;
        else if (c == ' ' || c == '.' || c == ',' || c == ':' || c == '/' || c == 'i' || c == 'l' ||
                 c == 'j' || c == 'I')
            em += 0.34;
        else if (c == 'f' || c == 't' || c == 'r' || c == '-' || c == '(' || c == ')')
            em += 0.42;
        else if (c == 'm' || c == 'w' || c == 'M' || c == 'W' || c == '%')
            em += 0.99;
        else if (c >= 'A' && c <= 'Z')
            em += 0.78;
        else
            em += 0.64;
    }
    return em * kFontSize;
}

struct Box {
    double x0, y0, x1, y1;
};

struct Segment {
    double x1, y1, x2, y2;
};

// The box a text takes with its baseline at y: the face's ascent and descent, a little generous.
Box text_box(double x, double y, const char* anchor, const std::string& words) {
    const double w = text_width(words);
    const double x0 = anchor[0] == 's' ? x : anchor[0] == 'e' ? x - w : x - w / 2;
    return {x0, y - 0.95 * kFontSize, x0 + w, y + 0.26 * kFontSize};
}

bool overlap(const Box& a, const Box& b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
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
    if (!(enter <= leave))
        return false;
    const double sx = x1, sy = y1;
    x1 = sx + enter * dx, y1 = sy + enter * dy;
    x2 = sx + leave * dx, y2 = sy + leave * dy;
    return true;
}

bool crosses(const Segment& s, const Box& b) {
    // Most segments lie wholly to one side of the box: settled without clipping.
    if (std::max(s.x1, s.x2) < b.x0 || std::min(s.x1, s.x2) > b.x1 || std::max(s.y1, s.y2) < b.y0 ||
        std::min(s.y1, s.y2) > b.y1)
        return false;
    double x1 = s.x1, y1 = s.y1, x2 = s.x2, y2 = s.y2;
    return clip(x1, y1, x2, y2, b.x0, b.y0, b.x1, b.y1);
}

// The SVG as it is drawn, with every line and label kept so that a new label goes where it
// touches neither.
struct Drawing {
    std::string svg;
    std::vector<Segment> segments;
    std::vector<Box> labels;

    void line(double x1, double y1, double x2, double y2, const std::string& attributes) {
        svg += "<line x1=\"" + coordinate(x1) + "\" y1=\"" + coordinate(y1) + "\" x2=\"" +
               coordinate(x2) + "\" y2=\"" + coordinate(y2) + "\" " + attributes + "/>";
        segments.push_back({x1, y1, x2, y2});
    }

    void text(double x, double y, const char* anchor, const std::string& words,
              const std::string& attributes = "") {
        svg += "<text x=\"" + coordinate(x) + "\" y=\"" + coordinate(y) + "\" text-anchor=\"" +
               anchor + "\"" + (attributes.empty() ? "" : " " + attributes) + ">" +
               svg_text(words) + "</text>";
        labels.push_back(text_box(x, y, anchor, words));
    }

    bool is_free(const Box& box) const {
        const Box wide{box.x0 - kClearance, box.y0 - kClearance, box.x1 + kClearance,
                       box.y1 + kClearance};
        for (const Box& other : labels) {
            if (overlap(wide, other))
                return false;
        }
        for (const Segment& s : segments) {
            if (crosses(s, wide))
                return false;
        }
        return true;
    }

    // A label as near the point (x, y) as it can go inside the area without touching a line or
    // another label; where no place is free, at the nearest place all the same.
    void label_near(double x, double y, const Box& area, const std::string& words,
                    const std::string& attributes) {
        const double w = text_width(words), ascent = 0.95 * kFontSize, h = 1.21 * kFontSize;
        // Nearest first; of two as near, the one whose middle is nearer the point.
        struct Place {
            double distance, off_centre, top, left;
        };
        std::vector<Place> places;
        for (double top = area.y0 + kClearance; top + h + kClearance <= area.y1; top += 2) {
            for (double left = area.x0 + kClearance; left + w + kClearance <= area.x1; left += 2) {
                const double dx = std::max({left - x, 0.0, x - (left + w)});
                const double dy = std::max({top - y, 0.0, y - (top + h)});
                places.push_back({std::hypot(dx, dy),
                                  std::fabs(left + w / 2 - x) + std::fabs(top + h / 2 - y), top,
                                  left});
            }
        }
        if (places.empty()) {
            text(x, y, "start", words, attributes);
            return;
        }
        std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
            return std::tie(a.distance, a.off_centre, a.top, a.left) <
                   std::tie(b.distance, b.off_centre, b.top, b.left);
        });
        const auto chosen = std::find_if(places.begin(), places.end(), [&](const Place& p) {
            return is_free({p.left, p.top, p.left + w, p.top + h});
        });
        const Place& p = chosen != places.end() ? *chosen : places.front();
        text(p.left, p.top + ascent, "start", words, attributes);
    }
};

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
    const Frame& frame;
    double first = 0;
    double last = 0;
    double last_run = 0;
    bool cut = false;  // the projected date lies beyond the axis' end
    double x(double t) const {
        return frame.left + (t - first) / (last - first) * frame.plot_width;
    }
};

// The same day and time ten years after a moment; the day before where that is 29 February.
double ten_years_after(double t) {
    const auto seconds = static_cast<std::int64_t>(
        std::clamp(t, static_cast<double>(kFirstUtcSecond), static_cast<double>(kLastUtcSecond)));
    std::string iso = format_utc_time(seconds);  // 2026-12-08T10:00:00Z
    const int year = std::atoi(iso.substr(0, 4).c_str()) + 10;
    if (year > 9999)
        return static_cast<double>(kLastUtcSecond);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", year);
    iso.replace(0, 4, digits);
    std::int64_t later = 0;
    if (parse_utc_time(iso, later))
        return static_cast<double>(later);
    return static_cast<double>(seconds) + 3652 * kDay;  // 29 February of a year without one
}

// From the first run to the latest projected date, or to ten years after the last run where that
// comes first; to the last run without a projection.
TimeAxis time_axis(const WearTrend& trend, const std::vector<WearPoint>& points,
                   const Frame& frame) {
    TimeAxis axis{frame, static_cast<double>(trend.first_time),
                  static_cast<double>(trend.last_time)};
    for (const WearPoint& p : points) {
        axis.first = std::min(axis.first, static_cast<double>(p.time));
        axis.last = std::max(axis.last, static_cast<double>(p.time));
    }
    axis.first = std::max(axis.first, static_cast<double>(kFirstUtcSecond));
    axis.last = std::min(axis.last, static_cast<double>(kLastUtcSecond));
    axis.last_run = axis.last;
    if (trend.projected_end_time) {
        const auto end = static_cast<double>(*trend.projected_end_time);
        const double ten_years = ten_years_after(axis.last);
        const auto latest = static_cast<double>(trend.latest_end_time);
        axis.cut = !(end <= ten_years) || end > static_cast<double>(kLastUtcSecond);
        axis.last = std::min(
            {ten_years, std::max({end, latest, axis.last}), static_cast<double>(kLastUtcSecond)});
    }
    if (!(axis.last - axis.first >= 60)) {  // every run at one moment: a day around it
        axis.first -= kDay / 2;
        axis.last = axis.first + kDay;
    }
    return axis;
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

struct Series {
    const char* title;
    const char* colour;
    const char* colour_name;
    const char* what;  // in the words under the chart
    bool percent = true;
    std::vector<std::pair<double, double>> values;  // time, value
    double top = 100;
    double height = kPercentHeight;
    double panel_top = 0;  // where its title row begins
    double title_row = 0;
    double plot_top() const { return panel_top + title_row; }
    double bottom() const { return plot_top() + height; }
    double y(double value) const { return plot_top() + height - value / top * height; }
    double largest() const {
        double most = 0;
        for (const auto& v : values)
            most = std::max(most, v.second);
        return most;
    }
};

std::string percent_label(double value) {
    if (!std::isfinite(value) || value < 0)
        value = 0;
    return grouped_digits(static_cast<std::uint64_t>(std::llround(std::fmin(value, 1e18)))) + "%";
}

std::string year_month(double t) {
    return format_utc_time(
               static_cast<std::int64_t>(std::clamp(t, static_cast<double>(kFirstUtcSecond),
                                                    static_cast<double>(kLastUtcSecond))))
        .substr(0, 7);
}

std::string date_label(double t, bool with_time) {
    const auto seconds = static_cast<std::int64_t>(
        std::clamp(t, static_cast<double>(kFirstUtcSecond), static_cast<double>(kLastUtcSecond)));
    const std::string iso = format_utc_time(seconds);  // 2026-12-08T10:00:00Z
    return with_time ? iso.substr(0, 10) + " " + iso.substr(11, 5) : iso.substr(0, 10);
}

// The scale's labels on the left, with their lines across the plot: 0, 50 and 100 %, and the
// largest value of a drive worn past 100 %; dashed reference lines at 90 and 100 %. A label that
// would touch one already placed moves up to a line's height (the largest value upwards only),
// or is left out when it cannot.
void percent_scale(Drawing& d, const Series& s, const Frame& f) {
    const double most = s.largest();
    const bool past = most > 100;
    for (const double v : {0.0, 50.0}) {
        d.line(f.left, s.y(v), f.right(), s.y(v), "stroke=\"#d1d5db\"");
    }
    if (past)
        d.line(f.left, s.y(most), f.right(), s.y(most), "stroke=\"#d1d5db\"");
    for (const double v : {90.0, 100.0}) {
        d.line(f.left, s.y(v), f.right(), s.y(v),
               "class=\"reference\" stroke=\"#6b7280\" stroke-dasharray=\"3 3\"");
    }
    struct Tick {
        double value;
        bool only_up;
    };
    std::vector<Tick> ticks = {{0, false}, {100, false}};
    if (past)
        ticks.push_back({most, true});
    ticks.push_back({50, false});
    ticks.push_back({90, false});
    for (const Tick& tick : ticks) {
        const std::string words = percent_label(tick.value);
        const double at = s.y(tick.value) + 4;
        for (double shift = 0; shift <= kFontSize + 4; shift += 1) {
            const double tries[] = {at - shift, at + shift};
            const double* found = nullptr;
            for (const double& y : tries) {
                if (tick.only_up && y > at)
                    continue;
                const Box box = text_box(f.left - 6, y, "end", words);
                if (box.y0 >= s.panel_top && d.is_free(box)) {
                    found = &y;
                    break;
                }
            }
            if (found != nullptr) {
                d.text(f.left - 6, *found, "end", words);
                break;
            }
        }
    }
}

void bytes_scale(Drawing& d, const Series& s, const Frame& f) {
    for (const double share : {0.0, 0.5, 1.0}) {
        const double at = s.y(share * s.top);
        d.line(f.left, at, f.right(), at, "stroke=\"#d1d5db\"");
        d.text(f.left - 6, at + 4, "end", decimal_bytes(share * s.top));
    }
}

// The measured values as a line, or a dot for a single run.
void measured(Drawing& d, const Series& s, const TimeAxis& axis) {
    if (s.values.size() == 1) {
        d.svg += "<circle class=\"series\" cx=\"" + coordinate(axis.x(s.values[0].first)) +
                 "\" cy=\"" + coordinate(s.y(s.values[0].second)) + "\" r=\"3\" fill=\"" +
                 s.colour + "\"/>";
        return;
    }
    if (s.values.empty())
        return;
    std::string points;
    double px = 0, py = 0;
    for (const auto& [t, v] : s.values) {
        const double x = axis.x(t), y = s.y(v);
        if (!points.empty()) {
            points += ' ';
            d.segments.push_back({px, py, x, y});
        }
        points += point(x, y);
        px = x, py = y;
    }
    d.svg += "<polyline class=\"series\" points=\"" + points + "\" fill=\"none\" stroke=\"" +
             s.colour + "\" stroke-width=\"2\"/>";
}

// Where the values first reach 100 %: the time, between the two runs either side of it, and
// whether the first run was at 100 % already.
std::optional<std::pair<double, bool>> crossing(const Series& s) {
    for (std::size_t i = 0; i < s.values.size(); ++i) {
        const auto [t, v] = s.values[i];
        if (v < kWornOut)
            continue;
        if (i == 0)
            return std::pair{t, true};
        const auto [t0, v0] = s.values[i - 1];
        return std::pair{t0 + (kWornOut - v0) / (v - v0) * (t - t0), false};
    }
    return std::nullopt;
}

// Where a panel's values first reach 100 %, and whether the first run was there already.
struct Crossing {
    const Series* series;
    double time;
    bool at_first_run;
};

// One chart as it is drawn, from the trend: its points, its time axis, its panels top to bottom
// (the projection's source first), and what has been drawn so far.
struct Chart {
    const WearTrend& trend;
    const std::vector<WearPoint>& points;
    TimeAxis axis;
    std::vector<Series> panels;
    Drawing d{};
    std::optional<std::pair<double, double>> projection_end{};  // where the dashed line stops
    std::vector<Crossing> crossings{};
    bool last_run_line = false;
    bool band = false;

    const Frame& frame() const { return axis.frame; }
    const Series& source() const { return panels.front(); }
    double height() const { return panels.back().bottom() + kDateLabels; }
    // The dashed line's value at a time: straight from the line's value at the first run it
    // rests on to 100 % at the projected date.
    double projected_value(double t) const {
        const auto start = static_cast<double>(trend.window_start);
        const auto end = static_cast<double>(trend.projected_end_time.value_or(0));
        if (!(end > start))
            return kWornOut;
        return trend.intercept + (kWornOut - trend.intercept) * (t - start) / (end - start);
    }
};

// The panels: the projection's source first, percentage used next when that is another one and
// was recorded, data written last; each placed under the one before, its scale's top set.
std::vector<Series> chart_panels(const WearTrend& trend, const std::vector<WearPoint>& points,
                                 const Frame& frame) {
    Series used{"Percentage used", "#1d4ed8", "blue", "percentage used", true, {}};
    Series erases{"Average erase count, % of the rated P/E cycles",
                  "#7c3aed",
                  "purple",
                  "the average erase count as a percentage of the rated P/E cycles",
                  true,
                  {}};
    Series life{"Life used, the vendor's figure", "#0f766e", "teal",
                "the vendor's life used figure",  true,      {}};
    Series written{"Data written", "#15803d", "green", "data written", false, {}};
    written.height = kBytesHeight;
    for (const WearPoint& p : points) {
        const auto t = static_cast<double>(p.time);
        if (p.percentage_used)
            used.values.emplace_back(t, *p.percentage_used);
        if (p.average_erase_count && p.rated_pe_cycles && *p.rated_pe_cycles != 0)
            erases.values.emplace_back(
                t, static_cast<double>(*p.average_erase_count) * 100 / *p.rated_pe_cycles);
        if (p.life_used)
            life.values.emplace_back(t, *p.life_used);
        if (p.data_written_bytes)
            written.values.emplace_back(t, static_cast<double>(*p.data_written_bytes));
    }
    Series* source = trend.source == TrendSource::erase_counts  ? &erases
                     : trend.source == TrendSource::vendor_life ? &life
                                                                : &used;
    std::vector<Series> panels;
    panels.push_back(std::move(*source));
    if (source != &used && !used.values.empty())
        panels.push_back(std::move(used));
    if (!written.values.empty())
        panels.push_back(std::move(written));
    double top = trend.projected_end_time ? frame.answer_row : 0;
    for (Series& s : panels) {
        s.panel_top = top;
        s.title_row = frame.title_row;
        if (s.percent) {
            const double most = s.largest();
            s.top = most > 100 && std::isfinite(most) ? most : 100;
        } else {
            s.top = round_top(s.largest());
        }
        top = s.bottom() + kPanelGap;
    }
    return panels;
}

// Each panel's title, its scale and the vertical lines across its plot.
void draw_grid(Chart& c) {
    const Frame& f = c.frame();
    for (const Series& s : c.panels)
        c.d.text(f.title_x, s.panel_top + 14, "start", s.title);
    for (const Series& s : c.panels) {
        if (s.percent)
            percent_scale(c.d, s, f);
        else
            bytes_scale(c.d, s, f);
        for (const double share : {0.0, 0.5, 1.0}) {
            if (share == 0.5 && !f.middle_line)
                continue;
            const double at = f.left + share * f.plot_width;
            c.d.line(at, s.plot_top(), at, s.bottom(), "stroke=\"#e5e7eb\"");
        }
    }
}

using Vertex = std::pair<double, double>;

// The part of a convex polygon on one side of a vertical (axis 0) or horizontal (axis 1) line:
// at or below the bound, or at or above it.
std::vector<Vertex> clip_side(const std::vector<Vertex>& polygon, int axis, double bound,
                              bool below) {
    const auto at = [axis](const Vertex& v) { return axis == 0 ? v.first : v.second; };
    const auto inside = [&](const Vertex& v) { return below ? at(v) <= bound : at(v) >= bound; };
    std::vector<Vertex> kept;
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const Vertex& a = polygon[i];
        const Vertex& b = polygon[(i + 1) % polygon.size()];
        if (inside(a))
            kept.push_back(a);
        if (inside(a) != inside(b)) {
            const double r = (bound - at(a)) / (at(b) - at(a));
            kept.emplace_back(a.first + r * (b.first - a.first),
                              a.second + r * (b.second - a.second));
        }
    }
    return kept;
}

// The range of the projection: a band from the dashed line at the last run to 100 % between the
// earliest and the latest date, cut to the source's plot. The dashed line lies inside it, its
// date being between the two.
void draw_band(Chart& c) {
    const WearTrend& trend = c.trend;
    if (!trend.projected_end_time)
        return;
    const TimeAxis& axis = c.axis;
    const Series& source = c.source();
    std::vector<Vertex> band = {
        {axis.x(axis.last_run), source.y(c.projected_value(axis.last_run))},
        {axis.x(static_cast<double>(trend.earliest_end_time)), source.y(kWornOut)},
        {axis.x(static_cast<double>(trend.latest_end_time)), source.y(kWornOut)}};
    for (const Vertex& v : band) {
        if (!std::isfinite(v.first) || !std::isfinite(v.second))
            return;
    }
    const Frame& f = c.frame();
    band = clip_side(band, 0, f.left, false);
    band = clip_side(band, 0, f.right(), true);
    band = clip_side(band, 1, source.plot_top(), false);
    band = clip_side(band, 1, source.bottom(), true);
    if (band.size() < 3)
        return;
    std::string points;
    for (const Vertex& v : band)
        points += (points.empty() ? "" : " ") + point(v.first, v.second);
    c.d.svg += "<polygon class=\"range\" points=\"" + points +
               "\" fill=\"#fcd34d\" fill-opacity=\"0.45\"/>";
    c.band = true;
}

// The projection: the estimate's straight line from the first run it rests on to 100 % at the
// projected date, or to the axis' end when that date is further off.
void draw_projection(Chart& c) {
    const WearTrend& trend = c.trend;
    if (!trend.projected_end_time)
        return;
    const TimeAxis& axis = c.axis;
    const Series& source = c.source();
    const auto start = static_cast<double>(trend.window_start);
    const double end = axis.cut ? axis.last : static_cast<double>(*trend.projected_end_time);
    double x1 = axis.x(start), y1 = source.y(trend.intercept);
    double x2 = axis.x(end);
    double y2 = source.y(axis.cut ? c.projected_value(end) : kWornOut);
    const Frame& f = c.frame();
    if (clip(x1, y1, x2, y2, f.left, source.plot_top(), f.right(), source.bottom())) {
        c.d.line(x1, y1, x2, y2,
                 "class=\"projection\" stroke=\"#b45309\" stroke-width=\"2\" "
                 "stroke-dasharray=\"6 4\"");
        c.projection_end = std::pair{x2, y2};
    }
}

// The measured values over the projection, a red dot where a percentage first reached 100 %, and
// where the runs end and the projection goes on alone.
void draw_values(Chart& c) {
    for (const Series& s : c.panels) {
        measured(c.d, s, c.axis);
        if (s.percent) {
            if (const auto at = crossing(s)) {
                c.crossings.push_back({&s, at->first, at->second});
                c.d.svg += "<circle class=\"reached\" cx=\"" + coordinate(c.axis.x(at->first)) +
                           "\" cy=\"" + coordinate(s.y(kWornOut)) + "\" r=\"4\" fill=\"#b91c1c\"/>";
            }
        }
    }
    const TimeAxis& axis = c.axis;
    c.last_run_line =
        c.trend.projected_end_time && axis.last - axis.last_run > (axis.last - axis.first) / 20;
    if (c.last_run_line) {
        const double x = axis.x(axis.last_run);
        for (const Series& s : c.panels)
            c.d.line(x, s.plot_top(), x, s.bottom(), "class=\"last-run\" stroke=\"#6b7280\"");
    }
}

// The labels of what was drawn, each clear of every line, and the dates under the last panel.
void place_labels(Chart& c) {
    const TimeAxis& axis = c.axis;
    const Frame& f = c.frame();
    for (const Crossing& at : c.crossings) {
        const double x = axis.x(at.time);
        const double y = at.series->y(kWornOut);
        c.d.labels.push_back({x - 4, y - 4, x + 4, y + 4});  // the marker itself
        c.d.label_near(x, y, {f.left, at.series->panel_top, f.width, at.series->bottom()},
                       "100% used reached " + std::string(at.at_first_run ? "by " : "about ") +
                           year_month(at.time),
                       "class=\"reached\"");
    }
    if (c.projection_end) {
        const std::int64_t end = *c.trend.projected_end_time;
        const std::string when =
            end > kLastUtcSecond ? "after 9999" : "about " + year_month(static_cast<double>(end));
        const std::string label =
            axis.cut ? "100% " + when + " \u2192" : "100% " + when + ", in " + days_left(c.trend);
        const Box area = f.answer_row > 0
                             ? Box{f.title_x, 0, f.width, f.answer_row}
                             : Box{f.left, c.source().panel_top, f.width, c.source().bottom()};
        c.d.label_near(c.projection_end->first, c.projection_end->second, area, label,
                       "class=\"projected\" fill=\"#92400e\"");
    }
    if (c.last_run_line) {
        c.d.label_near(axis.x(axis.last_run), c.panels.front().plot_top(),
                       {f.left, 0, f.width, c.panels.back().bottom()}, "last run", "");
    }

    const bool with_time = axis.last - axis.first < 2 * kDay;
    const double labels = c.height() - 6;
    c.d.text(f.left, labels, "start", date_label(axis.first, with_time));
    c.d.text(f.right(), labels, "end", date_label(axis.last, with_time));
    // The middle date where it leaves room between the two (not so in a narrow drawing with the
    // time of day).
    const std::string middle = date_label(axis.first + (axis.last - axis.first) / 2, with_time);
    const double centre = f.left + f.plot_width / 2;
    if (c.d.is_free(text_box(centre, labels, "middle", middle)))
        c.d.text(centre, labels, "middle", middle);
}

// The words under the chart: what is drawn, and nothing else.
std::string legend(const Chart& c) {
    std::vector<std::string> words;
    for (const Series& s : c.panels) {
        if (s.values.empty())
            words.push_back(std::string("no run recorded ") + s.what + ": its panel is empty");
        else
            words.push_back(std::string(s.colour_name) +
                            (s.values.size() == 1 ? " dot: " : " line: ") + s.what +
                            (s.values.size() == 1 ? " at the one run" : " at each run"));
    }
    words.front()[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(words[0][0])));
    if (c.projection_end) {
        words.push_back(std::string("dashed orange line: the estimate's straight line from ") +
                        trend_source_words(c.trend.source) +
                        (c.axis.cut ? ", toward 100% and cut ten years after the last run"
                                    : ", to 100% at the projected date"));
    }
    if (c.band)
        words.push_back(
            "yellow band: from the earliest to the latest date of 100% that the readings allow, "
            "each being a whole number");
    words.push_back("dashed grey lines: 90% and 100%");
    if (c.last_run_line)
        words.push_back("grey vertical line: the last run");
    for (const Crossing& at : c.crossings)
        words.push_back(std::string("red dot: where ") + at.series->what + " reached 100%");
    if (c.trend.chart.size() > c.points.size())
        words.push_back(grouped_digits(c.points.size()) + " of " +
                        grouped_digits(c.trend.chart.size()) + " runs drawn, evenly spread");
    std::string legend;
    for (const std::string& w : words)
        legend += (legend.empty() ? "" : "; ") + w;
    return legend;
}

// The records that did not simply rise, and the flash counters that rose, said in words under the
// chart; empty when there are none.
std::string history_notes(const WearTrend& trend) {
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
    std::string notes = counts.empty() ? counts : "<p class=\"src\">History: " + counts + ".</p>";
    // The flash's own counters that rose, as the --health notes say it.
    for (const FlashCounterRise& rise : trend.flash_rises)
        notes += "<p class=\"src\">" + html_escape(flash_rise_text(rise)) + ".</p>";
    return notes;
}

// One drawing of the chart for a frame: the lines first, the band and the projection under the
// measured values; then the labels, each placed clear of every line.
Chart drawn(const WearTrend& trend, const std::vector<WearPoint>& points, const Frame& frame) {
    Chart c{trend, points, time_axis(trend, points, frame), chart_panels(trend, points, frame)};
    draw_grid(c);
    draw_band(c);
    draw_projection(c);
    draw_values(c);
    place_labels(c);
    return c;
}

// Which of the two drawings a window shows, by its width: the wide one while its text stays
// 10 pixels or more, the narrow one below (its text as large as the window allows, to 15
// pixels). Held by the wide drawing, so that a page without a chart carries none of it.
constexpr const char* kChartStyle =
    "<style>svg.trend{display:block;max-width:780px}svg.trend.narrow{display:none;"
    "max-width:480px}@media (max-width:700px){svg.trend.full{display:none}"
    "svg.trend.narrow{display:block}}</style>";

// The drawing as the page holds it.
std::string svg_of(const Chart& c, const std::string& summary) {
    const Frame& f = c.frame();
    const bool wide = &f == &kWideFrame;
    const std::string id = wide ? "wear-chart" : std::string("wear-chart-") + f.name;
    return std::string("<svg class=\"trend ") + f.name + "\" viewBox=\"0 0 " + coordinate(f.width) +
           " " + coordinate(c.height()) + "\" width=\"100%\" role=\"img\" aria-labelledby=\"" + id +
           "-title " + id + "-desc\"><title id=\"" + id +
           "-title\">Wear over time</title><desc id=\"" + id + "-desc\">" + html_escape(summary) +
           "</desc>" + (wide ? kChartStyle : "") + "<g font-size=\"12\" fill=\"#1f2937\">" +
           c.d.svg + "</g></svg>";
}

}  // namespace

// Built at most once a run, and only for a page with a history: kept apart from the code every
// run goes through.
[[gnu::cold]] std::string wear_chart_section(const WearTrend& trend) {
    const std::vector<WearPoint> points = chart_points(trend.chart);
    const Chart wide = drawn(trend, points, kWideFrame);
    const Chart narrow = drawn(trend, points, kNarrowFrame);
    const std::string summary = trend_summary(trend);
    return "<section id=\"trend\"><h2>Wear over time</h2>" + svg_of(wide, summary) +
           svg_of(narrow, summary) + "<p>" + html_escape(summary) + "</p><p class=\"src\">" +
           html_escape(legend(wide)) + ".</p>" + history_notes(trend) + "</section>";
}

}  // namespace torvik
