// The JSON report: a drive that answers nothing read back against its own text report and health
// log, exact numbers at their limits, the flash fields against the decoder's descriptions, and
// the runs that must write no JSON at all. Each simulated drive's JSON is pinned by the golden
// files.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
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

// The first line that begins with prefix, without the prefix; nullopt when there is none.
std::optional<std::string> line_after(const std::vector<std::string>& lines,
                                      const std::string& prefix) {
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size());
    }
    return std::nullopt;
}

// ---- The report file -------------------------------------------------------------------------

void check_header_and_identity(const json& doc, const std::vector<std::string>& report) {
    ASSERT_GE(report.size(), 3u);
    const std::string version = doc["tool"]["version"];
    EXPECT_EQ(report[0], "v" + version);
    EXPECT_EQ(report[1], format("Drive: %d(%s)", doc["drive"]["number"].get<int>(),
                                doc["drive"]["bus"].get<std::string>().c_str()));
    const json& os = doc["os"];
    EXPECT_EQ(report[2],
              format("OS: %d.%d build %d %s", os["major"].get<int>(), os["minor"].get<int>(),
                     os["build"].get<int>(), os["detail"].get<std::string>().c_str()));

    const json& id = doc["identity"];
    if (id.contains("model")) {
        EXPECT_EQ(line_after(report, "Model   : "), id["model"].get<std::string>());
        EXPECT_EQ(line_after(report, "Rev/sn  : "),
                  id["revision"].get<std::string>() + "/" + id["serial"].get<std::string>());
    }
    if (id.contains("last_lba")) {
        const std::uint64_t lba = id["last_lba"].get<std::uint64_t>();
        EXPECT_EQ(line_after(report, "Size    : "),
                  format("%" PRIu64 " MB [%1.1f GB]", lba >> 11,
                         static_cast<double>(lba) * 512 * 0.000000001));
        EXPECT_EQ(decimal(id["size_bytes"]), std::to_string((lba + 1) * 512));
    }
}

void check_controller(const json& doc, const std::vector<std::string>& report) {
    const json& c = doc["controller"];
    const std::optional<std::string> line = line_after(report, "Controller: ");
    ASSERT_TRUE(line);
    if (c.contains("name")) {
        EXPECT_EQ(*line, c["name"].get<std::string>() + " (from firmware)");
        EXPECT_EQ(format("TK%04X", c["id"].get<unsigned>()), c["name"]);
    }
    EXPECT_EQ(c["supported"].get<bool>(), line_after(report, "CPU Clk       : ").has_value());
}

// The FlashID line and the Bank lines against "flash_id" and "banks".
void check_flash_lines(const json& doc, const std::vector<std::string>& report) {
    const std::regex pattern(
        "(FlashID|Bank(\\d\\d)): ((?:0x[0-9a-f]{1,2},){7}0x[0-9a-f]{1,2}) - (.*)");
    std::size_t banks = 0;
    bool flash_id = false;
    for (const std::string& line : report) {
        std::smatch m;
        if (!std::regex_match(line, m, pattern))
            continue;
        const json* entry = nullptr;
        if (m[1] == "FlashID") {
            flash_id = true;
            ASSERT_TRUE(doc.contains("flash_id")) << line;
            entry = &doc["flash_id"];
        } else {
            ASSERT_TRUE(doc.contains("banks")) << line;
            ASSERT_LT(banks, doc["banks"].size()) << line;
            entry = &doc["banks"][banks++];
            EXPECT_EQ((*entry)["bank"].get<int>(), std::stoi(m[2])) << line;
        }
        std::string bytes;
        for (const json& b : (*entry)["bytes"])
            bytes += format("%s0x%x", bytes.empty() ? "" : ",", b.get<unsigned>());
        EXPECT_EQ(bytes, m[3].str());
        EXPECT_EQ((*entry)["description"], m[4].str());
    }
    EXPECT_EQ(flash_id, doc.contains("flash_id"));
    EXPECT_EQ(banks, doc.value("banks", json::array()).size());
}

