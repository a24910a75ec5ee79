// The HTML report: drive texts that hold markup or stray bytes stay text, and a run with failed
// commands says so at the top of the page. Its rendering in a browser is checked by
// html_render_check.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/exit_status.h"
#include "model/drive_model.h"
#include "model/key_figures.h"
#include "report/html_page.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(HtmlReport, EscapeLeavesNoMarkupAndOnlyPrintableAscii) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"TORVIK  PSSD SIM", "TORVIK  PSSD SIM"},
        {"<b>&\"'", "&lt;b&gt;&amp;&quot;&#39;"},
        {std::string("A\0B", 3), "A&#xFFFD;B"},
        {"\x1b[31m\x7f\xc3\xa9", "&#xFFFD;[31m&#xFFFD;&#xFFFD;&#xFFFD;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(html_escape(c.in), c.out);
}

// A hostile dump: every text the page shows from the drive or the command line carries markup.
TEST(HtmlReport, HostileDriveTextsStayText) {
    DriveModel record;
    const std::uint8_t inquiry[56] = {};
    record.sent(CommandId::inquiry, inquiry, CommandResult{CommandResult::Outcome::data, 56, 0});
    record.identity.model = "<script>alert(1)</script>";
    record.identity.revision = "\"><img src=x onerror=alert(1)>";
    record.identity.serial = "\xff</td>";
    RunInfo run;
    run.simulation = "replay";
    run.simulation_source = "</td><style>body{display:none}</style>";
    const std::string page = html_report(run, record, key_figures(record));
    for (const char* injected : {"<script", "<img", "\xff", "</td>\"", "<style>body"})
        EXPECT_FALSE(contains(page, injected)) << injected;
    EXPECT_TRUE(contains(page, "<h1>&lt;script&gt;alert(1)&lt;/script&gt;</h1>"));
    EXPECT_TRUE(contains(page, "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"));
    EXPECT_TRUE(contains(page, "&#xFFFD;&lt;/td&gt;"));
    EXPECT_TRUE(contains(page, "&lt;/td&gt;&lt;style&gt;body"));
    // Exactly the one style element of the page itself.
    EXPECT_EQ(page.find("<style>"), page.rfind("<style>"));
}

