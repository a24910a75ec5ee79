// The JSON report: a drive that answers nothing, exact numbers at their limits in the JSON and the
// health log, the flash fields against the decoder's descriptions, and the runs that must write no
// JSON at all. Each simulated drive's JSON, report and health log are pinned by the golden files.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/program.h"
#include "common/bytes.h"
#include "flashid/flash_id.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "scsi/run_manifest.h"
#include "sim/profiles.h"
#include "sim/sim_drive.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/flash_id_examples.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kJson = "torvik_usb_pssd_flash_id.json";
constexpr const char* kReport = "torvik_usb_pssd_flash_id.txt";
constexpr const char* kHealthLog = "torvik_pssd_flash_id_smart.txt";

// The lines of a text file, without their ends (CRLF where Windows wrote it in text mode).
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string format(const char* fmt, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

// The JSON file of the current directory, parsed; a file that is no valid JSON fails the test.
json read_json() {
    const std::string text = read_file(kJson);
    EXPECT_FALSE(text.empty()) << "no " << kJson;
    json doc = json::parse(text, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << text;
    for (unsigned char c : text)
        EXPECT_LT(c, 0x80) << "the file is ASCII";
    return doc;
}

// A whole number of the JSON as decimal text, whether it is written as a number or a string.
std::string decimal(const json& value) {
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_number_unsigned())
        return std::to_string(value.get<std::uint64_t>());
    if (value.is_number_integer())
        return std::to_string(value.get<std::int64_t>());
    ADD_FAILURE() << "not a whole number: " << value;
    return "";
}

bool command_failed(const json& doc, const std::string& command) {
    for (const json& f : doc["failed_commands"]) {
        if (f["command"] == command)
            return true;
    }
    return false;
}

// Every file the JSON says was written is there, and every file there but the JSON is listed.
void check_files(const json& doc) {
    std::set<std::string> listed;
    for (const json& name : doc["files"]["written"]) {
        EXPECT_TRUE(fs::exists(name.get<std::string>())) << name;
        listed.insert(name.get<std::string>());
    }
    for (const fs::directory_entry& e : fs::directory_iterator(fs::current_path())) {
        const std::string name = e.path().filename().string();
        if (name != kJson) {
            EXPECT_EQ(listed.count(name), 1u) << name;
        }
    }
}

// The health log's section title ("NVME SMART", "FLASH STATUS LOG", ...) -> its lines.
std::map<std::string, std::vector<std::string>> health_sections(const std::string& text) {
    std::map<std::string, std::vector<std::string>> sections;
    std::string current;
    const std::regex heading("-------- (.*) --------.*");
    for (const std::string& line : lines_of(text)) {
        std::smatch m;
        if (std::regex_match(line, m, heading))
            current = m[1];
        else
            sections[current].push_back(line);
    }
    return sections;
}

// A "<label>\t...: <value>" line: the label without its tabs and marks, and the value.
std::pair<std::string, std::string> split_line(const std::string& line) {
    const std::size_t colon = line.find(": ");
    std::string label = line.substr(0, colon);
    while (!label.empty() && (label.back() == '\t' || label.back() == '*'))
        label.pop_back();
    return {label, colon == std::string::npos ? "" : line.substr(colon + 2)};
}

// The example of docs/json.md is what the default simulated drive gives, but for the machine it
// was made on.
TEST(JsonReport, DocumentedExampleIsTheDefaultDrivesOutput) {
    const std::string doc_text = read_file(fs::path(TORVIK_SOURCE_DIR) / "docs" / "json.md");
    const std::size_t example = doc_text.find("## Example");
    ASSERT_NE(example, std::string::npos);
    const std::size_t start = doc_text.find("```json\n", example);
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = doc_text.find("```", start + 8);
    json documented = json::parse(doc_text.substr(start + 8, end - start - 8), nullptr, false);
    ASSERT_FALSE(documented.is_discarded());

    ScratchDir dir;
    FakePlatform host;
    ASSERT_EQ(run_whole_program(host, {"--json", "--sim", "0y"}).status, kExitOk);
    json produced = read_json();
    for (json* doc : {&documented, &produced}) {
        doc->erase("os");
        (*doc)["tool"].erase("platform");
    }
    EXPECT_EQ(documented, produced);
    EXPECT_EQ(documented["json_format_version"], kJsonFormatVersion);
}

TEST(JsonReport, ProfilesReachEveryPart) {
    // What the profiles are for: a gate stop, failed bridge reads, failed controller pages.
    const struct {
        const char* profile;
        std::vector<const char*> present;
        std::vector<const char*> absent;
        std::vector<const char*> failed;
    } cases[] = {
        {"default",
         {"flash_id", "banks", "configuration", "attribute_configuration", "smart", "smartext",
          "nvme_smart", "nvme_identify", "system_status", "flash_status"},
         {},
         {}},
        // With --json the bridge's pages are read whatever the controller.
        {"unsupported",
         {"flash_id", "nvme_smart", "nvme_identify"},
         {"banks", "configuration", "smart"},
         {}},
        {"no-tunnel", {"smart"}, {"nvme_smart", "nvme_identify"}, {"nvme_identify", "nvme_smart"}},
        {"failing-pages",
         {"flash_id", "nvme_smart"},
         {"banks", "configuration", "attribute_configuration", "smart", "smartext", "system_status",
          "flash_status"},
         {"sysinfo", "fidall", "infoblock", "id", "smart", "smartext"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        ScratchDir dir;
        FakePlatform host;
        const std::string sim = std::string("--sim=") + c.profile;
        ASSERT_EQ(run_whole_program(host, {"--json", sim.c_str(), "0y"}).status, kExitOk);
        const json doc = read_json();
        for (const char* key : c.present)
            EXPECT_TRUE(doc.contains(key)) << key;
        for (const char* key : c.absent)
            EXPECT_FALSE(doc.contains(key)) << key;
        std::vector<std::string> failed;
        for (const json& f : doc["failed_commands"])
            failed.push_back(f["command"]);
        EXPECT_EQ(failed, std::vector<std::string>(c.failed.begin(), c.failed.end()));
    }
}

TEST(JsonReport, ReplayedDumpsGiveTheSameJson) {
    ScratchDir recorded;
    FakePlatform host;
    ASSERT_EQ(run_whole_program(host, {"--json", "--sim", "0y"}).status, kExitOk);
    json original = read_json();
    const std::string dir = recorded.path().string();
    ScratchDir replayed;
    ASSERT_EQ(run_whole_program(host, {"--json", "--replay", dir.c_str(), "0y"}).status, kExitOk);
    json replay = read_json();
    EXPECT_EQ(replay["drive"]["simulated"], json({{"kind", "replay"}, {"source", dir}}));
    original.erase("drive");
    replay.erase("drive");
    EXPECT_EQ(replay, original);
}

// --json=-: standard output holds the document and nothing else, the same as the file; the run's
// lines go to standard error and there is no closing prompt, without 'y'.
TEST(JsonReport, JsonToStandardOutputHoldsTheDocumentAlone) {
    ScratchDir dir;
    FakePlatform host;
    host.keys = {' '};  // a prompt would take this key and open the report
    const ProgramRun r = run_whole_program(host, {"--json=-", "--health", "--sim", "0"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const json parsed = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << r.out;
    EXPECT_EQ(r.out, read_text_file(kJsonReportFileName));  // the file has CRLF on Windows
    EXPECT_EQ(parsed["health"]["verdict"], "PASSED");
    EXPECT_NE(r.err.find("Torvik usb/pssd flash id v"), std::string::npos);
    EXPECT_NE(r.err.find("\nHealth: PASSED\nSummary: "), std::string::npos);
    EXPECT_EQ(r.err.find("Press any key"), std::string::npos);
    EXPECT_TRUE(host.shell_files.empty());

    // A refused run writes a document that says why, and no JSON file.
    const ProgramRun refused = run_whole_program(host, {"--json=-", "5"});
    EXPECT_EQ(refused.status, kExitBadDrive);
    const json why = json::parse(refused.out, nullptr, false);
    ASSERT_FALSE(why.is_discarded()) << refused.out;
    EXPECT_EQ(why["drive"]["number"], 5);
    EXPECT_EQ(why["examined"], false);
    EXPECT_EQ(why["health"]["verdict"], "UNKNOWN");
    EXPECT_EQ(why["health"]["reasons"][0]["text"],
              "The drive was not examined: there is no such drive");
}

// The run's time: the host's for a run on a drive, the recorded one for a replay, whatever the
// host's clock says then, and null for a folder recorded before manifests held the time.
TEST(JsonReport, RunTimeIsTheRunsOrTheRecordedOne) {
    ScratchDir recorded;
    FakePlatform host;
    ASSERT_EQ(run_whole_program(host, {"--json", "--sim", "0y"}).status, kExitOk);
    EXPECT_EQ(read_json()["run_time"], "2026-03-14T09:26:53Z");
    const std::string dir = recorded.path().string();

    host.time = 0;  // the replay's own time, never shown
    {
        ScratchDir replayed;
        ASSERT_EQ(
            run_whole_program(host, {"--json", "--html", "--replay", dir.c_str(), "0y"}).status,
            kExitOk);
        EXPECT_EQ(read_json()["run_time"], "2026-03-14T09:26:53Z");
        EXPECT_NE(read_text_file(kManifestFileName).find("\nrun_time 2026-03-14T09:26:53Z\n"),
                  std::string::npos);
        EXPECT_NE(read_file(kHtmlReportFileName).find("2026-03-14T09:26:53Z"), std::string::npos);
    }
    // The manifest of an older run: no time line.
    std::string manifest = read_file(recorded.path() / kManifestFileName);
    manifest.erase(manifest.find("run_time"),
                   manifest.find('\n', manifest.find("run_time")) - manifest.find("run_time") + 1);
    std::ofstream(recorded.path() / kManifestFileName, std::ios::binary | std::ios::trunc)
        << manifest;
    ScratchDir replayed;
    ASSERT_EQ(run_whole_program(host, {"--json", "--html", "--replay", dir.c_str(), "0y"}).status,
              kExitOk);
    EXPECT_TRUE(read_json()["run_time"].is_null());
    EXPECT_EQ(read_file(kManifestFileName).find("run_time"), std::string::npos);
    EXPECT_NE(
        read_file(kHtmlReportFileName).find("unknown: the replayed folder does not record it"),
        std::string::npos);
}

TEST(JsonReport, JsonChangesNoOtherOutput) {
    std::map<std::string, std::string> files[2];
    std::string console[2];
    for (int json_on = 0; json_on < 2; ++json_on) {
        ScratchDir dir;
        FakePlatform host;
        std::vector<const char*> args = {"--sim", "0y"};
        if (json_on)
            args.insert(args.begin(), "--json");
        console[json_on] = run_whole_program(host, args).out;
        for (const fs::directory_entry& e : fs::directory_iterator(dir.path()))
            files[json_on][e.path().filename().string()] = read_file(e.path());
    }
    EXPECT_EQ(files[1].count(kJson), 1u);
    EXPECT_EQ(files[0].count(kJson), 0u);
    files[1].erase(kJson);
    EXPECT_EQ(files[1], files[0]);
    EXPECT_EQ(console[1], console[0]);
}

TEST(JsonReport, RefusedRunsWriteNone) {
    const struct {
        std::vector<const char*> args;
        const char* typed;
        int status;
        std::function<void(FakePlatform&)> setup;
    } cases[] = {
        {{"--json", "0y"},
         "",
         kExitNotUsb,
         [](FakePlatform& p) {
             p.drives[0] = FakeDrive{"ATA     ", "SATA disk", 11};
         }},
        {{"--json"}, "100\n", kExitBadDrive, [](FakePlatform& p) { p.drives[0] = FakeDrive{}; }},
        {{"--json", "4y"},
         "",
         kExitOpenFailed,
         [](FakePlatform& p) {
             p.drives[4] = FakeDrive{};
             p.drives[4].disk_open_fails = true;
         }},
        {{"--json", "--sim=nope", "0y"}, "", kExitUsage, [](FakePlatform&) {}},
        {{"--json", "--replay", "no such directory", "0y"}, "", kExitUsage, [](FakePlatform&) {}},
        {{"--json", "--bogus", "0y"}, "", kExitUsage, [](FakePlatform&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        ScratchDir dir;
        std::ofstream(kJson) << "left from an earlier run";
        FakePlatform host;
        c.setup(host);
        EXPECT_EQ(run_whole_program(host, c.args, c.typed).status, c.status);
        EXPECT_EQ(read_file(kJson), "left from an earlier run");
        EXPECT_EQ(host.count_calls(std::string("create ") + kJson), 0);
    }
}

TEST(JsonReport, DriveThatAnswersNothingStillGetsItsJson) {
    ScratchDir dir;
    FakePlatform host;
    host.drives[0] = FakeDrive{};  // on USB, but every pass-through request fails
    const ProgramRun r = run_whole_program(host, {"--json", "0y"});
    ASSERT_EQ(r.status, kExitOk);
    const json doc = read_json();
    EXPECT_FALSE(doc["drive"].contains("simulated"));
    EXPECT_EQ(doc["identity"], json::object());
    EXPECT_EQ(doc["controller"], json({{"supported", false}}));
    EXPECT_FALSE(doc.contains("flash_id"));
    std::vector<std::string> failed;
    for (const json& f : doc["failed_commands"])
        failed.push_back(f["command"].get<std::string>() + " " + decimal(f["error"]));
    EXPECT_EQ(failed, (std::vector<std::string>{"inq 6", "cap 6", "fid 6", "info 6",
                                                "nvme_identify 6", "nvme_smart 6"}));
    // The report's failure lines name the commands the report covers; the bridge reads have the
    // transport's line on the console only.
    const std::string report = read_file(kReport);
    EXPECT_NE(report.find("IOCtl: Inquiry failed 0x6!"), std::string::npos) << report;
    EXPECT_EQ(report.find("ASM Id/Smart"), std::string::npos) << report;
    EXPECT_NE(r.out.find("IOCtl: ASM Id/Smart failed 0x6!"), std::string::npos) << r.out;
    check_files(doc);
}

// ---- A simulated drive with edited pages, run through the whole run ----------------------------

class JsonEdited : public ::testing::Test {
  protected:
    void SetUp() override { load_profile(drive, find_sim_profile("default")->make()); }

    void edit(CommandId id, const std::function<void(std::uint8_t*)>& change) {
        Bytes page = drive.page(id);
        page.resize(command_info(id).length);
        change(page.data());
        drive.set_page(id, page);
    }

    json run_json(int status = kExitOk) {
        SimPlatform platform(host, drive);
        Capture out;
        std::FILE* in = input_from("");
        RunContext ctx{.platform = platform,
                       .files = host,
                       .out = out.file(),
                       .in = in,
                       .asked = {OutputId::json}};
        ctx.err = out.file();
        EXPECT_EQ(examine_drive(ctx, "0y"), status);
        std::fclose(in);
        console = out.text();
        return read_json();
    }

    ScratchDir dir;
    CheckedSimDrive drive;
    FakePlatform host;
    std::string console;
};

void put_le128(std::uint8_t* p, std::uint64_t high, std::uint64_t low) {
    put_le64(p, low);
    put_le64(p + 8, high);
}

TEST_F(JsonEdited, NvmeCountersAreExactTo128Bits) {
    constexpr std::uint64_t kAll = ~std::uint64_t{0};
    constexpr std::uint64_t k2p53 = std::uint64_t{1} << 53;
    const struct {
        std::size_t offset;
        const char* key;
        std::uint64_t high, low;
        json expected;
    } cases[] = {
        {0x20, "data_units_read", kAll, kAll, "340282366920938463463374607431768211455"},
        {0x30, "data_units_written", 0, k2p53, k2p53},
        {0x40, "host_read_commands", 0, k2p53 + 1, "9007199254740993"},
        {0x50, "host_write_commands", 1, 0, "18446744073709551616"},
        {0x60, "controller_busy_time", 0, 0x100000005, 4294967301u},  // the log shows 5
        {0x70, "power_cycles", std::uint64_t{1} << 63, 0,
         "170141183460469231731687303715884105728"},
        {0x80, "power_on_hours", 0, 0xFFFFFFFF, 4294967295u},
    };
    edit(CommandId::smart, [&](std::uint8_t* p) {
        for (const auto& c : cases)
            put_le128(p + c.offset, c.high, c.low);
    });
    const json smart = run_json()["smart"];
    for (const auto& c : cases)
        EXPECT_EQ(smart[c.key], c.expected) << c.key;
    // The data units in bytes too: 512,000 bytes each, the largest count saturating.
    EXPECT_EQ(smart["data_read_bytes"], "340282366920938463463374607431768211455");
    EXPECT_EQ(smart["data_written_bytes"], "4611686018427387904000");
    const auto log = health_sections(read_file(kHealthLog));
    EXPECT_EQ(split_line(log.at("NVME SMART")[9]),
              std::make_pair(std::string("9 Controller Busy Time"), std::string("5")));
}

TEST_F(JsonEdited, SignedTotalsAreExactAtTheirLimits) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t k2p53 = std::int64_t{1} << 53;
    const struct {
        std::size_t offset;
        const char* key;
        std::int64_t value;
        json expected;
    } cases[] = {
        {0x218, "total_flash_erase_count_d1", kMin, "-9223372036854775808"},
        {0x220, "total_flash_erase_count_d2_d3", kMax, "9223372036854775807"},
        {0x228, "total_flash_program_count_d1", -1, -1},
        {0x230, "total_flash_program_count_d2_d3", k2p53, k2p53},
        {0x238, "total_flash_read_count", -k2p53, -k2p53},
        {0x240, "total_flash_write_count", k2p53 + 1, "9007199254740993"},
        {0x248, "read_flash_unc_retry_ok_count_d1", -k2p53 - 1, "-9007199254740993"},
        {0x250, "read_flash_unc_retry_ok_count_d2_d3", 0, 0},
    };
    edit(CommandId::sysinfo, [&](std::uint8_t* p) {
        for (const auto& c : cases)
            put_le64(p + c.offset, static_cast<std::uint64_t>(c.value));
    });
    const json doc = run_json();
    const auto sections = health_sections(read_file(kHealthLog));
    std::map<std::string, std::string> log;  // the flash status log's label -> value
    for (const std::string& line : sections.at("FLASH STATUS LOG"))
        log.insert(split_line(line));
    for (const auto& c : cases) {
        EXPECT_EQ(doc["flash_status"][c.key], c.expected) << c.key;
        std::string label = c.key;
        std::replace(label.begin(), label.end(), '_', ' ');
        char shown[32];  // the log prints the total through a double
        std::snprintf(shown, sizeof shown, "%.0f", static_cast<double>(c.value));
        EXPECT_EQ(log[label], shown) << label;
    }
}

TEST_F(JsonEdited, ExtendedRawValuesAndSizesAreExact) {
    edit(CommandId::smartext, [](std::uint8_t* p) {
        put_le64(p + 8, ~std::uint64_t{0});
        put_le64(p + 16 + 8, std::uint64_t{1} << 53);
    });
    const json ext = run_json()["smartext"];
    EXPECT_EQ(ext[0]["raw"], "18446744073709551615");
    EXPECT_EQ(ext[1]["raw"], std::uint64_t{1} << 53);
}

TEST_F(JsonEdited, LastLbaAndSizeAtTheirLimits) {
    const struct {
        std::uint64_t last_lba;
        bool cap16_fails;
        json lba;
        json size;
    } cases[] = {
        {1953525167, false, 1953525167, 1000204886016},
        {(std::uint64_t{1} << 53) - 1, false, 9007199254740991, "4611686018427387904"},
        {~std::uint64_t{0}, false, "18446744073709551615", "9444732965739290427392"},  // 2^73
        {7814037167, true, nullptr, nullptr},  // READ CAPACITY(16) failed: not known
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last_lba);
        drive.clear_faults();
        edit(CommandId::read_capacity10, [&](std::uint8_t* p) {
            put_be32(p,
                     c.last_lba > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<std::uint32_t>(c.last_lba));
        });
        edit(CommandId::read_capacity16, [&](std::uint8_t* p) { put_be64(p, c.last_lba); });
        if (c.cap16_fails)
            drive.set_fault(CommandId::read_capacity16, Fault{FaultKind::platform_error, 121, 0});
        const json doc = run_json();
        EXPECT_EQ(doc["identity"].value("last_lba", json()), c.lba);
        EXPECT_EQ(doc["identity"].value("size_bytes", json()), c.size);
        EXPECT_EQ(command_failed(doc, "cap16"), c.cap16_fails);
    }
}

TEST_F(JsonEdited, TemperaturesBelowFreezingAreNegative) {
    const std::uint16_t sensors[8] = {45, 199, 200, 272, 273, 0, 65535, 1};
    edit(CommandId::smart, [&](std::uint8_t* p) {
        put_le16(p + 1, 0);  // composite 0 K: the log shows 2^32 - 273
        for (std::size_t i = 0; i < 8; ++i)
            put_le16(p + 0xC8 + 2 * i, sensors[i]);
    });
    const json doc = run_json();
    const json& smart = doc["smart"];
    EXPECT_EQ(smart["composite_temperature"], json({{"kelvin", 0}, {"celsius", -273}}));
    const json expected = json::parse(R"([
        {"sensor": 0, "kelvin": 45, "celsius": -228},
        {"sensor": 1, "kelvin": 199, "celsius": -74},
        {"sensor": 2, "kelvin": 200, "celsius": -73},
        {"sensor": 3, "kelvin": 272, "celsius": -1},
        {"sensor": 4, "kelvin": 273, "celsius": 0},
        {"sensor": 6, "kelvin": 65535, "celsius": 65262},
        {"sensor": 7, "kelvin": 1, "celsius": -272}])");
    EXPECT_EQ(smart["temperature_sensors"], expected);
    // The log: Kelvin as read, marked, below 200 K; else Celsius as an unsigned 32-bit number.
    const auto log = health_sections(read_file(kHealthLog)).at("NVME SMART");
    EXPECT_EQ(log[1], "1 Composite Temperature\t\t\t\t: 4294967023");
    const std::vector<std::string> sensor_lines(log.begin() + 17, log.begin() + 24);
    EXPECT_EQ(sensor_lines, (std::vector<std::string>{
                                "17 Temperature Sensor 0\t*\t\t\t: 45",
                                "18 Temperature Sensor 1\t*\t\t\t: 199",
                                "19 Temperature Sensor 2\t\t\t\t: 4294967223",
                                "20 Temperature Sensor 3\t\t\t\t: 4294967295",
                                "21 Temperature Sensor 4\t\t\t\t: 0",
                                "23 Temperature Sensor 6\t\t\t\t: 65262",
                                "24 Temperature Sensor 7\t*\t\t\t: 1",
                            }));
}

TEST_F(JsonEdited, TextsThatAreNotUtf8StayValidJson) {
    edit(CommandId::inquiry, [](std::uint8_t* p) {
        p[8] = 0xFF;  // not UTF-8
        p[9] = 0x01;  // a control character
        p[10] = '"';
    });
    const json doc = run_json();
    EXPECT_EQ(doc["identity"]["model"].get<std::string>().substr(0, 5), "\xEF\xBF\xBD\x01\"");
}

TEST_F(JsonEdited, FilesThatCannotBeCreatedAreListed) {
    host.uncreatable = {"torvik_usb_inq.bin", kHealthLog, kReport};
    const json doc = run_json(kExitFilesIncomplete);
    EXPECT_EQ(doc["files"]["not_created"], json({"torvik_usb_inq.bin", kHealthLog, kReport}));
    for (const json& name : doc["files"]["written"])
        EXPECT_EQ(host.uncreatable.count(name.get<std::string>()), 0u) << name;
    // Without a health log the JSON still holds what the pages said.
    EXPECT_TRUE(doc.contains("nvme_smart"));
    EXPECT_TRUE(doc.contains("flash_status"));
}

TEST_F(JsonEdited, JsonFileThatCannotBeCreated) {
    host.uncreatable = {kJson};
    SimPlatform platform(host, drive);
    Capture out;
    std::FILE* in = input_from("");
    RunContext ctx{.platform = platform,
                   .files = host,
                   .out = out.file(),
                   .in = in,
                   .asked = {OutputId::json}};
    ctx.err = out.file();
    EXPECT_EQ(examine_drive(ctx, "0y"), kExitFilesIncomplete);
    std::fclose(in);
    EXPECT_NE(out.text().find("torvik_usb_pssd_flash_id.json: Create File Error\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(kJson));
    EXPECT_TRUE(fs::exists(kReport));
}

// ---- Flash IDs --------------------------------------------------------------------------------

std::array<std::uint8_t, 8> id_bytes(const char* hex) {
    std::array<std::uint8_t, 8> id{};
    std::istringstream in(hex);
    unsigned value = 0;
    for (std::size_t i = 0; i < id.size() && in >> std::hex >> value; ++i)
        id[i] = static_cast<std::uint8_t>(value);
    return id;
}

// Takes the description apart piece by piece, from its end, and finds each field in the JSON.
void check_fields_against_description(const json& j, const std::string& text) {
    if (text.empty()) {
        EXPECT_EQ(j.size(), 2u) << "an unknown maker has bytes and an empty description only";
        return;
    }
    const std::regex pieces(
        "(.*?) (SLC|MLC|TLC|QLC|PLC)(?: (\\d+)k)?(?: (\\d+)Gb/CE (\\d+)Gb/die| "
        "(\\d+\\.\\d\\d)Tb/CE (\\d+\\.\\d\\d)Tb/die)?(?: (\\d+)Plane/die)?");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, pieces)) << text;
    std::string head = j["maker"];
    if (j.contains("node"))
        head.append(" ").append(j["node"].get<std::string>());
    if (j.contains("part")) {
        const std::string part = j["part"];
        head += (part[0] == '(' || part[0] == '-' ? "" : " ") + part;
    }
    EXPECT_EQ(m[1].str(), head);
    EXPECT_EQ(m[2].str(), j["cell_type"]);
    EXPECT_EQ(m[3].matched, j.contains("page_size_kib"));
    if (m[3].matched) {
        EXPECT_EQ(std::stoul(m[3]), j["page_size_kib"].get<unsigned>());
    }
    EXPECT_EQ(m[4].matched || m[6].matched, j.contains("capacity_per_ce_gb"));
    if (m[4].matched) {
        EXPECT_EQ(std::stoul(m[4]), j["capacity_per_ce_gb"].get<unsigned>());
        EXPECT_EQ(std::stoul(m[5]), j["capacity_per_die_gb"].get<unsigned>());
    } else if (m[6].matched) {
        EXPECT_EQ(m[6].str(), format("%.2f", j["capacity_per_ce_gb"].get<unsigned>() / 1024.0));
        EXPECT_EQ(m[7].str(), format("%.2f", j["capacity_per_die_gb"].get<unsigned>() / 1024.0));
    }
    EXPECT_EQ(m[8].matched, j.contains("planes_per_die"));
    if (m[8].matched) {
        EXPECT_EQ(std::stoul(m[8]), j["planes_per_die"].get<unsigned>());
    }
}

TEST(JsonFlashId, DecodedFieldsAgreeWithTheDescription) {
    std::vector<std::pair<const char*, const char*>> ids;  // id, expected text or nullptr
    for (const FlashIdExample& e : kFlashIdExamples)
        ids.emplace_back(e.id, e.text);
    for (const FlashPartExample& e : kFlashPartExamples)
        ids.emplace_back(e.id, nullptr);
    for (const auto& [hex, expected] : ids) {
        SCOPED_TRACE(hex);
        const std::array<std::uint8_t, 8> id = id_bytes(hex);
        const json j = json::parse(flash_id_json_text(id.data()));
        std::vector<unsigned> bytes(id.begin(), id.end());
        EXPECT_EQ(j["bytes"], json(bytes));
        char text[kFlashDescriptionSize];
        decode_flash_id(id.data(), text);
        EXPECT_EQ(j["description"], text);
        if (expected != nullptr) {
            EXPECT_EQ(j["description"], expected);
        }
        check_fields_against_description(j, text);
    }
}

}  // namespace
}  // namespace torvik::testing