void check_configuration(const json& doc, const std::vector<std::string>& report) {
    if (!doc.contains("configuration")) {
        EXPECT_TRUE((command_failed(doc, "sysinfo") && command_failed(doc, "infoblock")) ||
                    !doc["controller"]["supported"].get<bool>());
        return;
    }
    const json& c = doc["configuration"];
    EXPECT_EQ(c.contains("cpu_clock"), !command_failed(doc, "sysinfo"));
    EXPECT_EQ(c.contains("slc_cache"), !command_failed(doc, "infoblock"));
    if (c.contains("slc_cache")) {
        EXPECT_EQ(line_after(report, "SLC cache     : "),
                  format("0x%X/0x%X", c["slc_cache"]["first"].get<unsigned>(),
                         c["slc_cache"]["second"].get<unsigned>()));
    }
    if (!c.contains("cpu_clock"))
        return;
    const struct {
        const char* label;
        const char* key;
    } plain[] = {
        {"CPU Clk       : ", "cpu_clock"},      {"Flash CE      : ", "flash_ce"},
        {"Flash Channel : ", "flash_channels"}, {"Interleave    : ", "interleave"},
        {"Flash Clk,MT  : ", "flash_clock_mt"}, {"Die per CE    : ", "dies_per_ce"},
        {"Block per CE  : ", "blocks_per_ce"},  {"Page per Block: ", "pages_per_block"},
    };
    for (const auto& p : plain)
        EXPECT_EQ(line_after(report, p.label), decimal(c[p.key])) << p.key;

    std::string mask;
    const std::uint32_t bits = c["flash_ce_mask"].get<std::uint32_t>();
    for (unsigned k = 0; k < 32; ++k)
        mask += std::string(k % 8 == 0 && k != 0 ? " " : "") + ((bits >> k & 1) != 0 ? "+" : "-");
    EXPECT_EQ(line_after(report, "Flash CE Mask : "), "[" + mask + "]");
    std::string cell = decimal(c["bits_per_cell"]);
    if (c.contains("cell_type"))
        cell.append("(").append(c["cell_type"].get<std::string>()).append(")");
    EXPECT_EQ(line_after(report, "Bit Per Cell  : "), cell);
    EXPECT_EQ(line_after(report, "PE Cycle Limit: "),
              decimal(c["pe_cycle_limit"]["first"]) + "/" + decimal(c["pe_cycle_limit"]["second"]));
}

void check_attribute_table(const json& doc, const std::vector<std::string>& report) {
    const std::regex row(
        "0x([0-9A-F]{2}): 0x([0-9A-F]{2}) 0x([0-9A-F]{2}) 0x([0-9A-F]{4}) 0x([0-9A-F]{4}) "
        "0x([0-9A-F]{4})(?: - (.*))?");
    std::vector<std::smatch> rows;
    for (const std::string& line : report) {
        std::smatch m;
        if (std::regex_match(line, m, row))
            rows.push_back(m);
    }
    if (!doc.contains("attribute_configuration")) {
        EXPECT_TRUE(rows.empty() || command_failed(doc, "infoblock"));
        return;
    }
    const json& slots = doc["attribute_configuration"];
    ASSERT_EQ(rows.size(), slots.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::smatch& m = rows[i];
        const json& s = slots[i];
        const char* keys[] = {"attr", "threshold", "flags", "value_id", "worst_id", "raw_id"};
        for (std::size_t f = 0; f < std::size(keys); ++f)
            EXPECT_EQ(std::stoul(m[f + 1], nullptr, 16), s[keys[f]].get<unsigned>()) << keys[f];
        EXPECT_EQ(m[7].matched, s.contains("description"));
        if (m[7].matched) {
            EXPECT_EQ(m[7].str(), s["description"]);
        }
    }
}

