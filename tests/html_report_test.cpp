// The HTML report: drive texts that hold markup or stray bytes stay text, and a run with failed
// commands says so at the top of the page. Its rendering in a browser is checked by
// html_render_check.py.
#include <gtest/gtest.h>

#include <string>

#include "app/exit_status.h"
#include "model/drive_model.h"
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
    JsonRunInfo run;
    run.simulation = "replay";
    run.simulation_source = "</td><style>body{display:none}</style>";
    const std::string page = html_report(run, record);
    for (const char* injected : {"<script", "<img", "\xff", "</td>\"", "<style>body"})
        EXPECT_FALSE(contains(page, injected)) << injected;
    EXPECT_TRUE(contains(page, "<h1>&lt;script&gt;alert(1)&lt;/script&gt;</h1>"));
    EXPECT_TRUE(contains(page, "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"));
    EXPECT_TRUE(contains(page, "&#xFFFD;&lt;/td&gt;"));
    EXPECT_TRUE(contains(page, "&lt;/td&gt;&lt;style&gt;body"));
    // Exactly the one style element of the page itself.
    EXPECT_EQ(page.find("<style>"), page.rfind("<style>"));
}

// Through the whole program: the failing drive's page leads with its failures, each row marked;
// the healthy drive's page has no such section and says that nothing failed.
TEST(HtmlReport, FailedCommandsAreMarkedAtTheTop) {
    const struct {
        const char* sim;
        const char* alert;  // nullptr: no failure section
        std::vector<const char*> rows;
    } cases[] = {
        {"--sim=failing-pages",
         "6 commands failed",
         {"FAILED sysinfo", "FAILED fidall", "FAILED infoblock", "FAILED id", "FAILED smart",
          "FAILED smartext"}},
        {"--sim=no-tunnel", "2 commands failed", {"FAILED nvme_id", "FAILED nvme_smart"}},
        {"--sim", nullptr, {}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        FakePlatform host;
        ASSERT_EQ(run_whole_program(host, {"--html", c.sim, "0y"}).status, kExitOk) << c.sim;
        const std::string page = dir.read_text(kHtmlReportFileName);
        const std::size_t alert = page.find("<section class=\"alert\"");
        const std::size_t key_figures = page.find("Key health figures");
        if (c.alert == nullptr) {
            EXPECT_EQ(alert, std::string::npos) << c.sim;
            EXPECT_TRUE(contains(page, "None: every command the report sent was answered."));
            EXPECT_FALSE(contains(page, "class=\"failed\"")) << c.sim;
            continue;
        }
        ASSERT_NE(alert, std::string::npos) << c.sim;
        EXPECT_LT(alert, key_figures) << c.sim;  // before any figure
        EXPECT_TRUE(contains(page, c.alert)) << c.sim;
        for (const char* row : c.rows)
            EXPECT_TRUE(contains(page, std::string("<tr class=\"failed\"><td>") + row + "</td>"))
                << c.sim << ' ' << row;
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
