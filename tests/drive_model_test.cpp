// The drive model: the order in which the run fills it and tells its caller, the NVMe identity it
// keeps, and the HTML page drawn from it at the limits the simulated drives do not reach.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/bytes.h"
#include "model/drive_reader.h"
#include "model/key_figures.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/profile_model.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Read {
    std::vector<std::string> events;  // "inq", "inq dumped", "stage 0", ... in order
    DriveModel model;
};

Read read_profile(const char* profile) {
    Read read;
    ReadHooks hooks;
    hooks.command_done = [&](CommandId id, bool dump) {
        read.events.push_back(std::string(command_info(id).page_name) + (dump ? " dumped" : ""));
    };
    hooks.stage_done = [&](ReadStage stage) {
        read.events.push_back("stage " + std::to_string(static_cast<int>(stage)));
    };
    read.model = read_profile_model(profile, hooks);
    return read;
}

// Each group of pages is announced as soon as its last page is in, and the verdict is judged once
// at the end.
TEST(DriveReader, StagesFollowTheirPagesAndTheVerdictComesLast) {
    const std::vector<std::string> supported_head = {
        "inq dumped", "cap dumped",     "stage 0",         "fid dumped", "info dumped",
        "stage 1",    "sysinfo dumped", "fidall dumped",   "stage 2",    "infoblock dumped",
        "id dumped",  "smart dumped",   "smartext dumped", "stage 3"};
    auto with = [&](std::vector<std::string> tail) {
        std::vector<std::string> all = supported_head;
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    const struct {
        const char* profile;
        std::vector<std::string> events;
        HealthVerdict verdict;
    } cases[] = {
        {"default", with({"nvme_id dumped", "nvme_smart dumped"}), HealthVerdict::passed},
        {"no-tunnel", with({"nvme_id", "nvme_smart"}), HealthVerdict::passed},
        {"hot", with({"nvme_id dumped", "nvme_smart dumped"}), HealthVerdict::warning},
        {"unsupported",
         {"inq dumped", "cap dumped", "stage 0", "fid dumped", "info dumped", "stage 1"},
         HealthVerdict::unknown},
        {"large",
         {"inq dumped", "cap dumped", "cap16 dumped", "stage 0", "fid dumped", "info dumped",
          "stage 1", "sysinfo dumped", "fidall dumped", "stage 2", "infoblock dumped", "id dumped",
          "smart dumped", "smartext dumped", "stage 3", "nvme_id dumped", "nvme_smart dumped"},
         HealthVerdict::passed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        const Read read = read_profile(c.profile);
        EXPECT_EQ(read.events, c.events);
        EXPECT_EQ(read.model.health.verdict, c.verdict);
    }
}

// The NVMe Identify page's texts are kept as the drive sent them, padding included.
TEST(DriveReader, KeepsTheNvmeIdentity) {
    const Read plain = read_profile("default");
    const NvmeIdentity& id = plain.model.nvme_identity;
    EXPECT_EQ(id.model_number, "TORVIK PSSD SIM 1TB                     ");
    EXPECT_EQ(id.serial_number, "SIM00000000000001   ");
    EXPECT_EQ(id.firmware_revision, "TK5021.3");
    EXPECT_EQ(id.warning_temperature, 0);
    const NvmeIdentity& hot = read_profile("hot").model.nvme_identity;
    EXPECT_EQ(hot.warning_temperature, 343);
    EXPECT_EQ(hot.critical_temperature, 358);
    EXPECT_TRUE(read_profile("no-tunnel").model.nvme_identity.model_number.empty());
}

// A model of one run whose pages are given as bytes, judged as a run judges them.
DriveModel model_of(const std::vector<std::pair<CommandId, Bytes>>& pages) {
    DriveModel model;
    for (const auto& [id, bytes] : pages) {
        Bytes page = bytes;
        page.resize(command_info(id).length);
        model.sent(id, page.data(), CommandResult{CommandResult::Outcome::data, 0, 0});
    }
    model.health = assess_health(health_pages(model));
    return model;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Counters past 2^53 are shown in full and draw no bar; a size past it has no row. A drive
// without a temperature sensor (0 K) draws no temperature bar.
TEST(HtmlFromModel, NumbersPastWhatADoubleHoldsAreShownInFull) {
    Bytes smart(512, 0);
    smart[5] = 95;                           // percentage used: a warning
    put_le64(smart.data() + 0x20, ~0ull);    // data units read: 2^64 - 1
    put_le64(smart.data() + 0x30, 1000000);  // data units written: 0.51 TB
    put_le64(smart.data() + 0xA0, 1);        // media errors, high half 1: 2^64 + 1
    put_le64(smart.data() + 0xA8, 1);
    DriveModel model = model_of({{CommandId::nvme_smart_log, smart}});
    model.last_lba = ~std::uint64_t{0};
    const std::string page = html_report(RunInfo{}, model, key_figures(model));
    EXPECT_TRUE(contains(page,
                         "<span>Data read</span><span class=\"value unknown\">"
                         "18446744073709551615 data units</span>"));
    EXPECT_TRUE(
        contains(page, "<span>Data written</span><span class=\"value unknown\">0.51 TB</span>"));
    EXPECT_TRUE(contains(page, "<span class=\"value warning\">18446744073709551617</span>"));
    EXPECT_TRUE(contains(page, "<th>Data units read</th><td class=\"n\">18446744073709551615<"));
    EXPECT_TRUE(contains(page, "<span class=\"value warning\">95%</span>"));
    EXPECT_TRUE(contains(page,
                         "<span>Composite temperature</span><span class=\"value unknown\">"
                         "no sensor</span>"));
    EXPECT_FALSE(contains(page, "<th>Size</th>"));
    EXPECT_TRUE(contains(page, "<div class=\"badge b-warning\">WARNING</div>"));
}

// Without an NVMe log the vendor's life figures lead; without them the page says so.
TEST(HtmlFromModel, VendorFiguresOrNone) {
    Bytes ext(4096, 0);
    put_le16(ext.data(), 1);
    put_le16(ext.data() + 2, 0x020F);  // life remaining
    put_le64(ext.data() + 8, 7);
    const DriveModel vendor_model = model_of({{CommandId::smartext, ext}});
    const std::string vendor = html_report(RunInfo{}, vendor_model, key_figures(vendor_model));
    EXPECT_TRUE(contains(vendor,
                         "<span>Life remaining (extended SMART)</span>"
                         "<span class=\"value warning\">7%</span>"));
    EXPECT_TRUE(contains(vendor, "warning at 10%"));
    const DriveModel empty = model_of({});
    const std::string none = html_report(RunInfo{}, empty, key_figures(empty));
    EXPECT_TRUE(contains(none, "<p>No health figures could be read from the drive.</p>"));
    EXPECT_TRUE(contains(none, "<h1>Drive</h1>"));
    EXPECT_FALSE(contains(none, "<h2>Flash</h2>"));
}

}  // namespace
}  // namespace torvik::testing
