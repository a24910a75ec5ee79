// The drive's wear trend as the run's outputs show it: the --health block's Trend line, the JSON
// document's trend object and the HTML page's chart, each from a hand-made trend on the default
// simulated drive's model.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "common/utc_time.h"
#include "model/drive_model.h"
#include "model/key_figures.h"
#include "report/health_block.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "sim/profiles.h"
#include "tests/support/profile_model.h"

namespace torvik::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::int64_t at(const char* iso) {
    std::int64_t seconds = 0;
    EXPECT_TRUE(parse_utc_time(iso, seconds)) << iso;
    return seconds;
}

// A year of regular use: 37 runs, 0.31 % a month, the last 30 runs under the line.
WearTrend projected() {
    WearTrend t;
    t.records = 37;
    t.first_time = at("2025-12-01T08:00:00Z");
    t.last_time = at("2026-12-08T10:00:00Z");
    t.elapsed_days = 372.08;
    t.bytes_written_per_day = 48.2e9;
    t.percentage_used_per_30_days = 0.31;
    t.pe_cycles_per_30_days = 1.254;
    t.projected_end_time = at("2031-04-18T00:00:00Z");
    t.earliest_end_time = at("2030-06-01T00:00:00Z");
    t.latest_end_time = at("2032-11-20T00:00:00Z");
    t.window_start = at("2025-12-08T10:00:00Z");
    t.window_end = t.last_time;
    t.window_records = 30;
    t.slope_per_day = 0.0125;
    t.intercept = 2;
    return t;
}

WearTrend hostile() {
    WearTrend t;
    t.records = 2;
    t.first_time = t.last_time = at("2026-12-08T10:00:00Z");
    t.elapsed_days = kNaN;
    t.bytes_written_per_day = kInf;
    t.percentage_used_per_30_days = -kInf;
    t.pe_cycles_per_30_days = kNaN;
    t.projected_end_time = std::numeric_limits<std::int64_t>::max();
    t.earliest_end_time = std::numeric_limits<std::int64_t>::min();
    t.latest_end_time = std::numeric_limits<std::int64_t>::max();
    t.window_start = std::numeric_limits<std::int64_t>::min();
    t.window_records = 2;
    t.slope_per_day = kInf;
    t.intercept = kNaN;
    for (int i = 0; i < 3; ++i)
        t.chart.push_back({t.last_time, ~0u, ~std::uint64_t{0}, 1, 1, {}, {}});
    return t;
}

TEST(WearTrendView, TrendLineFollowsTheSummary) {
    WearTrend few;
    few.records = 3;
    few.elapsed_days = 0.46;
    few.bytes_written_per_day = 999.6;
    few.not_projected = "not enough history (less than a day apart)";
    WearTrend unknown_written = projected();
    unknown_written.bytes_written_per_day.reset();
    unknown_written.pe_cycles_per_30_days.reset();
    unknown_written.projected_end_time = at("9999-12-31T23:59:59Z") + 1;
    unknown_written.latest_end_time = *unknown_written.projected_end_time;
    WearTrend last_day = unknown_written;
    last_day.projected_end_time = at("9999-12-31T23:59:59Z");
    WearTrend one;
    one.records = 1;
    one.not_projected = "not enough history (fewer than two runs)\x1b[2J";
    const struct {
        std::optional<WearTrend> trend;
        const char* line;  // nullptr: no Trend line
    } cases[] = {
        {projected(),
         "Trend: 37 runs over 372 days, 48.20 GB written a day, 0.31% used per 30 days, 1.25 P/E "
         "cycles per 30 days; 100% used about 2031-04, between 2030-06 and 2032-11, in 1,591 days "
         "(from percentage used, an estimate from 30 runs, 2025-12-08 to 2026-12-08)"},
        {few,
         "Trend: 3 runs over 0.5 days, 1.00 kB written a day; not enough history (less than a day "
         "apart)"},
        {unknown_written,
         "Trend: 37 runs over 372 days, 0.31% used per 30 days; 100% used after 9999, between "
         "2030-06 and after 9999 (from percentage used, an estimate from 30 runs, 2025-12-08 to "
         "2026-12-08)"},
        {last_day,
         "Trend: 37 runs over 372 days, 0.31% used per 30 days; 100% used about 9999-12, between "
         "2030-06 and after 9999, in 2,912,101 days (from percentage used, an estimate from 30 "
         "runs, 2025-12-08 to 2026-12-08)"},
        {one, "Trend: 1 run; not enough history (fewer than two runs)?[2J"},
        {hostile(),
         "Trend: 2 runs over an unknown time; 100% used after 9999, between 0000-01 and after 9999 "
         "(from percentage used, an estimate from 2 runs, 0000-01-01 to 1970-01-01)"},
        {std::nullopt, nullptr},
    };
    for (const auto& c : cases) {
        DriveModel model = read_profile_model("default");
        model.trend = c.trend;
        const KeyFigures figures = key_figures(model);
        const std::string block = health_block(model.health, &model, &figures, false);
        const std::size_t summary = block.find("\nSummary: ");
        ASSERT_NE(summary, std::string::npos);
        const std::size_t next = block.find('\n', summary + 1) + 1;
        const std::string after = block.substr(next, block.find('\n', next) - next);
        if (c.line != nullptr)
            EXPECT_EQ(after, c.line);
        else
            EXPECT_EQ(block.find("Trend:"), std::string::npos) << block;
    }
}