// The report's failure lines name the commands of the query steps; the bridge reads have only
// the transport's line on the console.
void check_failures(const json& doc, const std::vector<std::string>& report,
                    const std::string& console) {
    std::vector<std::string> named;
    std::vector<std::string> bridge;
    for (const json& f : doc["failed_commands"]) {
        const std::string code = format("0x%x", f["error"].get<unsigned>());
        if (f.contains("report_name"))
            named.push_back(f["report_name"].get<std::string>() + " failed " + code);
        else
            bridge.push_back(code);
        // The Identify page's one name is its section's, "nvme_identify".
        const std::string command = f["command"] == "nvme_identify" ? "nvme_id" : f["command"];
        EXPECT_TRUE(f["dump_file"] == "torvik_usb_" + command + ".bin" ||
                    f["dump_file"] == "torvik_pssd_" + command + ".bin")
            << f;
    }
    std::vector<std::string> lines;
    const std::regex failure("IOCtl: (\\w+ failed 0x[0-9a-f]+)!");
    for (const std::string& line : report) {
        std::smatch m;
        if (std::regex_match(line, m, failure))
            lines.push_back(m[1]);
    }
    EXPECT_EQ(lines, named);
    std::vector<std::string> transport;
    const std::regex tunnel("IOCtl: ASM Id/Smart failed (0x[0-9a-f]+)!");
    for (const std::string& line : lines_of(console)) {
        std::smatch m;
        if (std::regex_match(line, m, tunnel))
            transport.push_back(m[1]);
    }
    EXPECT_EQ(transport, bridge);
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

// ---- The health log --------------------------------------------------------------------------

// Section title ("NVME SMART", "EXT.SMART", ...) -> its lines.
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

std::string as_shown(std::int64_t celsius) {
    return std::to_string(static_cast<std::uint32_t>(celsius));  // the log's unsigned wrap
}

void check_nvme_smart(const json& doc, const std::vector<std::string>& lines) {
    enum Kind { plain, mb, low32 };
    const std::map<int, std::pair<const char*, Kind>> numbered = {
        {2, {"available_spare", plain}},
        {3, {"available_spare_threshold", plain}},
        {4, {"percentage_used", plain}},
        {5, {"data_units_read", mb}},
        {6, {"data_units_written", mb}},
        {7, {"host_read_commands", plain}},
        {8, {"host_write_commands", plain}},
        {9, {"controller_busy_time", low32}},
        {10, {"power_cycles", low32}},
        {11, {"power_on_hours", low32}},
        {12, {"unsafe_shutdowns", low32}},
        {13, {"media_and_data_integrity_errors", low32}},
        {14, {"error_information_log_entries", low32}},
        {15, {"warning_composite_temperature_time", plain}},
        {16, {"critical_composite_temperature_time", plain}},
        {25, {"thermal_management_temp1_transition_count", plain}},
        {26, {"thermal_management_temp2_transition_count", plain}},
        {27, {"thermal_management_temp1_total_time", plain}},
        {28, {"thermal_management_temp2_total_time", plain}},
    };
    const json& s = doc["smart"];
    std::size_t sensors = 0;
    for (const std::string& line : lines) {
        const auto [label, value] = split_line(line);
        const int number = std::stoi(label);
        if (number == 0) {
            std::string texts;
            for (const json& t : s["critical_warning"]["texts"])
                texts += (texts.empty() ? "" : "; ") + t.get<std::string>();
            const std::string warning = decimal(s["critical_warning"]["value"]);
            EXPECT_EQ(value, warning == "0" ? warning : warning + " (" + texts + ")");
        } else if (number == 1) {
            const json& t = s["composite_temperature"];
            EXPECT_EQ(t["celsius"].get<int>(), t["kelvin"].get<int>() - 273);
            EXPECT_EQ(value, as_shown(t["celsius"].get<int>()));
        } else if (number >= 17 && number <= 24) {
            const std::string name = label.substr(label.find(' ') + 1);
            EXPECT_EQ(name, format("Temperature Sensor %d", number - 17));
            ASSERT_LT(sensors, s["temperature_sensors"].size()) << line;
            const json& t = s["temperature_sensors"][sensors++];
            EXPECT_EQ(t["sensor"].get<int>(), number - 17);
            EXPECT_EQ(t["celsius"].get<int>(), t["kelvin"].get<int>() - 273);
            const bool raw = line.find('*') != std::string::npos;
            EXPECT_EQ(raw, t["kelvin"].get<int>() < 200) << line;
            EXPECT_EQ(value, raw ? decimal(t["kelvin"]) : as_shown(t["celsius"].get<int>()));
        } else {
            const auto it = numbered.find(number);
            ASSERT_NE(it, numbered.end()) << line;
            const json& v = s[it->second.first];
            ASSERT_TRUE(v.is_number()) << "cross-checked values fit a number: " << line;
            const std::uint64_t n = v.get<std::uint64_t>();
            switch (it->second.second) {
                case plain:
                    EXPECT_EQ(value, std::to_string(n)) << line;
                    break;
                case mb:  // n * 1000 * 512 / 2^20, a half rounded up
                    EXPECT_EQ(value, std::to_string((n * 125 + 128) / 256)) << line;
                    break;
                case low32:
                    EXPECT_EQ(value, std::to_string(n & 0xFFFFFFFF)) << line;
                    break;
            }
        }
    }
    EXPECT_EQ(sensors, s["temperature_sensors"].size());
    EXPECT_EQ(lines.size(), 2 + numbered.size() + sensors);
}

void check_ext_smart(const json& doc, const std::vector<std::string>& lines) {
    const json& records = doc["smartext"];
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], " # IntId     HexRaw        DecRaw       Description");
    ASSERT_EQ(lines.size() - 1, records.size());
    const std::regex row(
        "([ \\d]\\d) ([0-9a-f]{4}): ([0-9a-f]{4})_([0-9a-f]{4})_([0-9a-f]{4}) ([ \\d]{12}\\d)(?: - "
        "(.*))?");
    for (std::size_t k = 0; k < records.size(); ++k) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[k + 1], m, row)) << lines[k + 1];
        const json& r = records[k];
        EXPECT_EQ(std::stoul(m[1]), r["number"].get<unsigned>());
        EXPECT_EQ(std::stoul(m[2], nullptr, 16), r["int_id"].get<unsigned>());
        const std::uint64_t raw = std::stoull(decimal(r["raw"]));
        const std::uint64_t low48 = std::stoull(m[3], nullptr, 16) |
                                    std::stoull(m[4], nullptr, 16) << 16 |
                                    std::stoull(m[5], nullptr, 16) << 32;
        EXPECT_EQ(low48, raw & 0xFFFFFFFFFFFF);
        if (r["raw"].is_number()) {  // up to 2^53 the double of the log is exact
            EXPECT_EQ(std::stoull(m[6]), raw);
        }
        EXPECT_EQ(m[7].matched, r.contains("description"));
        if (m[7].matched) {
            EXPECT_EQ(m[7].str(), r["description"]);
        }
    }
}

