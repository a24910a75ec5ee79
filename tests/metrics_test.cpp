// The metrics file: a file of several drives against the golden tests/metrics/fleet.prom (which
// the promtool check also reads), the escaping of label values, and --metrics FILE as the whole
// program writes it or says why it could not.
//
// After an intended change of the metrics, rewrite the golden file and review it with git:
//   TORVIK_UPDATE_GOLDEN=1 ctest --test-dir build -R Metrics
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "model/drive_reader.h"
#include "model/key_figures.h"
#include "report/metrics_text.h"
#include "scsi/run_manifest.h"
#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "tests/support/fake_platform.h"
#include "tests/support/profile_model.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

// Four drives in one file: a worn one (percentage used past 100) whose history projects its end,
// one without an NVMe log whose bridge sends a hostile serial, one the run could not reach (its
// path its only label) and the worn one's identity again (path on every series of both).
// Each family is written once, with every drive's samples under it; a figure not read has no
// sample.
TEST(MetricsText, FleetFileMatchesTheGolden) {
    DriveModel worn = read_profile_model("worn-out");
    worn.trend.emplace().projected_end_time = 1772000000;
    worn.trend->latest_end_time = 1779000000;
    DriveModel hostile = read_profile_model("vendor-life");
    hostile.identity.serial = "BAD\"SN\\\n\x1b\xff";
    hostile.drive_identity = identify_drive(hostile);  // the page edited after it came in
    const KeyFigures worn_figures = key_figures(worn);
    const KeyFigures hostile_figures = key_figures(hostile);
    const std::vector<MetricsDrive> drives = {
        {"/dev/sdb", &worn, 1773480413, &worn_figures},
        {"/dev/sdc", &hostile, 1773480414, &hostile_figures},
        {"\\\\.\\PhysicalDrive3", nullptr, 1773480415},
        {"/dev/sdd", &worn, 1773480416, &worn_figures},  // the worn drive's identity again
    };
    const std::string text =
        metrics_text(drives, MetricsRun{"0.2a", "Linux", std::size_t{3}, 1773480400, false});
    const fs::path golden = fs::path(TORVIK_SOURCE_DIR) / "tests" / "metrics" / "fleet.prom";
    const char* update = std::getenv("TORVIK_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(golden, std::ios::binary) << text;
        GTEST_SKIP() << "rewrote " << golden;
    }
    EXPECT_EQ(text, read_file(golden)) << "differs from " << golden;
}

