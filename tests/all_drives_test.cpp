// --all: the folder names, the worst-status rule, and whole runs over several simulated drives.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "app/all_drives.h"
#include "app/exit_status.h"
#include "platform/host_platform.h"
#include "platform/output_folder.h"
#include "report/metrics_text.h"
#include "sim/profiles.h"
#include "sim/several_drives.h"
#include "sim/sim_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

// A drive's folder is named by its serial alone, so it stays put when the drive's number
// changes; a name the pass gave already, in any letter case, takes the next free "-N".
TEST(AllDrives, FolderNamesKeepOnlySafeCharactersAndStayApart) {
    struct Case {
        std::string serial;
        std::vector<std::string> taken;
        const char* folder;
    } cases[] = {
        {"SIM00101", {}, "drive_SIM00101"},
        {"S3-RV_19", {}, "drive_S3-RV_19"},
        {"../x", {}, "drive_x"},
        {"a/b\\c", {}, "drive_abc"},
        {"  SN 42  ", {}, "drive_SN42"},
        {"\x1b[31mX\x7f\t", {}, "drive_31mX"},
        {std::string("A\0B", 3), {}, "drive_AB"},
        {"\xc3\xa9t\xc3\xa9", {}, "drive_t"},
        {"", {}, "drive_"},
        {"..", {"drive_SIM00101"}, "drive_"},
        {" /\\:*?", {"drive_"}, "drive_-2"},
        {"", {"drive_", "drive_-2"}, "drive_-3"},
        {"SIM00101", {"drive_SIM00101"}, "drive_SIM00101-2"},
        {"sim00101", {"drive_SIM00101", "DRIVE_SIM00101-2"}, "drive_sim00101-3"},
        // A serial that reads as another's second folder does not take that folder.
        {"X-2", {"drive_X", "drive_X-2"}, "drive_X-2-2"},
        {"X", {"drive_X-2"}, "drive_X"},
        {std::string(300, 'Z'), {}, nullptr},  // cut to kFolderSerialChars
    };
    for (const Case& c : cases) {
        const std::string expected =
            c.folder != nullptr ? c.folder : "drive_" + std::string(kFolderSerialChars, 'Z');
        EXPECT_EQ(drive_folder_name(c.serial, c.taken), expected) << c.serial;
        EXPECT_TRUE(names_drive_folder(expected));
    }
    EXPECT_TRUE(names_drive_folder("Drive_Mine"));  // Windows would take it for one
    EXPECT_FALSE(names_drive_folder("drive1_SIM00101"));
    EXPECT_FALSE(names_drive_folder("drives"));
}

// --history and --metrics are refused before the pass where a drive's folder is, or would be:
// a run file inside one (its name in any letter case), or the folder's own place. A folder of
// the user's, or one of an older naming, is not the tool's.
TEST(AllDrives, TargetsInADrivesFolderAreRefusedBeforeThePass) {
    const struct {
        const char* option;
        const char* target;
        const char* refusal;  // nullptr: accepted
    } cases[] = {
        {"--history", "out/drive_SIM00101/torvik_usb_pssd_flash_id.json",
         "in a drive's folder of --all"},
        {"--metrics", "out/DRIVE_X-2/torvik_pssd_manifest.txt", "in a drive's folder of --all"},
        {"--metrics", "out/drive_SIM00101", "--all names its drives' folders so (drive_SERIAL)"},
        {"--metrics", "out/drive1_SIM00101/torvik_usb_pssd_flash_id.txt", nullptr},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        FakePlatform host;
        const ProgramRun r = run_whole_program(
            host, {"--sim=hot", "--all", "--output-dir", "out", c.option, c.target});
        if (c.refusal == nullptr) {
            EXPECT_EQ(r.status, kExitOk) << r.err;
            EXPECT_TRUE(dir.exists(c.target)) << c.target;
            continue;
        }
        EXPECT_EQ(r.status, kExitUsage) << c.target;
        EXPECT_TRUE(contains(r.err, c.refusal)) << r.err;
        EXPECT_FALSE(dir.exists("out")) << c.target;
    }
}

