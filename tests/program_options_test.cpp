// Whole command lines on a scripted host: what runs, its exit status, what it says on each stream
// and where its files land; --list, --device and --output-dir end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/exit_status.h"
#include "app/program.h"
#include "scsi/commands.h"
#include "sim/sim_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReport = "torvik_usb_pssd_flash_id.txt";
constexpr const char* kJson = "torvik_usb_pssd_flash_id.json";
constexpr std::uint32_t kAccessDenied = 5;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The fake drives answer no pass-through request: every run on one ends with this on stderr.
constexpr const char* kNoVendor = "every vendor command failed: the USB bridge probably refuses";

// Drive 0 a USB drive, 1 on SATA, 2 refused for lack of rights, 3 a USB drive without a vendor
// text, 4 a USB drive whose open for the report fails.
FakePlatform host_with_drives() {
    FakePlatform host;
    host.drives[0] = FakeDrive{"TORVIK  ", "PSSD SIM 1TB    ", 7};
    host.drives[0].size = 1000204886016;
    host.drives[1] = FakeDrive{"ATA     ", "Example SATA SSD", 11};
    host.drives[1].size = 256060514304;
    host.drives[2] = FakeDrive{};
    host.drives[2].open_fails = true;
    host.drives[2].error = kAccessDenied;
    host.drives[3] = FakeDrive{nullptr, "Blank Bridge", 7};
    host.drives[4] = FakeDrive{};
    host.drives[4].disk_open_fails = true;
    host.drives[4].error = kAccessDenied;
    return host;
}

std::size_t files_in(const fs::path& dir) {
    std::size_t n = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        n += e.is_regular_file() ? 1 : 0;
    return n;
}

TEST(ProgramOptions, CommandLinesAndWhatRuns) {
    struct Case {
        std::vector<const char*> args;
        int status;
        const char* out;    // in standard output
        const char* err;    // in standard error; "" : nothing there
        const char* where;  // the folder of the report; nullptr: no file at all
        bool json = false;  // the JSON report beside it
    } cases[] = {
        {{"-h"}, kExitOk, "Usage: torvik_usb_pssd_flash_id [OPTION]...", "", nullptr},
        {{"-?"}, kExitOk, "Usage: ", "", nullptr},
        {{"/?"}, kExitOk, "Usage: ", "", nullptr},
        {{"0y", "--help"}, kExitOk, "Usage: ", "", nullptr},
        {{"-V"}, kExitOk, "torvik_usb_pssd_flash_id 0.2a\nbuilt for ", "", nullptr},
        {{"--frob", "0y"}, kExitUsage, "", "unknown option '--frob'\nUsage: ", nullptr},
        {{"--sim", "0y", "--json"}, kExitOk, "Drive: 0(USB)\n", "", ".", true},
        {{"0y", "--json"}, kExitOk, "Drive: 0(USB)\n", kNoVendor, ".", true},
        {{"3", "y"}, kExitOk, "Press any key", kNoVendor, "."},
        {{"--device", "\\\\.\\PhysicalDrive3", "y"}, kExitOk, "Drive: 3(USB)\n", kNoVendor, "."},
        {{"y", "--device=\\\\.\\physicaldrive3"}, kExitOk, "Drive: 3(USB)\n", kNoVendor, "."},
        {{"--device", "\\\\.\\PhysicalDrive3"}, kExitOk, "Press any key", kNoVendor, "."},
        {{"--device", "nowhere", "y"},
         kExitBadDrive,
         "",
         "--device nowhere: not a whole disk",
         nullptr},
        {{"--output-dir", "out", "0y", "--json"},
         kExitOk,
         "Drive: 0(USB)\n",
         kNoVendor,
         "out",
         true},
        {{"--output-dir=out/deeper", "3y"}, kExitOk, "Drive: 3(USB)\n", kNoVendor, "out/deeper"},
        {{"1y"},
         kExitNotUsb,
         "Drive interface is not USB, exit!",
         "drive 1 (\\\\.\\PhysicalDrive1) is on the SATA bus: the tool examines USB drives only",
         nullptr},
        {{"2y"},
         kExitNotUsb,
         "Drive interface is not USB, exit!",
         "cannot open drive 2 (\\\\.\\PhysicalDrive2): permission denied; run as ",
         nullptr},
        {{"7y"},
         kExitNotUsb,
         "Drive interface is not USB, exit!",
         "there is no drive 7 (\\\\.\\PhysicalDrive7); the drives are 0 1 3 4 (see --list)",
         nullptr},
        {{"4y"},
         kExitOpenFailed,
         "Drive: 4(USB)\nError open disk\n",
         "cannot open drive 4 (\\\\.\\PhysicalDrive4): permission denied",
         nullptr},
        {{"--list"},
         kExitOk,
         "    0  \\\\.\\PhysicalDrive0",
         "some drives could not be opened: permission denied",
         nullptr},
        {{"--sim=unsupported", "0y"},
         kExitOk,
         "Controller: TK5019",
         "the controller id read is 0x5019, not a controller the report covers",
         "."},
        // Six failed pages are not every vendor command: no word about the bridge.
        {{"--sim=failing-pages", "0y"}, kExitOk, "IOCtl: failed 0x1f!", "", "."},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        FakePlatform host = host_with_drives();
        const ProgramRun r = run_whole_program(host, c.args);
        std::string what;
        for (const char* arg : c.args)
            what += std::string(" ") + arg;
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_TRUE(contains(r.out, c.out)) << what << "\n" << r.out;
        if (*c.err == '\0') {
            EXPECT_EQ(r.err, "") << what;
        } else {
            EXPECT_TRUE(contains(r.err, c.err)) << what << "\n" << r.err;
        }
        if (c.where == nullptr) {
            EXPECT_EQ(files_in(dir.path()), 0u) << what;
        } else {
            const fs::path where = dir.path() / c.where;
            EXPECT_TRUE(fs::exists(where / kReport)) << what;
            EXPECT_EQ(fs::exists(where / kJson), c.json) << what;
            if (std::string(c.where) != ".") {
                EXPECT_EQ(files_in(dir.path()), 0u) << what;  // nothing beside the folder
            }
        }
        EXPECT_EQ(host.open_handles, 0) << what;
    }
}