// The chart's section of the page for a trend.
std::string chart_of(const WearTrend& trend) {
    DriveModel model = read_profile_model("default");
    model.trend = trend;
    const std::string page = html_report(RunInfo{}, model, key_figures(model));
    const std::size_t start = page.find("<section id=\"trend\">");
    EXPECT_NE(start, std::string::npos);
    return page.substr(start, page.find("</section>", start) - start);
}

TEST(WearTrendView, JsonTrendObject) {
    const auto document = [](const std::optional<WearTrend>& trend) {
        DriveModel model = read_profile_model("default");
        model.trend = trend;
        return nlohmann::ordered_json::parse(json_report_text(RunInfo{}, model));
    };
    // The flash's own counters that rose, by their history key, under the chart too.
    WearTrend rising = projected();
    rising.flash_rises = {{0, 12, 40, kSecondsPerDay * 20362, kSecondsPerDay * 20430},
                          {8, 2, 3, kSecondsPerDay * 20429, kSecondsPerDay * 20430}};
    const nlohmann::ordered_json doc = document(rising);
    EXPECT_EQ(doc["trend"]["flash_counters"].dump(),
              R"({"later_bad_blocks":{"first":12,"last":40,"change":28,)"
              R"("since":"2025-10-01T00:00:00Z"},"read_retry_fail_d23":{"first":2,"last":3,)"
              R"("change":1,"since":"2025-12-07T00:00:00Z"}})");
    EXPECT_NE(chart_of(rising).find("<p class=\"src\">Later bad blocks 12 to 40 since 2025-10-01: "
                                    "+28 in 68 days.</p><p class=\"src\">Read retry fails d2 d3 "
                                    "2 to 3 since 2025-12-07: +1 in 1 day.</p>"),
              std::string::npos);
    EXPECT_EQ(document(projected())["trend"]["flash_counters"].dump(), "{}");
    EXPECT_EQ(doc["json_format_version"], kJsonFormatVersion);
    const nlohmann::ordered_json& trend = doc["trend"];
    EXPECT_EQ(trend["records"], 37);
    EXPECT_EQ(trend["first_time"], "2025-12-01T08:00:00Z");
    EXPECT_EQ(trend["last_time"], "2026-12-08T10:00:00Z");
    EXPECT_DOUBLE_EQ(trend["bytes_written_per_day"].get<double>(), 48.2e9);
    EXPECT_EQ(trend["projection"].dump(),
              R"({"end_time":"2031-04-18T00:00:00Z","earliest_end_time":"2030-06-01T00:00:00Z",)"
              R"("latest_end_time":"2032-11-20T00:00:00Z","days_left":1591,)"
              R"("window_start":"2025-12-08T10:00:00Z",)"
              R"("window_end":"2026-12-08T10:00:00Z","window_records":30,"slope_per_day":0.0125})");
    EXPECT_FALSE(trend.contains("not_projected"));
    // The document's key order: the trend right after the verdict, as on the console.
    auto key = doc.begin();
    while (key.key() != "health")
        ++key;
    EXPECT_EQ((++key).key(), "trend");

    WearTrend short_history;
    short_history.records = 1;
    short_history.not_projected = "not enough history (fewer than two runs)";
    const nlohmann::ordered_json unprojected = document(short_history)["trend"];
    EXPECT_EQ(unprojected["not_projected"], short_history.not_projected);
    EXPECT_FALSE(unprojected.contains("projection"));
    EXPECT_TRUE(unprojected["bytes_written_per_day"].is_null());
    for (const char* rate : {"elapsed_days", "bytes_written_per_day", "percentage_used_per_30_days",
                             "pe_cycles_per_30_days"})
        EXPECT_TRUE(document(hostile())["trend"][rate].is_null()) << rate;
    EXPECT_TRUE(document(hostile())["trend"]["projection"]["slope_per_day"].is_null());
    EXPECT_FALSE(document(std::nullopt).contains("trend"));
}