TEST(MetricsText, LabelValuesAreEscapedAndValidUtf8) {
    const struct {
        std::string text;
        std::string value;
    } cases[] = {
        {"SIM 1TB", "SIM 1TB"},
        {"a\"b", "a\\\"b"},
        {"\\\\.\\PhysicalDrive2", "\\\\\\\\.\\\\PhysicalDrive2"},
        {"two\nlines", "two\\nlines"},
        {std::string("nul\0tab\tesc\x1b", 12),
         "nul\xEF\xBF\xBDtab\xEF\xBF\xBD"
         "esc\xEF\xBF\xBD"},
        {"del\x7f high\x80\xff", "del\xEF\xBF\xBD high\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"caf\xc3\xa9", "caf\xEF\xBF\xBD\xEF\xBF\xBD"},  // drive texts are ASCII: no UTF-8 passes
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(metrics_label_value(c.text), c.value) << c.text;
}

// FILE is relative to the current folder whatever --output-dir says; a FILE whose folder cannot
// be had is refused before the drive (status 1); a run that could not reach the drive still
// writes a file that says so.
TEST(MetricsFile, WrittenBesideTheRunOrSaidWhyNot) {
    const struct {
        std::vector<const char*> args;
        int status;
        const char* file;             // where the metrics are, nullptr: nowhere
        const char* holds;            // in the file, or on standard error when there is no file
        const char* lacks = nullptr;  // not in the file
    } cases[] = {
        {{"--sim=hot", "--output-dir", "out", "--metrics", "mon/t.prom", "0y"},
         0,
         "mon/t.prom",
         "torvik_pssd_temperature_celsius{serial=\"SIM00000000000101\",model=\"TORVIK PSSD SIM "
         "1TB\"} 74\n"},
        // The verdict needs the bridge's NVMe log, read for a controller the report does not cover.
        {{"--sim=unsupported", "--metrics", "t.prom", "0y"}, 0, "t.prom", "verdict=\"PASSED\"} 1"},
        // Each warning and failed line of the verdict, a series of its own.
        {{"--sim=worn-out", "--metrics", "t.prom", "0y"},
         0,
         "t.prom",
         "torvik_pssd_health_reason{serial=\"SIM00000000000104\",model=\"TORVIK PSSD SIM 1TB\","
         "field=\"percentage_used\",level=\"failed\"} 1\n"},
        {{"--sim=hot", "--metrics", "t.prom", "0y"},
         0,
         "t.prom",
         "model=\"TORVIK PSSD SIM 1TB\",field=\"composite_temperature\",level=\"warning\"} 1\n"},
        // The flash rule's 0/1 and the notes, each a series of its own.
        {{"--sim=counterfeit", "--metrics", "t.prom", "0y"},
         0,
         "t.prom",
         "torvik_pssd_capacity_exceeds_flash{serial=\"SIM00000000000110\",model=\"TORVIK PSSD SIM "
         "2TB\"} 1\n"},
        {{"--sim=mixed-flash", "--metrics", "t.prom", "0y"},
         0,
         "t.prom",
         "torvik_pssd_health_note{serial=\"SIM00000000000111\",model=\"TORVIK PSSD SIM 1TB\","
         "field=\"mixed_flash_parts\"} 1\n"},
        // The flash's own counters on every run, a pair's members by label; none without sysinfo.
        {{"--sim", "--metrics", "t.prom", "0y"},
         0,
         "t.prom",
         "torvik_pssd_flash_read_retry_fails{serial=\"SIM00000000000001\",model=\"TORVIK PSSD SIM "
         "1TB\",member=\"d2_d3\"} 2\n"},
        {{"--sim=failing-pages", "--metrics", "t.prom", "0y"},
         0,
         "t.prom",
         "torvik_pssd_run_success",
         "torvik_pssd_flash_later"},
        {{"--sim", "--metrics", "t.prom", "1y"}, 2, "t.prom", "torvik_pssd_run_success{path=\""},
        // A folder that cannot be had stops the run before the drive.
        {{"--sim", "--metrics", "file/t.prom", "0y"},
         1,
         nullptr,
         "--metrics file/t.prom: its folder file exists and is not a directory"},
        {{"--sim", "--metrics", "mon/", "0y"},
         1,
         nullptr,
         "--metrics mon/: it names a folder, not a file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + std::string(" ") + c.args[c.args.size() - 2]);
        ScratchDir dir;
        fs::create_directory("dir");
        std::ofstream("file") << "a file\n";
        FakePlatform host;
        const ProgramRun run = run_whole_program(host, c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.file != nullptr) {
            EXPECT_TRUE(contains(dir.read(c.file), c.holds)) << dir.read(c.file);
            EXPECT_TRUE(c.lacks == nullptr || !contains(dir.read(c.file), c.lacks));
            EXPECT_FALSE(dir.exists("out/t.prom"));
        } else {
            EXPECT_TRUE(contains(run.err, c.holds)) << run.err;
        }
    }
}

// A replayed NVMe log whose power-on hours reach 2^64 - 1 or pass 2^64: the history line and the
// metrics stop at the largest count rather than wrap around.
TEST(MetricsFile, CountersAtTheirWidthStopThere) {
    const struct {
        std::uint64_t high, low;
        const char* hours;    // in the history line
        const char* seconds;  // in the metrics
    } cases[] = {
        {0, ~std::uint64_t{0}, "18446744073709551615", "66408278665354385814000"},
        {1, 0, "18446744073709551615", "66408278665354385814000"},
        {0, 41, "41", "147600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hours);
        ScratchDir dir;
        FakePlatform host;
        ASSERT_EQ(run_whole_program(host, {"--sim", "--output-dir", "run", "0y"}).status, 0);
        const fs::path dump = fs::path("run") / "torvik_pssd_nvme_smart.bin";
        std::string page = read_file(dump);
        ASSERT_EQ(page.size(), 512u);
        for (int i = 0; i < 8; ++i) {
            page[0x80 + i] = static_cast<char>(c.low >> (8 * i));
            page[0x88 + i] = static_cast<char>(c.high >> (8 * i));
        }
        std::ofstream(dump, std::ios::binary | std::ios::trunc) << page;
        std::string manifest = read_file(fs::path("run") / kManifestFileName);
        const std::size_t line = manifest.find("\nnvme_smart ") + 1;
        char sum[16];
        std::snprintf(sum, sizeof sum, "%08x",
                      crc32(reinterpret_cast<const std::uint8_t*>(page.data()), page.size()));
        manifest.replace(line, manifest.find_first_of("\r\n", line) - line,
                         std::string("nvme_smart data=512 dump=512 crc32=") + sum);
        std::ofstream(fs::path("run") / kManifestFileName, std::ios::binary | std::ios::trunc)
            << manifest;

        const ProgramRun run =
            run_whole_program(host, {"--replay", "run", "--output-dir", "out", "--history",
                                     "h.jsonl", "--metrics", "t.prom", "0y"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(
            contains(dir.read("h.jsonl"), std::string("\"power_on_hours\":") + c.hours + ","))
            << dir.read("h.jsonl");
        const std::string metrics = dir.read("t.prom");
        const std::size_t sample = metrics.find("\ntorvik_pssd_power_on_seconds_total{");
        ASSERT_NE(sample, std::string::npos) << metrics;
        const std::size_t end = metrics.find('\n', sample + 1);
        EXPECT_EQ(metrics.substr(metrics.rfind(' ', end) + 1, end - metrics.rfind(' ', end) - 1),
                  c.seconds);
    }
}

}  // namespace
}  // namespace torvik::testing