TEST(AllDrives, WorstStatusFollowsTheDocumentedOrder) {
    struct Case {
        std::vector<int> statuses;  // the drives', in the order they ran
        int worst;
    } cases[] = {
        // The documented order, best first: 0, 5, 10, 12, 1, 4, 11.
        {{0, 5, 10, 12, 1, 4, 11}, 11},
        {{5, 0}, 5},
        {{12, 10}, 12},
        {{1, 12}, 1},
        {{0, 0}, 0},
        {{0, 5}, 5},
        {{10, 5}, 10},
        {{10, 12}, 12},
        {{12, 1, 0}, 1},
        {{4, 1}, 4},
        {{11, 4, 10}, 11},
        {{0, 11, 0}, 11},
        // A status outside the order counts as a failure to examine, beside "cannot open".
        {{1, 2}, 2},
        {{2, 11}, 11},
    };
    for (const Case& c : cases) {
        int worst = kExitOk;
        for (const int status : c.statuses)
            worst = worse_status(worst, status);
        EXPECT_EQ(worst, c.worst) << ::testing::PrintToString(c.statuses);
    }
}

// Drive N's OS path as the simulated platform names it on this host.
std::string sim_path(int drive) {
    if (std::strcmp(host_platform_name(), "Windows") == 0)
        return "\\\\.\\PhysicalDrive" + std::to_string(drive);
    return std::string("/dev/sd") + static_cast<char>('a' + drive);
}