// Through the whole program: the page opens with the verdict and its reasons, then what is
// inside, the failures and the identity table; the failing drive's page leads its figures with
// its failures, each row marked with the page it left unread, and each section of such a page says
// "not read"; a bridge without the tunnel gets an information box naming where the figures came
// from, not a red one; the healthy drive's page has neither and says that nothing failed.
TEST(HtmlReport, FailedCommandsAreMarkedAtTheTop) {
    const struct {
        const char* sim;
        const char* alert;  // nullptr: no failure section
        std::vector<const char*> rows;
        const char* info;  // nullptr: no information box
        std::vector<const char*> not_read;
    } cases[] = {
        {"--sim=failing-pages",
         "6 commands failed",
         {"FAILED sysinfo</td><td>the system information page",
          "FAILED fidall</td><td>the flash IDs",
          "FAILED infoblock</td><td>the attribute configuration page",
          "FAILED id</td><td>the identification page",
          "FAILED smart</td><td>the controller&#39;s copy", "FAILED smartext</td><td>the extended"},
         nullptr,
         {"Controller configuration", "Attribute slots", "NVMe SMART / Health, controller copy",
          "Extended SMART", "System and flash status"}},
        {"--sim=no-tunnel",
         nullptr,
         {},
         "did not pass the NVMe Identify page and the NVMe SMART / Health log through its tunnel "
         "(error 0x45d)",
         {}},
        {"--sim=vendor-life",
         "1 command failed",
         {"FAILED smart</td>"},
         "The health figures below come from the controller&#39;s extended SMART page.",
         {"NVMe SMART / Health, controller copy"}},
        {"--sim", nullptr, {}, nullptr, {}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        FakePlatform host;
        ASSERT_EQ(run_whole_program(host, {"--html", c.sim, "0y"}).status, kExitOk) << c.sim;
        const std::string page = dir.read_text(kHtmlReportFileName);
        const std::size_t alert = page.find("<section class=\"alert\"");
        const std::size_t info = page.find("<section class=\"info\"");
        const std::size_t key_figures = page.find("Key health figures");
        // The verdict and its reasons first, then what is inside, the failures, the identity;
        // each section the page has in that order.
        std::vector<std::size_t> order;
        for (const char* part :
             {"<div class=\"badge", "<ul class=\"reasons\">", "<section id=\"inside\">",
              "<section class=\"info\"", "<section class=\"alert\"", "<section id=\"identity\">",
              "Key health figures"}) {
            if (const std::size_t at = page.find(part); at != std::string::npos)
                order.push_back(at);
        }
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << c.sim;
        EXPECT_NE(page.find("<section id=\"identity\">"), std::string::npos) << c.sim;
        EXPECT_EQ(info != std::string::npos, c.info != nullptr) << c.sim;
        if (c.info != nullptr) {
            EXPECT_LT(info, key_figures) << c.sim;
            EXPECT_TRUE(contains(page, c.info)) << c.sim;
        }
        for (const char* title : c.not_read) {
            EXPECT_TRUE(
                contains(page, std::string("<h2>") + title + "</h2><p class=\"na\">Not read"))
                << c.sim << ' ' << title;
        }
        EXPECT_EQ(page.find("Not read") == std::string::npos, c.not_read.empty()) << c.sim;
        if (c.alert == nullptr) {
            EXPECT_EQ(alert, std::string::npos) << c.sim;
            EXPECT_TRUE(contains(page, "<h2>Failed commands</h2><p class=\"ok\">None")) << c.sim;
            EXPECT_FALSE(contains(page, "class=\"failed\"")) << c.sim;
            continue;
        }
        ASSERT_NE(alert, std::string::npos) << c.sim;
        EXPECT_LT(alert, key_figures) << c.sim;  // before any figure
        EXPECT_TRUE(contains(page, c.alert)) << c.sim;
        for (const char* row : c.rows)
            EXPECT_TRUE(contains(page, std::string("<tr class=\"failed\"><td>") + row))
                << c.sim << ' ' << row;
    }
}

// What a person reads on the page, per profile: labels in words with units and grouped digits,
// ids in hex as the health log writes them, hours with days, the temperature coloured against
// the drive's thresholds or neutral with a note, one NVMe table where both copies agree, and the
// vendor pages' figures where no NVMe log was read.
TEST(HtmlReport, FiguresReadAsAPersonReadsThem) {
    const struct {
        const char* sim;
        std::vector<const char*> present, absent;
    } cases[] = {
        {"--sim",
         {"<th>Capacity per chip enable</th><td>2,048 Gb</td>", "<th>Page size</th><td>16 KiB</td>",
          "<th>Rated P/E cycles</th><td class=\"n\">30,000 (SLC) / 3,000 (native)</td>",
          "<th>SLC cache</th><td class=\"n\">0x60000 / 0xC00</td>",
          "<th>Chip enable mask</th><td class=\"n\">0x0000000F</td>",
          "<th>Power on time</th><td class=\"n\">1,380 h (57 days)</td>",
          // The status tables' labels in sentence case, abbreviations in capitals.
          "<th>Disk init fail</th>", "<th>FW internal power cycle count</th>", "<th>GPIO</th>",
          "<th>FTL err path</th>", "<th>Average erase count D2 D3</th>",
          "<span>Power-on time</span><span class=\"value unknown\">1,380 h (57 days)</span>",
          "<td class=\"n\">0x020F</td><td>SSD Life Remaining Percent D3</td>",
          "<td class=\"n\">0xA9</td>", "The drive declares no temperature thresholds.",
          "<span>Composite temperature</span><span class=\"value unknown\">",
          "the controller's copy reads the same"},
         {"capacity per ce gb", "<th>disk init fail</th>", "<th>fw ", "<td class=\"n\">527</td>",
          "controller copy</h2>", "(sysinfo)", "(fidall)"}},
        {"--sim=hot",
         {"<span>Composite temperature</span><span class=\"value warning\">74 C</span>",
          "warning 70 C; critical 85 C"},
         {"declares no temperature thresholds"}},
        {"--sim=vendor-life",
         {"2,790 / 3,000", "warning at 90% (2,700)", "<span>Chip temperature (extended SMART)",
          "highest seen 71 C", "The vendor pages declare no temperature thresholds.",
          "<span>Power-on time (system status)</span><span class=\"value unknown\">1,380 h (57 "
          "days)"},
         {}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        FakePlatform host;
        ASSERT_EQ(run_whole_program(host, {"--html", c.sim, "0y"}).status, kExitOk) << c.sim;
        const std::string page = dir.read_text(kHtmlReportFileName);
        for (const char* part : c.present)
            EXPECT_TRUE(contains(page, part)) << c.sim << ": " << part;
        for (const char* part : c.absent)
            EXPECT_FALSE(contains(page, part)) << c.sim << ": " << part;
    }
}

// The CE grid reads the mask from bit 0 up: the simulated drive's mask 0xF sets CE0 to CE3.
TEST(HtmlReport, CeGridFollowsTheMaskFromBitZero) {
    ScratchDir dir;
    FakePlatform host;
    ASSERT_EQ(run_whole_program(host, {"--html", "--sim", "0y"}).status, kExitOk);
    const std::string page = dir.read_text(kHtmlReportFileName);
    for (unsigned ce = 0; ce < 32; ++ce) {
        const std::size_t at = page.find(">CE" + std::to_string(ce) + "</span>");
        ASSERT_NE(at, std::string::npos) << "CE" << ce;
        const std::size_t cell = page.rfind("<span class=\"ce", at);
        ASSERT_NE(cell, std::string::npos) << "CE" << ce;
        EXPECT_EQ(page.compare(cell, 18, "<span class=\"ce on") == 0, ce < 4) << "CE" << ce;
    }
}

}  // namespace
}  // namespace torvik::testing
