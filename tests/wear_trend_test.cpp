// The wear trend's arithmetic: rates, the least-squares projection and the rules for records that
// do not simply rise, one history per row. The expected dates were worked out by hand from the
// rows' straight lines (regular use: 10 % plus 1 % every 30 days reaches 100 % after 2700 days).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/utc_time.h"
#include "model/flash_counters.h"
#include "model/wear_trend.h"

namespace torvik {
namespace {

constexpr std::int64_t kStart = 1767225600;  // 2026-01-01T00:00:00Z
constexpr std::uint64_t kGB = 1000000000;

WearPoint at(double day, std::optional<unsigned> used, std::optional<std::uint64_t> written = {},
             std::optional<std::uint64_t> hours = {}, std::optional<std::uint64_t> erases = {}) {
    return WearPoint{kStart + static_cast<std::int64_t>(day * kSecondsPerDay),
                     used,
                     written,
                     hours,
                     erases,
                     {},
                     {}};
}

std::vector<WearPoint> monthly(std::size_t months, unsigned used0, unsigned used_step) {
    std::vector<WearPoint> points;
    for (std::size_t i = 0; i < months; ++i)
        points.push_back(at(30.0 * static_cast<double>(i), used0 + used_step * i, 3000 * kGB * i,
                            24 * i, 6 * i));
    return points;
}

// A year of runs at 0 % used, the last at 1 %: one step, which cannot tell the pace.
std::vector<WearPoint> barely_worn() {
    std::vector<WearPoint> points;
    for (int i = 0; i < 1000; ++i)
        points.push_back(at(364.0 * i / 999, i == 999 ? 1u : 0u));
    return points;
}

std::vector<WearPoint> joined(std::vector<WearPoint> a, const std::vector<WearPoint>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Row {
    const char* name;
    std::vector<WearPoint> points;  // the current run last
    std::size_t records;
    std::size_t out_of_order;
    std::size_t restarts;
    std::optional<double> bytes_per_day;
    std::optional<double> used_per_30_days;
    std::optional<double> pe_per_30_days;
    std::size_t window_records;
    const char* projected;  // the date ("after 9999"), or what not_projected begins with
    std::optional<std::uint64_t> last_written = {};  // the chart's last point, continued
};

TEST(WearTrend, RatesProjectionAndTheRulesForOddRecords) {
    std::vector<WearPoint> old;  // two years before, a slower wear the window leaves out
    for (int i = 0; i < 5; ++i)
        old.push_back(at(-730 + 60 * i, 1u + static_cast<unsigned>(i)));
    std::vector<WearPoint> recent;
    for (int i = 0; i < 6; ++i)
        recent.push_back(at(60 * i, 40u + 2 * static_cast<unsigned>(i)));

    const Row rows[] = {
        {"regular use", monthly(12, 10, 1), 12, 0, 0, 100 * kGB, 1.0, 6.0, 12, "2033-05-24"},
        // Six flat months, then a jump: the line through all eight points, not the last two,
        // whose date (2028-08-28) is later than 21 steps in 210 days allow: the latest one.
        {"a burst",
         joined(monthly(6, 10, 0), {at(180, 30u, 30000 * kGB), at(210, 31u, 33000 * kGB)}), 8, 0, 0,
         33000.0 * kGB / 210, 21.0 / 7, 6.0, 8, "2028-07-23"},
        // Data written and power-on hours restart from zero on the third record: the rise over
        // that step is the new value, and the chart shows the total continued.
        {"a counter that went backwards after a controller reset",
         {at(0, 10u, 1000 * kGB, 100), at(10, 11u, 2000 * kGB, 340), at(20, 12u, 500 * kGB, 20),
          at(30, 13u, 1500 * kGB, 260)},
         4,
         0,
         0,
         2500.0 * kGB / 30,
         3.0,
         std::nullopt,
         4,
         "2028-06-19",
         3500 * kGB},
        // Percentage used falls: another drive under the same serial; only its own records count.
        {"a drive replaced under the same name",
         {at(0, 50u), at(30, 60u), at(60, 70u), at(90, 1u), at(120, 2u), at(150, 3u)},
         3,
         0,
         1,
         std::nullopt,
         1.0,
         std::nullopt,
         3,
         "2034-05-19"},
        {"a record appended out of time order",
         {at(0, 10u), at(30, 11u), at(15, 50u), at(60, 12u)},
         3,
         1,
         0,
         std::nullopt,
         1.0,
         std::nullopt,
         3,
         "2033-05-24"},
        {"only the last 365 days carry the line", joined(old, recent), 11, 0, 0, std::nullopt,
         (50.0 - 1) / (300 + 730) * 30, std::nullopt, 6, "2030-12-06"},
        {"barely worn", barely_worn(), 1000, 0, 0, std::nullopt, 30.0 / 364, std::nullopt, 1000,
         "not enough history: percentage used moved by one step or less"},
        {"one record",
         {at(0, 10u, 5 * kGB)},
         1,
         0,
         0,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         1,
         "not enough history: fewer than two"},
        {"no percentage used (no NVMe health page)",
         {at(0, std::nullopt, 5 * kGB), at(40, std::nullopt, 45 * kGB)},
         2,
         0,
         0,
         1 * kGB,
         std::nullopt,
         std::nullopt,
         0,
         "not enough history: fewer than two"},
        {"less than a day apart",
         {at(0, 10u, 0), at(0.5, 11u, 100 * kGB)},
         2,
         0,
         0,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         2,
         "not enough history: the records are less than a day apart"},
        {"no change in wear",
         {at(0, 10u), at(30, 10u), at(60, 10u)},
         3,
         0,
         0,
         std::nullopt,
         0.0,
         std::nullopt,
         3,
         "not enough history: no change in wear"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WearTrendBuilder builder(row.points.back().time);
        for (const WearPoint& point : row.points)
            builder.add(point);
        const WearTrend t = builder.finish();
        EXPECT_EQ(t.records, row.records);
        EXPECT_EQ(builder.out_of_order(), row.out_of_order);
        EXPECT_EQ(builder.restarts(), row.restarts);
        EXPECT_EQ(t.last_time, row.points.back().time);
        const auto near = [](const std::optional<double>& got, const std::optional<double>& want,
                             const char* what) {
            ASSERT_EQ(got.has_value(), want.has_value()) << what;
            if (want) {
                EXPECT_NEAR(*got, *want, *want * 1e-9 + 1e-9) << what;
            }
        };
        near(t.bytes_written_per_day, row.bytes_per_day, "bytes written per day");
        near(t.percentage_used_per_30_days, row.used_per_30_days, "percentage used per 30 days");
        near(t.pe_cycles_per_30_days, row.pe_per_30_days, "P/E cycles per 30 days");
        EXPECT_EQ(t.window_records, row.window_records);
        if (t.projected_end_time) {
            EXPECT_EQ(*t.projected_end_time > kLastUtcSecond
                          ? "after 9999"
                          : format_utc_time(*t.projected_end_time).substr(0, 10),
                      row.projected);
            EXPECT_TRUE(t.not_projected.empty());
        } else {
            EXPECT_EQ(t.not_projected.rfind(row.projected, 0), 0u) << t.not_projected;
        }
        ASSERT_FALSE(t.chart.empty());
        EXPECT_EQ(t.chart.back().time, row.points.back().time);
        if (row.last_written) {
            EXPECT_EQ(t.chart.back().data_written_bytes, row.last_written);
        }
    }
}

// A long history keeps at most kWearChartPoints points, evenly spread from the first to the last.
TEST(WearTrend, ChartIsThinnedEvenlyAndEndsAtTheCurrentRun) {
    constexpr int kPoints = 1601;
    WearTrendBuilder builder(kStart + kPoints * 3600);
    for (int i = 0; i <= kPoints; ++i)
        builder.add(
            WearPoint{kStart + i * 3600, 10u + static_cast<unsigned>(i / 100), {}, {}, {}, {}, {}});
    const WearTrend t = builder.finish();
    ASSERT_LE(t.chart.size(), kWearChartPoints);
    ASSERT_GE(t.chart.size(), kWearChartPoints / 2);
    EXPECT_EQ(t.chart.front().time, kStart);
    EXPECT_EQ(t.chart.back().time, kStart + kPoints * 3600);
    const std::int64_t step = t.chart[1].time - t.chart[0].time;
    for (std::size_t i = 1; i + 1 < t.chart.size(); ++i)
        EXPECT_EQ(t.chart[i].time - t.chart[i - 1].time, step) << "point " << i;
}

// The projection's source is the first that gives a date: percentage used, then the erase count
// against the rated cycles, then the vendor's life figure; each reason has its code.
TEST(WearTrend, SourcesInOrderAndTheReasonCodes) {
    const auto point = [](double day, std::optional<unsigned> used,
                          std::optional<std::uint64_t> erases, std::optional<unsigned> life) {
        return WearPoint{
            kStart + static_cast<std::int64_t>(day * kSecondsPerDay),   used, {}, {}, erases,
            erases ? std::optional<std::uint32_t>(3000) : std::nullopt, life};
    };
    struct Case {
        const char* name;
        std::vector<WearPoint> points;
        TrendSource source;
        const char* code;               // "" when projected
        std::optional<double> end_day;  // the projected date, days after kStart
    } cases[] = {
        {"percentage used first",
         {point(0, 10, 300, 10), point(90, 40, 1500, 60)},
         TrendSource::percentage_used,
         "",
         270},
        // Flat whole percentages: 3000 rated cycles, 300 to 1200 erases in 90 days is 10 % to 40 %.
        {"erase counts when percentage used does not move",
         {point(0, 5, 300, {}), point(90, 5, 1200, {})},
         TrendSource::erase_counts,
         "",
         270},
        {"the vendor's life figure alone",
         {point(0, {}, {}, 20), point(40, {}, {}, 60)},
         TrendSource::vendor_life,
         "",
         80},
        {"percentage used at 100 % says so, whatever the erase counts",
         {point(0, 98, 300, {}), point(30, 104, 330, {})},
         TrendSource::percentage_used,
         "reached",
         {}},
        {"no change anywhere",
         {point(0, 5, 300, 5), point(90, 5, 300, 5)},
         TrendSource::percentage_used,
         "no_change",
         {}},
        {"one record", {point(0, 5, {}, {})}, TrendSource::percentage_used, "too_few_records", {}},
        {"hours apart",
         {point(0, 5, {}, {}), point(0.5, 6, {}, {})},
         TrendSource::percentage_used,
         "too_short",
         {}},
        {"no percentage used, no change in erases: the erase counts' reason",
         {point(0, {}, 300, {}), point(90, {}, 300, {})},
         TrendSource::erase_counts,
         "no_change",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WearTrendBuilder builder(c.points.back().time);
        for (const WearPoint& p : c.points)
            builder.add(p);
        const WearTrend t = builder.finish();
        EXPECT_EQ(t.source, c.source);
        EXPECT_STREQ(t.not_projected_code, c.code);
        EXPECT_EQ(t.not_projected.empty(), *c.code == '\0') << t.not_projected;
        ASSERT_EQ(t.projected_end_time.has_value(), c.end_day.has_value());
        if (c.end_day) {
            EXPECT_NEAR(static_cast<double>(*t.projected_end_time - kStart) / kSecondsPerDay,
                        *c.end_day, 0.01);
        }
    }
}

// The range the whole-number readings allow and the verdict on its latest date, from the runs
// of each source; days counted from the last run. A reading v stands for [v, v + 1): f to l in t
// days is a pace of (l - f - 1) / t to (l - f + 1) / t steps a day.
TEST(WearTrend, RangeFromWholeNumberReadingsAndTheVerdictOnItsLatestDate) {
    constexpr double kAfter9999 = -1;
    const auto run = [](double day, std::optional<unsigned> used,
                        std::optional<std::uint64_t> erases = {}, std::optional<unsigned> life = {},
                        std::uint32_t rated = 3000) {
        return WearPoint{
            kStart + static_cast<std::int64_t>(day * kSecondsPerDay),    used, {}, {}, erases,
            erases ? std::optional<std::uint32_t>(rated) : std::nullopt, life};
    };
    std::vector<WearPoint> hourly;  // the first day of a drive on an hourly timer
    for (int hour = 0; hour < 26; ++hour)
        hourly.push_back(run(hour / 24.0, hour < 13 ? 1u : 2u));
    std::vector<WearPoint> tenth;  // 0 % to 10 % over 100 days, a step every 10 days
    for (unsigned i = 0; i <= 10; ++i)
        tenth.push_back(run(10.0 * i, i));
    struct Case {
        const char* name;
        std::vector<WearPoint> points;
        TrendSource source;
        const char* code;  // "" when projected
        double earliest, central, latest;
        bool warns;
    } cases[] = {
        {"26 hourly runs, 1 % to 2 %", hourly, TrendSource::percentage_used, "within_one_step", 0,
         0, 0, false},
        {"0 % to 10 % over 100 days", tenth, TrendSource::percentage_used, "", 89 / 0.11, 900, 1000,
         false},
        {"78 % seven days ago, 80 % now",
         {run(0, 78), run(7, 80)},
         TrendSource::percentage_used,
         "",
         19 / (3 / 7.0),
         70,
         140,
         false},
        {"80 % ten days ago, 84 % now",
         {run(0, 80), run(10, 84)},
         TrendSource::percentage_used,
         "",
         30,
         40,
         16 / 0.3,
         true},
        {"erase counts, 2000 to 2100 of 3000 in 50 days",
         {run(0, 5, 2000), run(50, 5, 2100)},
         TrendSource::erase_counts,
         "",
         899 / (101 / 50.0),
         450,
         900 / (99 / 50.0),
         false},
        {"erase counts, 2900 to 2950 of 3000 in 10 days",
         {run(0, {}, 2900), run(10, {}, 2950)},
         TrendSource::erase_counts,
         "",
         49 / 5.1,
         10,
         50 / 4.9,
         true},
        {"erase counts one cycle apart",
         {run(0, {}, 2000), run(30, {}, 2001)},
         TrendSource::erase_counts,
         "within_one_step",
         0,
         0,
         0,
         false},
        {"erase counts against cycles rated in billions",
         {run(0, {}, 0, {}, 4000000000), run(364, {}, 3, {}, 4000000000)},
         TrendSource::erase_counts,
         "",
         kAfter9999,
         kAfter9999,
         kAfter9999,
         false},
        {"the vendor's life, 80 % to 84 % in 10 days",
         {run(0, {}, {}, 80), run(10, {}, {}, 84)},
         TrendSource::vendor_life,
         "",
         30,
         40,
         16 / 0.3,
         true},
        {"the vendor's life one step apart",
         {run(0, {}, {}, 20), run(60, {}, {}, 21)},
         TrendSource::vendor_life,
         "within_one_step",
         0,
         0,
         0,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t now = c.points.back().time;
        WearTrendBuilder builder(now);
        for (const WearPoint& p : c.points)
            builder.add(p);
        const WearTrend t = builder.finish();
        EXPECT_EQ(t.source, c.source);
        EXPECT_STREQ(t.not_projected_code, c.code);
        ASSERT_EQ(t.projected_end_time.has_value(), *c.code == '\0');
        if (t.projected_end_time) {
            const auto days = [now](std::int64_t end) {
                return end > kLastUtcSecond ? kAfter9999
                                            : static_cast<double>(end - now) / kSecondsPerDay;
            };
            EXPECT_NEAR(days(t.earliest_end_time), c.earliest, 0.01);
            EXPECT_NEAR(days(*t.projected_end_time), c.central, 0.01);
            EXPECT_NEAR(days(t.latest_end_time), c.latest, 0.01);
        }
        HealthAssessment health;
        health.verdict = HealthVerdict::passed;
        judge_projected_wear(health, t, now);
        EXPECT_EQ(health.verdict, c.warns ? HealthVerdict::warning : HealthVerdict::passed);
    }
}

// The verdict's horizon: a latest date less than 90 days ahead warns, last among the reasons; at
// 90 days or none it does not; a FAILED verdict stays FAILED. The line gives the central date.
TEST(WearTrend, ProjectionWithinTheHorizonWarns) {
    const std::int64_t now = kStart + 400 * kSecondsPerDay;
    struct Case {
        std::optional<std::int64_t> end;  // the projected date
        std::int64_t latest;
        HealthVerdict before;
        HealthVerdict after;
        const char* text;  // of the added reason; nullptr: none added
    } cases[] = {
        {now + 89 * kSecondsPerDay, now + 89 * kSecondsPerDay, HealthVerdict::passed,
         HealthVerdict::warning,
         "projected to reach 100% used about 2027-05, between 2027-01 and 2027-05 (in 89 days, "
         "from 12 runs)"},
        {now + 20 * kSecondsPerDay, now + 90 * kSecondsPerDay - 1, HealthVerdict::unknown,
         HealthVerdict::warning,
         "projected to reach 100% used about 2027-02, between 2027-01 and 2027-05 (in 20 days, "
         "from 12 runs)"},
        {now + 20 * kSecondsPerDay, now + 90 * kSecondsPerDay, HealthVerdict::passed,
         HealthVerdict::passed, nullptr},
        {now, now, HealthVerdict::failed, HealthVerdict::failed,
         "projected to reach 100% used about 2027-02, between 2027-01 and 2027-02 (in 0 days, "
         "from 12 runs)"},
        {std::nullopt, 0, HealthVerdict::passed, HealthVerdict::passed, nullptr},
    };
    for (const Case& c : cases) {
        WearTrend trend;
        trend.projected_end_time = c.end;
        trend.earliest_end_time = kStart + 380 * kSecondsPerDay;
        trend.latest_end_time = c.latest;
        trend.window_records = 12;
        HealthAssessment health;
        health.verdict = c.before;
        health.reasons.resize(2);
        judge_projected_wear(health, trend, now);
        EXPECT_EQ(health.verdict, c.after);
        ASSERT_EQ(health.reasons.size(), c.text != nullptr ? 3u : 2u);
        if (c.text != nullptr) {
            EXPECT_EQ(health.reasons.back().text, c.text);
            EXPECT_STREQ(health.reasons.back().field, "projected_wear");
            EXPECT_EQ(health.reasons.back().level, HealthLevel::warning);
        }
    }
}

// The flash's own counters over the window, as read: a note for each that rose from the first run
// that holds it to the last, the verdict as it was; none for a count that stayed, fell (a firmware
// that restarted it) or rose before the window or before percentage used fell.
TEST(WearTrend, FlashCountersThatRoseAreNotedAsRead) {
    struct Run {
        double day;
        std::optional<std::uint64_t> later_bad_blocks;  // none: a record without the counters
        std::uint64_t retry_d23 = 2;
        std::optional<unsigned> used = {};
    };
    struct Case {
        const char* name;
        std::vector<Run> runs;           // the current run last
        std::vector<std::string> notes;  // "field: text"
    } cases[] = {
        {"later bad blocks rise",
         {{273, 12}, {300, 25}, {341, 40}},
         {"later_bad_blocks: Later bad blocks 12 to 40 since 2026-10-01: +28 in 68 days"}},
        {"nothing rises", {{273, 12}, {300, 12}, {341, 12}}, {}},
        {"older records without the counters",
         {{200, std::nullopt, 9}, {273, 12}, {341, std::nullopt, 9}, {341.5, 40}},
         {"later_bad_blocks: Later bad blocks 12 to 40 since 2026-10-01: +28 in 68 days"}},
        {"a count that fell, a rise before the window",
         {{-100, 1}, {273, 12, 5}, {341, 12, 3}},
         {}},
        {"a pair's member within a day",
         {{341, 12}, {341.5, 12, 3}},
         {"read_retry_fail_d23: Read retry fails d2 d3 2 to 3 since 2026-12-08: +1 in less than a "
          "day"}},
        {"percentage used fell: the drive's counts start over",
         {{273, 12, 2, 5}, {300, 20, 2, 1}, {341, 30, 2, 2}},
         {"later_bad_blocks: Later bad blocks 20 to 30 since 2026-10-28: +10 in 41 days"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WearTrendBuilder builder(at(c.runs.back().day, {}).time);
        for (const Run& run : c.runs) {
            WearPoint point = at(run.day, run.used);
            if (run.later_bad_blocks) {
                for (std::size_t i = 0; i < kFlashCounterCount; ++i)
                    point.flash.set(i, 7);
                point.flash.set(0, *run.later_bad_blocks);
                point.flash.set(8, run.retry_d23);  // read_retry_fail_d23
            }
            builder.add(point);
        }
        HealthAssessment health;
        health.verdict = HealthVerdict::passed;
        health.reasons.resize(1);
        note_flash_counters(health, builder.finish());
        EXPECT_EQ(health.verdict, HealthVerdict::passed);
        std::vector<std::string> notes;
        for (std::size_t i = 1; i < health.reasons.size(); ++i) {
            const HealthReason& r = health.reasons[i];
            EXPECT_EQ(r.level, HealthLevel::note);
            EXPECT_TRUE(r.source.starts_with("history; sysinfo, bytes 0x")) << r.source;
            notes.push_back(std::string(r.field) + ": " + r.text);
        }
        EXPECT_EQ(notes, c.notes);
    }
}

}  // namespace
}  // namespace torvik