TEST(AllDrives, EveryUsbDriveIntoItsOwnFolder) {
    const std::string sep(1, static_cast<char>(fs::path::preferred_separator));
    const std::string out = "out" + sep;
    struct Folder {
        const char* name;
        char drive;  // the number its report was last written under
    };
    struct Case {
        std::vector<const char*> args;
        int status;
        std::vector<std::string> summary;  // the last lines of standard output
        std::vector<Folder> folders;       // the folders in out/ that hold a report
        bool planted = false;  // a link where the hot drive's folder goes, a file where default's
        bool json = false;     // drive 3's JSON report names its profile
        // --metrics fleet.prom: each USB drive's run_success sample, in drive order
        std::vector<const char*> run_success{};
        std::vector<const char*> before{};  // a pass into the same folder first
    } cases[] = {
        {{"--sim=hot,default,worn-out", "--all", "--health", "--json"},
         kExitHealthFailed,
         {"drive 0  " + sim_path(0) + "  skipped: not on USB (SATA)",
          "drive 1  " + sim_path(1) + "  SIM00000000000101 (bridge SIM00101)  WARNING  -> " + out +
              "drive_SIM00101/",
          "drive 2  " + sim_path(2) + "  SIM00000000000001 (bridge SIM00001)  PASSED  -> " + out +
              "drive_SIM00001/",
          "drive 3  " + sim_path(3) + "  SIM00000000000104 (bridge SIM00104)  FAILED  -> " + out +
              "drive_SIM00104/"},
         {{"drive_SIM00101", '1'}, {"drive_SIM00001", '2'}, {"drive_SIM00104", '3'}},
         false,
         true},
        // Without --health the verdicts are shown but do not count. The drives swapped since the
        // pass before keep their folders, now under their new numbers.
        {{"--sim=default,hot", "--all"},
         kExitOk,
         {"drive 0  " + sim_path(0) + "  skipped: not on USB (SATA)",
          "drive 1  " + sim_path(1) + "  SIM00000000000001 (bridge SIM00001)  PASSED  -> " + out +
              "drive_SIM00001/",
          "drive 2  " + sim_path(2) + "  SIM00000000000101 (bridge SIM00101)  WARNING  -> " + out +
              "drive_SIM00101/"},
         {{"drive_SIM00001", '1'}, {"drive_SIM00101", '2'}},
         false,
         false,
         {},
         {"--sim=hot,default", "--all", "--output-dir", "out"}},
        // Two drives of one serial: one folder each.
        {{"--sim=hot,hot", "--all"},
         kExitOk,
         {"drive 0  " + sim_path(0) + "  skipped: not on USB (SATA)",
          "drive 1  " + sim_path(1) + "  SIM00000000000101 (bridge SIM00101)  WARNING  -> " + out +
              "drive_SIM00101/",
          "drive 2  " + sim_path(2) + "  SIM00000000000101 (bridge SIM00101)  WARNING  -> " + out +
              "drive_SIM00101-2/"},
         {{"drive_SIM00101", '1'}, {"drive_SIM00101-2", '2'}}},
        // A folder that cannot be used is that drive's failure; the others still run, and the one
        // metrics file holds every USB drive.
        {{"--sim=hot,default,worn-out", "--all", "--health", "--metrics", "fleet.prom"},
         kExitHealthFailed,
         {"drive 0  " + sim_path(0) + "  skipped: not on USB (SATA)",
          "drive 1  " + sim_path(1) + "  SIM00101  failed: folder drive_SIM00101: ",
          "drive 2  " + sim_path(2) +
              "  SIM00001  failed: folder drive_SIM00001: exists and is not a directory",
          "drive 3  " + sim_path(3) + "  SIM00000000000104 (bridge SIM00104)  FAILED  -> " + out +
              "drive_SIM00104/"},
         {{"drive_SIM00104", '3'}},
         true,
         false,
         {"0", "0", "1"}},
        // One simulated drive is drive 0, on USB.
        {{"--sim=media-errors", "--all", "--health"},
         kExitHealthWarning,
         {"drive 0  " + sim_path(0) + "  SIM00000000000102 (bridge SIM00102)  WARNING  -> " + out +
          "drive_SIM00102/"},
         {{"drive_SIM00102", '0'}}},
    };
    for (const Case& c : cases) {
        const std::string what = ::testing::PrintToString(c.args);
        ScratchDir dir;
        fs::create_directory(dir.path() / "out");
        const fs::path aside = dir.path() / "aside";
        if (c.planted) {
            fs::create_directory(aside);
            std::error_code no_links;
            fs::create_directory_symlink(aside, dir.path() / "out" / "drive_SIM00101", no_links);
            for (const char* name : {"drive_SIM00101", "drive_SIM00001"}) {
                if (fs::exists(dir.path() / "out" / name))
                    continue;  // the link, where the host has them
                std::FILE* file = std::fopen((dir.path() / "out" / name).string().c_str(), "w");
                ASSERT_NE(file, nullptr);
                std::fclose(file);
            }
        }
        FakePlatform host;
        if (!c.before.empty()) {
            ASSERT_EQ(run_whole_program(host, c.before).status, kExitOk);
        }
        std::vector<const char*> args = c.args;
        args.insert(args.end(), {"--output-dir", "out"});
        const ProgramRun r = run_whole_program(host, args);
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;

        // The summary ends the output; a line that names a failure ends with the system's words.
        const std::size_t start = r.out.rfind("\n\ndrive ");
        ASSERT_NE(start, std::string::npos) << what << r.out;
        std::vector<std::string> lines;
        for (std::size_t at = start + 2; at < r.out.size(); at = r.out.find('\n', at) + 1)
            lines.push_back(r.out.substr(at, r.out.find('\n', at) - at));
        ASSERT_EQ(lines.size(), c.summary.size()) << what << r.out;
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].substr(0, c.summary[i].size()), c.summary[i]) << what;

        // Each examined drive's report, headed with its own number, in its own folder; nothing
        // written through the planted link, and no other folder.
        std::size_t entries = 0;
        for (const fs::directory_entry& e : fs::directory_iterator(dir.path() / "out"))
            entries += e.is_directory() && !e.is_symlink() ? 1 : 0;
        EXPECT_EQ(entries, c.folders.size()) << what;
        for (const Folder& folder : c.folders) {
            const std::string report =
                read_text_file(dir.path() / "out" / folder.name / "torvik_usb_pssd_flash_id.txt");
            const std::string number(1, folder.drive);
            EXPECT_EQ(report.substr(0, 20), "v0.2a\nDrive: " + number + "(USB)\n") << folder.name;
            EXPECT_TRUE(contains(r.out, "Drive: " + number + "(USB)\nModel   : ")) << folder.name;
        }
        if (c.planted) {
            EXPECT_TRUE(fs::is_empty(aside)) << what;
            // With --health a drive that was not examined says why, as a refused run does.
            EXPECT_TRUE(contains(r.out, "not examined: its output folder could not be used"));
        }
        if (!c.run_success.empty()) {
            const std::string metrics = read_text_file(dir.path() / "fleet.prom");
            std::size_t at = 0;
            for (std::size_t i = 0; i < c.run_success.size(); ++i) {
                // A drive not examined has its path alone; an examined one its identity, no path.
                const std::string sample =
                    std::string(c.run_success[i]) == "0"
                        ? "{path=\"" + metrics_label_value(sim_path(static_cast<int>(i) + 1)) +
                              "\"} 0\n"
                        : ",model=\"TORVIK PSSD SIM 1TB\"} 1\n";
                at = metrics.find(sample, metrics.find("torvik_pssd_run_success{", at));
                EXPECT_NE(at, std::string::npos) << sample << metrics;
            }
        }
        if (c.json) {
            EXPECT_TRUE(contains(read_text_file(dir.path() / "out" / "drive_SIM00104" /
                                                "torvik_usb_pssd_flash_id.json"),
                                 "\"source\": \"worn-out\""));
        }
    }
}