// A status log's keys are its labels in lower case with underscores.
void check_status_log(const json& section, const std::vector<std::string>& lines) {
    ASSERT_EQ(lines.size(), section.size());
    for (const std::string& line : lines) {
        auto [label, value] = split_line(line);
        std::string key;
        for (char c : label)
            key += c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_TRUE(section.contains(key)) << key;
        if (key == "power_on_time") {  // "seconds(hours h)"
            const std::uint64_t seconds = section[key].get<std::uint64_t>();
            EXPECT_EQ(value, format("%" PRIu64 "(%" PRIu64 "h)", seconds, seconds / 3600));
        } else if (section[key].is_number()) {
            EXPECT_EQ(value, decimal(section[key])) << key;
        }
    }
}

// Each section of the health log against the JSON. A JSON section is there exactly when the
// log's is, except that a page whose read failed is left out of the JSON while the log shows it.
void check_health_log(const json& doc) {
    const bool exists = fs::exists(kHealthLog);
    const auto sections = health_sections(exists ? read_file(kHealthLog) : "");
    const struct {
        const char* title;
        const char* key;
        const char* page;
    } parts[] = {
        {"NVME SMART", "smart", "smart"},
        {"EXT.SMART", "smartext", "smartext"},
        {"SYSTEM STATUS LOG", "system_status", "sysinfo"},
        {"FLASH STATUS LOG", "flash_status", "sysinfo"},
    };
    for (const auto& p : parts) {
        const auto it = sections.find(p.title);
        if (!doc.contains(p.key)) {
            EXPECT_TRUE(it == sections.end() || command_failed(doc, p.page)) << p.key;
            continue;
        }
        if (!exists)
            continue;  // the log could not be created; the JSON still has the values
        ASSERT_NE(it, sections.end()) << p.title;
        if (std::string(p.key) == "smart")
            check_nvme_smart(doc, it->second);
        else if (std::string(p.key) == "smartext")
            check_ext_smart(doc, it->second);
        else
            check_status_log(doc[p.key], it->second);
    }
}

// The whole JSON of the current directory against the text files beside it.
void check_against_text(const json& doc, const std::string& console) {
    const std::vector<std::string> report = lines_of(read_file(kReport));
    EXPECT_EQ(doc["json_format_version"], kJsonFormatVersion);
    check_header_and_identity(doc, report);
    check_controller(doc, report);
    check_flash_lines(doc, report);
    check_configuration(doc, report);
    check_attribute_table(doc, report);
    check_failures(doc, report, console);
    check_health_log(doc);
    // One name for one page: the verdict's source is the key of the section it was judged from.
    if (!doc["health"]["source"].is_null()) {
        EXPECT_TRUE(doc.contains(doc["health"]["source"].get<std::string>()))
            << doc["health"]["source"];
    }
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

    // A refused run writes nothing to standard output.
    const ProgramRun refused = run_whole_program(host, {"--json=-", "5"});
    EXPECT_EQ(refused.status, kExitBadDrive);
    EXPECT_EQ(refused.out, "");
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
    check_against_text(doc, r.out);
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
        RunContext ctx{
            .platform = platform, .files = host, .out = out.file(), .in = in, .json = true};
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
    for (const auto& c : cases)
        EXPECT_EQ(doc["flash_status"][c.key], c.expected) << c.key;
    check_health_log(doc);
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
    const auto log = health_sections(read_file(kHealthLog));
    EXPECT_EQ(log.at("NVME SMART")[1], "1 Composite Temperature\t\t\t\t: 4294967023");
    check_health_log(doc);
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
    RunContext ctx{.platform = platform, .files = host, .out = out.file(), .in = in, .json = true};
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