TEST(ProgramOptions, ListShowsEveryDriveOrWhyThereIsNone) {
    ScratchDir dir;
    FakePlatform host = host_with_drives();
    ProgramRun r = run_whole_program(host, {"--list"});
    EXPECT_EQ(r.out,
              "Drive  Path                     Bus           Size  Vendor and product\n"
              "    0  \\\\.\\PhysicalDrive0       USB        1.00 TB  TORVIK PSSD SIM 1TB\n"
              "    1  \\\\.\\PhysicalDrive1       SATA      256.1 GB  ATA Example SATA SSD\n"
              "    3  \\\\.\\PhysicalDrive3       USB              ?  Blank Bridge\n"
              "    4  \\\\.\\PhysicalDrive4       USB              ?  TORVIK PSSD\n");
    EXPECT_EQ(host.count_calls("open \\\\.\\PhysicalDrive98 0x0"), 1);
    EXPECT_EQ(host.count_calls("open \\\\.\\PhysicalDrive0 0x30000080"), 0);  // none examined

    r = run_whole_program(host, {"--json", "--list"});
    EXPECT_EQ(r.status, kExitOk);
    const nlohmann::json list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list["drives"].size(), 4u);
    EXPECT_EQ(list["drives"][0]["path"], "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(list["drives"][0]["size_bytes"], 1000204886016);
    EXPECT_EQ(list["drives"][1]["bus"], "SATA");
    EXPECT_EQ(list["drives"][2]["vendor"], "");
    EXPECT_TRUE(list["drives"][2]["size_bytes"].is_null());
    EXPECT_TRUE(list["access_denied"].get<bool>());

    struct Empty {
        bool denied;
        const char* says;
    } empties[] = {
        {true, "No drive could be opened: permission denied; run as "},
        {false, "No drives found: the system shows no disk.\n"},
    };
    for (const Empty& e : empties) {
        FakePlatform bare;
        if (e.denied) {
            bare.drives[0].open_fails = true;
            bare.drives[0].error = kAccessDenied;
        }
        r = run_whole_program(bare, {"--list"});
        EXPECT_EQ(r.status, kExitOk);
        EXPECT_TRUE(contains(r.out, e.says)) << r.out;
    }
    // The simulated drive lists itself as drive 0, with the size of its capacity pages.
    r = run_whole_program(host, {"--list", "--sim"});
    EXPECT_TRUE(contains(r.out, "    0  \\\\.\\PhysicalDrive0       USB        1.00 TB  TORVIK"))
        << r.out;
    EXPECT_EQ(files_in(dir.path()), 0u);
}

TEST(ProgramOptions, OutputDirHoldsTheRunAndFeedsItsReplay) {
    ScratchDir dir;
    FakePlatform host;
    host.keys = {' '};
    ProgramRun first = run_whole_program(host, {"--output-dir", "run", "--sim"}, "0\n");
    EXPECT_EQ(first.status, kExitOk);
    // The closing prompt opens the report where it was written.
    const std::string report = (fs::path("run") / kReport).string();
    EXPECT_EQ(host.shell_files, std::vector<std::string>{report});
    EXPECT_EQ(files_in(dir.path()), 0u);
    const std::string recorded = dir.read(report);

    // Replayed from the same folder, into it: every dump is read before the first file is made.
    const ProgramRun again =
        run_whole_program(host, {"--replay", "run", "--output-dir", "run", "0y"});
    EXPECT_EQ(again.status, kExitOk);
    EXPECT_EQ(dir.read(report), recorded);

    // A file or a symbolic link in the folder's place is refused before anything is written.
    std::FILE* file = std::fopen("plain", "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    std::error_code ec;
    fs::create_directory_symlink("run", "link", ec);
    for (const char* bad : {"plain", "link"}) {
        if (std::string(bad) == "link" && ec)
            continue;  // no symbolic links here (Windows without the right)
        const ProgramRun r = run_whole_program(host, {"--sim", "--output-dir", bad, "0y"});
        EXPECT_EQ(r.status, kExitUsage) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_TRUE(contains(r.err, std::string("--output-dir ") + bad)) << r.err;
    }
}

TEST(ProgramOptions, BridgeThatRefusesEveryVendorCommandIsNamed) {
    ScratchDir dir;
    SimDrive drive;
    for (const CommandInfo& command : kCommands) {
        if (command.form == CommandForm::vendor12 || command.form == CommandForm::vendor16)
            drive.set_fault(command.id, Fault{FaultKind::platform_error, 0x1f});
    }
    FakePlatform host;
    Capture out;
    Capture err;
    std::FILE* in = input_from("");
    EXPECT_EQ(run_on_simulated_drive(drive, host, host, Console{out.file(), err.file(), in}, "0y"),
              kExitOk);
    std::fclose(in);
    EXPECT_TRUE(contains(err.text(), "every vendor command failed: the USB bridge probably"));
    EXPECT_TRUE(contains(err.text(), "the controller id could not be read (ReadInfo failed)"));
}

}  // namespace
}  // namespace torvik::testing