// --all --json=-: standard output holds one document, each examined drive's document and one
// object per summary line, and nothing else; the drives' own files are written as ever.
TEST(AllDrives, OneDocumentOnStandardOutput) {
    {
        ScratchDir dir;
        FakePlatform host;
        const ProgramRun run = run_whole_program(
            host, {"--sim=hot,worn-out", "--all", "--json", "-", "--output-dir", "out"});
        EXPECT_EQ(run.status, kExitOk) << run.err;
        const nlohmann::json doc = nlohmann::json::parse(run.out);
        EXPECT_EQ(doc["json_format_version"], 2);
        ASSERT_EQ(doc["drives"].size(), 2u) << run.out;
        EXPECT_EQ(doc["drives"][0]["drive"]["simulated"]["source"], "hot");
        EXPECT_EQ(doc["drives"][1]["health"]["verdict"], "FAILED");
        ASSERT_EQ(doc["summary"].size(), 3u);
        EXPECT_EQ(doc["summary"][0]["result"], "skipped: not on USB (SATA)");
        EXPECT_TRUE(doc["summary"][0]["folder"].is_null());
        EXPECT_EQ(doc["summary"][2]["serial"], "SIM00000000000104");
        EXPECT_EQ(doc["summary"][2]["bridge_serial"], "SIM00104");
        EXPECT_TRUE(doc["summary"][0]["bridge_serial"].is_null());
        EXPECT_EQ(doc["summary"][2]["result"], "FAILED");
        EXPECT_TRUE(dir.exists("out/drive_SIM00104/torvik_usb_pssd_flash_id.json"));
        EXPECT_TRUE(contains(
            run.err, "drive 2  " + sim_path(2) + "  SIM00000000000104 (bridge SIM00104)  FAILED"))
            << run.err;
    }
}