TEST(WearTrendView, ChartThinsToItsLimit) {
    WearTrend trend = projected();
    for (unsigned i = 0; i < 600; ++i) {
        trend.chart.push_back({trend.first_time + i * 53580,
                               2 + i / 200,
                               std::uint64_t{48200000000} * i,
                               std::nullopt,
                               std::nullopt,
                               {},
                               {}});
    }
    const std::string chart = chart_of(trend);
    // Found without std::regex, whose recursion overflows the stack on a long match under
    // Windows.
    const std::string polyline = "<polyline class=\"series\" points=\"";
    int series = 0;
    for (std::size_t at = chart.find(polyline); at != std::string::npos;
         at = chart.find(polyline, at)) {
        at += polyline.size();
        const std::string points = chart.substr(at, chart.find('"', at) - at);
        EXPECT_EQ(std::count(points.begin(), points.end(), ' ') + 1, 500);
        ++series;
    }
    EXPECT_EQ(series, 4);  // percentage used and data written, in the wide and the narrow drawing
    EXPECT_NE(chart.find("500 of 600 runs drawn"), std::string::npos);
}

// What the chart draws for a trend, and the words under it that say so: the axis reaching the
// projected date within ten years and cut at ten years beyond, the drive worn past 100 %, a
// projection from another source than percentage used, and no projection at all.
TEST(WearTrendView, ChartDrawsTheAnswerAndSaysWhatItDraws) {
    const auto run = [](const char* iso, std::optional<unsigned> used) {
        WearPoint point;
        point.time = at(iso);
        point.percentage_used = used;
        point.average_erase_count = 1500;
        point.rated_pe_cycles = 3000;
        return point;
    };
    WearTrend near = projected();
    near.chart = {run("2025-12-01T08:00:00Z", 2), run("2026-12-08T10:00:00Z", 6)};
    WearTrend far = near;
    far.projected_end_time = at("2041-03-10T00:00:00Z");
    WearTrend after_9999 = near;
    after_9999.projected_end_time = at("9999-12-31T23:59:59Z") + 1;
    WearTrend worn = near;
    worn.projected_end_time.reset();
    worn.not_projected = "100% used reached";
    worn.chart = {run("2025-12-01T08:00:00Z", 96), run("2026-12-08T10:00:00Z", 104)};
    WearTrend reached = worn;
    reached.chart = {run("2025-12-01T08:00:00Z", 96), run("2026-12-08T10:00:00Z", 100)};
    WearTrend life = near;
    life.source = TrendSource::vendor_life;
    for (WearPoint& point : life.chart)
        point.life_used = point.percentage_used;
    WearTrend erases = near;
    erases.source = TrendSource::erase_counts;
    erases.chart = {run("2025-12-01T08:00:00Z", {}), run("2026-12-08T10:00:00Z", {})};
    WearTrend none = near;
    none.projected_end_time.reset();
    none.chart = {run("2026-12-08T10:00:00Z", {})};
    const struct {
        const char* name;
        WearTrend trend;
        std::vector<const char*> drawn;
        std::vector<const char*> not_drawn;
    } cases[] = {
        // The axis reaches the latest date; the band spreads from the dashed line at the last run
        // to the earliest and the latest date; the narrow drawing the same, under its answer row.
        {"within ten years",
         near,
         {"x2=\"556.4\" y2=\"22.0\" class=\"projection\"", ">2032-11-20</text>",
          "<polygon class=\"range\" points=\"163.8,149.5 477.2,22.0 700.0,22.0\"",
          "class=\"projected\" fill=\"#92400e\">100% about 2031-04, in 1,591 days</text>",
          "class=\"reference\"", "Blue line: percentage used at each run",
          "to 100% at the projected date", "grey vertical line: the last run",
          "yellow band: from the earliest to the latest date of 100%", "</desc><style>svg.trend{",
          "<svg class=\"trend narrow\" viewBox=\"0 0 370.0 232.0\"",
          "<polygon class=\"range\" points=\"114.4,175.5 259.1,48.0 362.0,48.0\""},
         {">125%<", "class=\"reached\"", "Purple", "red dot"}},
        {"beyond ten years",
         far,
         {">2036-12-08</text>", ">100% about 2041-03 &#x2192;</text>",
          "toward 100% and cut ten years after the last run"},
         {"in 14", "to 100% at the projected date"}},
        {"after 9999", after_9999, {">100% after 9999 &#x2192;</text>"}, {}},
        {"past 100 %",
         worn,
         {">0%</text>", ">50%</text>", ">100%</text>", ">104%</text>", "<circle class=\"reached\"",
          ">100% used reached about 2026-06</text>", "red dot: where percentage used reached 100%"},
         {">125%<", "class=\"projection\"", "dashed orange", "last run", "class=\"range\"",
          "yellow band"}},
        {"exactly 100 %",
         reached,
         {"<circle class=\"reached\" cx=\"700.0\"", ">100% used reached about 2026-12</text>",
          "red dot: where percentage used reached 100%"},
         {}},
        // Every text is escaped, the drawn ones and the words under the chart.
        {"from the vendor's life figure",
         life,
         {">Life used, the vendor&#39;s figure</text>",
          "Teal line: the vendor&#39;s life used figure at each run"},
         {"vendor's"}},
        {"from erase counts",
         erases,
         {">Average erase count, % of the rated P/E cycles</text>", "stroke=\"#7c3aed\"",
          "Purple line: the average erase count as a percentage of the rated P/E cycles",
          "from erase counts against the rated P/E cycles, to 100%"},
         {"Percentage used", "Blue"}},
        {"no projection, no percentage",
         none,
         {"No run recorded percentage used: its panel is empty", "dashed grey lines: 90% and 100%"},
         {"class=\"series\"", "class=\"projection\"", "dashed orange", "Blue", "last run"}},
    };
    for (const auto& c : cases) {
        const std::string chart = chart_of(c.trend);
        for (const char* words : c.drawn)
            EXPECT_NE(chart.find(words), std::string::npos) << c.name << ": " << words;
        for (const char* words : c.not_drawn)
            EXPECT_EQ(chart.find(words), std::string::npos) << c.name << ": " << words;
        // The measured values lie over the projection's line.
        const std::size_t fit = chart.find("class=\"projection\"");
        if (fit != std::string::npos) {
            EXPECT_LT(fit, chart.find("class=\"series\"")) << c.name;
        }
    }
}

// Nothing the trend holds puts a number the browser cannot read into the drawing.
TEST(WearTrendView, HostileTrendDrawsOnlyPlainNumbers) {
    for (WearTrend trend : {hostile(), WearTrend{}}) {
        const std::string chart = chart_of(trend);
        const std::regex attribute(" (x|y|x1|y1|x2|y2|cx|cy|r|points|viewBox)=\"([^\"]*)\"");
        int numbers = 0;
        for (std::sregex_iterator it(chart.begin(), chart.end(), attribute), end; it != end;
             ++it, ++numbers) {
            EXPECT_TRUE(std::regex_match((*it)[2].str(), std::regex("[-0-9., ]+"))) << (*it)[0];
        }
        EXPECT_GT(numbers, 10);
        EXPECT_EQ(chart.find("nan"), std::string::npos);
        EXPECT_EQ(chart.find("inf"), std::string::npos);
    }
}

}  // namespace
}  // namespace torvik::testing