// --all --brief: standard output holds each drive's verdict block under a line that names the
// drive, then the summary; never the report. Kept in tests/all_drives_brief.txt (the paths as
// Linux names them); rewrite it with TORVIK_UPDATE_GOLDEN=1.
TEST(AllDrivesGolden, BriefConsoleMatchesTheKeptText) {
    ScratchDir dir;
    FakePlatform host;
    const ProgramRun run = run_whole_program(
        host, {"--sim=hot,worn-out,hot", "--all", "--brief", "--output-dir", "out"});
    EXPECT_EQ(run.status, kExitHealthFailed) << run.err;
    EXPECT_TRUE(dir.exists("out/drive_SIM00101-2/torvik_usb_pssd_flash_id.txt"));
    std::string text = run.out;
    for (int drive = 0; drive < 4; ++drive) {
        const std::string path = sim_path(drive);
        const std::string linux_path = std::string("/dev/sd") + static_cast<char>('a' + drive);
        for (std::size_t at = 0; (at = text.find(path, at)) != std::string::npos;
             at += linux_path.size())
            text.replace(at, path.size(), linux_path);
    }
    for (std::size_t at = 0; (at = text.find("out\\", at)) != std::string::npos; at += 4)
        text.replace(at, 4, "out/");
    const fs::path kept = fs::path(TORVIK_SOURCE_DIR) / "tests" / "all_drives_brief.txt";
    const char* update = std::getenv("TORVIK_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(kept, std::ios::binary) << text;
        GTEST_SKIP() << "rewrote " << kept;
    }
    EXPECT_EQ(text, read_file(kept)) << "differs from " << kept;
}

// With colour (--health on a terminal that shows it) the summary's verdicts are coloured as the
// Health: line's; without it they are plain.
TEST(AllDrives, SummaryVerdictsColouredAsTheHealthLine) {
    for (const bool colour : {true, false}) {
        ScratchDir dir;
        std::string error;
        const std::unique_ptr<FileStore> files =
            open_output_folder("", error, OutputFolderOptions{false});
        fs::create_directory("out");
        const std::unique_ptr<FileStore> out_files =
            open_output_folder("out", error, OutputFolderOptions{false});
        FakePlatform host;
        SimDrive system;
        SimDrive hot;
        SimDrive worn;
        load_system_disk(system);
        load_profile(hot, find_sim_profile("hot")->make());
        load_profile(worn, find_sim_profile("worn-out")->make());
        SimPlatform platform(host, std::vector<SimDrive*>{&system, &hot, &worn});
        Capture out;
        std::FILE* in = input_from("");
        RunContext ctx{.platform = platform, .files = *out_files, .out = out.file(), .in = in};
        ctx.err = nullptr;
        ctx.asked.add(OutputId::health);
        ctx.colour = colour;
        ctx.output_dir = "out";
        EXPECT_EQ(examine_all_drives(ctx), kExitHealthFailed);
        std::fclose(in);
        const std::string warning = colour ? "\033[33mWARNING\033[0m" : "WARNING";
        const std::string failed = colour ? "\033[31mFAILED\033[0m" : "FAILED";
        EXPECT_TRUE(contains(out.text(), "(bridge SIM00101)  " + warning + "  -> ")) << out.text();
        EXPECT_TRUE(contains(out.text(), "(bridge SIM00104)  " + failed + "  -> ")) << out.text();
        EXPECT_TRUE(contains(out.text(), "Health: " + failed + "\n")) << out.text();
    }
}

// Every pass that scans rewrites the metrics file, so it never goes on showing drives that are
// gone: with no USB drive it holds a count of 0 and the scan's time and no drive's series. A pass
// that examined no drive and was refused one for lack of rights cannot tell an empty bus: it ends
// with status 4 and its file says so. A pass that meets another run's lock in a drive's folder
// leaves the file to that run.
TEST(AllDrives, EveryPassThatScansRewritesTheMetrics) {
    const std::string stale = "torvik_pssd_run_success{serial=\"OLD\",path=\"/dev/sdz\"} 1\n";
    constexpr std::uint32_t kAccessDenied = 5;
    const struct {
        const char* name;
        std::function<void(FakePlatform&)> drives;
        int status;
        const char* scan_drives;
        const char* no_access;  // torvik_pssd_scan_error{cause="no_access"}
    } cases[] = {
        {"no drive answers", [](FakePlatform&) {}, kExitNotUsb, "0", "0"},
        {"a drive refused for lack of rights",
         [](FakePlatform& h) {
             h.drives[0] = FakeDrive{};
             h.drives[0].open_fails = true;
             h.drives[0].error = kAccessDenied;
         },
         kExitOpenFailed, "0", "1"},
        {"a drive opened that refuses its bus query",
         [](FakePlatform& h) {
             h.drives[0] = FakeDrive{};
             h.drives[0].query_fails = true;
             h.drives[0].error = kAccessDenied;
         },
         kExitOpenFailed, "0", "1"},
        {"a drive refused, another examined: the status of the one examined",
         [](FakePlatform& h) {
             h.drives[0] = FakeDrive{};
             h.drives[0].open_fails = true;
             h.drives[0].error = kAccessDenied;
             h.drives[1] = FakeDrive{};
         },
         kExitOk, "1", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        std::ofstream("fleet.prom") << stale;
        FakePlatform host;
        c.drives(host);
        const ProgramRun run =
            run_whole_program(host, {"--all", "--metrics", "fleet.prom", "--output-dir", "out"});
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::string text = dir.read("fleet.prom");
        EXPECT_TRUE(
            contains(text, std::string("\ntorvik_pssd_scan_drives ") + c.scan_drives + "\n"))
            << text;
        EXPECT_TRUE(contains(
            text, "\ntorvik_pssd_scan_timestamp_seconds " + std::to_string(kFakeRunTime) + "\n"))
            << text;
        EXPECT_TRUE(contains(text, std::string("\ntorvik_pssd_scan_error{cause=\"no_access\"} ") +
                                       c.no_access + "\n"))
            << text;
        EXPECT_EQ(contains(text, "run_success"), c.scan_drives[0] != '0') << text;
    }
#ifndef _WIN32
    // The folder lock held by this same thread: on Windows it is a named mutex, which the thread
    // that owns it takes again, so there the held lock cannot be shown from inside the test.
    {
        ScratchDir dir;
        std::ofstream("fleet.prom") << stale;
        fs::create_directory("drive_SIM00101");
        std::string error;
        const std::unique_ptr<FileStore> held =
            open_output_folder("drive_SIM00101", error, OutputFolderOptions{false});
        ASSERT_NE(held, nullptr) << error;
        ASSERT_TRUE(held->lock_folder(0));
        const std::unique_ptr<FileStore> files =
            open_output_folder("", error, OutputFolderOptions{false});
        FakePlatform host;
        SimDrive system;
        SimDrive hot;
        load_system_disk(system);
        load_profile(hot, find_sim_profile("hot")->make());
        SimPlatform platform(host, std::vector<SimDrive*>{&system, &hot});
        const OutputFolderOpener opener = fake_folders(host);
        Capture out;
        Capture err;
        std::FILE* in = input_from("");
        RunContext ctx{.platform = platform, .files = *files, .out = out.file(), .in = in};
        ctx.err = err.file();
        ctx.lock_wait_ms = 100;
        ctx.asked.add(OutputId::metrics);
        ctx.metrics_file = "fleet.prom";
        ctx.open_folder = &opener;
        EXPECT_EQ(examine_all_drives(ctx), kExitUsage);
        std::fclose(in);
        EXPECT_EQ(dir.read("fleet.prom"), stale);
        EXPECT_TRUE(contains(err.text(), "--metrics fleet.prom not written: another run"))
            << err.text();
        held->unlock_folder();
    }
#endif
}

}  // namespace
}  // namespace torvik::testing
