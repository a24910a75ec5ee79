// Whole command lines on a scripted host: what runs, its exit status, what it says on each stream
// and where its files land; --list, --device and --output-dir end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/exit_status.h"
#include "app/program.h"
#include "platform/host_platform.h"
#include "scsi/commands.h"
#include "sim/sim_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"
#include "tests/support/simulated_run.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReport = "torvik_usb_pssd_flash_id.txt";
constexpr const char* kJson = "torvik_usb_pssd_flash_id.json";
constexpr std::uint32_t kAccessDenied = 5;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

constexpr const char* kWroteJson =
    "torvik_usb_pssd_flash_id: wrote torvik_usb_pssd_flash_id.json\n";

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
    host.drives[3].usb_id = UsbId{0xF0E1, 0x0D0C};  // a bridge the table does not list
    host.drives[4] = FakeDrive{};
    host.drives[4].usb_id = std::nullopt;  // the OS does not tell
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
        int status;         // as the README's table documents it
        const char* out;    // in standard output
        const char* err;    // in standard error; "" : nothing there
        const char* where;  // the folder of the report; nullptr: no file at all
        bool json = false;  // the JSON report beside it
    } cases[] = {
        {{"-h"}, 0, "Usage: torvik_usb_pssd_flash_id [OPTION]...", "", nullptr},
        {{"-?"}, 0, "Usage: ", "", nullptr},
        {{"/?"}, 0, "Usage: ", "", nullptr},
        {{"0y", "--help"}, 0, "Usage: ", "", nullptr},
        {{"-V"}, 0, "torvik_usb_pssd_flash_id 0.2a\nbuilt for ", "", nullptr},
        {{"--frob", "0y"}, 1, "", "unknown option '--frob'\nUsage: ", nullptr},
        {{"--sim", "0y", "--json"}, 0, "Drive: 0(USB)\n", kWroteJson, ".", true},
        {{"0y", "--json"}, 0, "Drive: 0(USB)\n", kNoVendor, ".", true},
        // A profile after a space is --sim's value; an unknown word lists the profiles.
        {{"--sim", "hot", "0y", "--health"}, 10, "Health: WARNING", "", "."},
        {{"--sim=worn-out", "0y", "--health"}, 11, "Health: FAILED", "", "."},
        {{"3y", "--health"}, 12, "Health: UNKNOWN", kNoVendor, "."},
        {{"--sim", "0y", "--metrics", "mon/"}, 1, "", "--metrics mon/: it names a folder", nullptr},
        {{"--sim", "list"}, 0, "spare-low ", "", nullptr},
        {{"--sim", "abc", "0y"}, 1, "", "unknown simulated drive 'abc'; one of:\nde", nullptr},
        {{"--sim", "a\x1b]0;x\a"}, 1, "", "unknown simulated drive 'a?]0;x?'", nullptr},
        // A dash and letters is an option; "-y" stays the drive argument.
        {{"-H"}, 1, "", "unknown option '-H'\nUsage: ", nullptr},
        {{"--sim", "-ay"}, 1, "", "unknown option '-ay'\nUsage: ", nullptr},
        {{"--sim", "-y"}, 0, "Drive: 0(USB)\n", "", "."},
        // --decode takes the bytes up to the next option.
        {{"--decode", "98", "3c", "98", "b3", "76", "f2", "--health"}, 0, "Toshiba", "", nullptr},
        // An empty value is an error in both forms.
        {{"--sim", "0y", "--output-dir", ""}, 1, "", "--output-dir needs DIR, not", nullptr},
        {{"--device", "", "y"}, 1, "", "--device needs PATH, not an empty", nullptr},
        // A path in the drive argument's place names the drive, and carries no letters.
        {{"\\\\.\\PhysicalDrive3", "y"}, 0, "Drive: 3(USB)\n", kNoVendor, "."},
        {{"\\\\.\\PhysicalDrive3"}, 0, "Press any key", kNoVendor, "."},
        {{"/dev/\x1b[2J", "y"}, 2, "", "/dev/?[2J: not a whole disk", nullptr},
        {{"3", "y"}, 0, "Press any key", kNoVendor, "."},
        {{"--device", "\\\\.\\PhysicalDrive3", "y"}, 0, "Drive: 3(USB)\n", kNoVendor, "."},
        {{"y", "--device=\\\\.\\physicaldrive3"}, 0, "Drive: 3(USB)\n", kNoVendor, "."},
        {{"--device", "\\\\.\\PhysicalDrive3"}, 0, "Press any key", kNoVendor, "."},
        {{"--device", "nowhere", "y"}, 2, "", "nowhere: not a whole disk", nullptr},
        {{"--output-dir", "out", "0y", "--json"},
         0,
         "Drive: 0(USB)\n",
         "torvik_usb_pssd_flash_id.txt, out",  // the folder's separator is the host's
         "out",
         true},
        {{"--sim", "--output-dir=out/", "0y", "--html"},
         0,
         "Drive: 0(USB)\n",
         ": wrote out/torvik_usb_pssd_flash_id.txt, out/torvik_usb_pssd_flash_id.html\n",
         "out"},
        {{"--output-dir=out/deeper", "3y"}, 0, "Drive: 3(USB)\n", kNoVendor, "out/deeper"},
        {{"1y"},
         3,
         "Drive interface is not USB, exit!",
         "\ntorvik_usb_pssd_flash_id: drive 1 (\\\\.\\PhysicalDrive1) is on the SATA bus: the tool "
         "examines USB drives only",
         nullptr},
        {{"2y"},
         4,
         "Drive interface is not USB, exit!",
         "cannot open drive 2 (\\\\.\\PhysicalDrive2): permission denied; run as ",
         nullptr},
        {{"7y"},
         2,
         "Drive interface is not USB, exit!",
         "there is no drive 7 (\\\\.\\PhysicalDrive7); the drives are 0 1 3 4 (see --list)",
         nullptr},
        {{"4y"},
         4,
         "Drive: 4(USB)\nError open disk\n",
         "cannot open drive 4 (\\\\.\\PhysicalDrive4): permission denied",
         nullptr},
        {{"--list"},
         0,
         "    0  \\\\.\\PhysicalDrive0",
         "some drives could not be opened: permission denied",
         nullptr},
        {{"--sim=unsupported", "0y"},
         0,
         "Controller: TK5019",
         "the controller id read is 0x5019, not a controller the report covers",
         "."},
        // --all: every USB drive into its folder; the drive argument may hold letters only.
        {{"--all", "--output-dir", "out"},
         4,
         "drive 1  \\\\.\\PhysicalDrive1  skipped: not on USB (SATA)\n"
         "drive 3  \\\\.\\PhysicalDrive3  -  UNKNOWN  -> out",  // no serial: no INQUIRY answer
         "some drives could not be opened: permission denied",
         "out/drive_"},  // drive 0 gives no serial either: drive 3 is in drive_-2
        {{"--all", "3y"}, 1, "", "--all examines every USB drive: it takes no", nullptr},
        {{"--brief", "--sim", "y"}, 1, "", "--brief asks no question: name the drive", nullptr},
        // Six failed pages are not every vendor command: no word about the bridge.
        {{"--sim=failing-pages", "0y"}, 0, "IOCtl: failed 0x1f!", "", "."},
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
    EXPECT_EQ(
        r.out,
        "Drive  Path                     Bus           Size  USB bridge      Vendor and product\n"
        "    0  \\\\.\\PhysicalDrive0       USB        1.00 TB  174c:2362 e6    TORVIK PSSD SIM "
        "1TB\n"
        "    1  \\\\.\\PhysicalDrive1       SATA      256.1 GB                  ATA Example SATA "
        "SSD\n"
        "    3  \\\\.\\PhysicalDrive3       USB              ?  f0e1:0d0c -     Blank Bridge\n"
        "    4  \\\\.\\PhysicalDrive4       USB              ?                  TORVIK PSSD\n");
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
    EXPECT_EQ(list["drives"][2]["usb_bridge"],
              (nlohmann::json{{"id", "f0e1:0d0c"}, {"form", nullptr}}));
    // A bridge the table lists as a SATA bridge says so, in both forms of the list.
    host.drives[3].usb_id = UsbId{0x152D, 0x0578};
    r = run_whole_program(host, {"--list"});
    EXPECT_TRUE(contains(r.out, "  152d:0578 sata  Blank Bridge\n")) << r.out;
    r = run_whole_program(host, {"--json", "--list"});
    EXPECT_EQ(nlohmann::json::parse(r.out)["drives"][2]["usb_bridge"],
              (nlohmann::json{{"id", "152d:0578"}, {"form", nullptr}, {"kind", "sata"}}));
    host.drives[3].usb_id = UsbId{0xF0E1, 0x0D0C};

    // An empty list says why on standard error, and nothing on standard output; already root (or
    // administrator), the advice names the other causes.
    struct Empty {
        bool denied;
        bool privileged;
        const char* says;
    } empties[] = {
        {true, false, "No drive could be opened: permission denied; run as "},
        {true, true, "permission denied; the tool runs as "},
        {false, false, "No drives found: the system shows no disk.\n"},
    };
    for (const Empty& e : empties) {
        FakePlatform bare;
        bare.privileged = e.privileged;
        if (e.denied) {
            bare.drives[0].open_fails = true;
            bare.drives[0].error = kAccessDenied;
        }
        r = run_whole_program(bare, {"--list"});
        EXPECT_EQ(r.status, kExitOk);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(contains(r.err, e.says)) << r.err;
        EXPECT_EQ(contains(r.err, "run as "), e.denied && !e.privileged) << r.err;
        r = run_whole_program(bare, {"2y"});
        EXPECT_EQ(contains(r.err, "run as "), e.denied && !e.privileged) << r.err;
    }
    // The simulated drive lists itself as drive 0, with the size of its capacity pages and the
    // name the host would give it, and answers to that name.
    const bool windows = std::string(host_platform_name()) == "Windows";
    const std::string sim_path = windows ? "\\\\.\\PhysicalDrive0" : "/dev/sda";
    r = run_whole_program(host, {"--list", "--sim"});
    char line[96];
    std::snprintf(line, sizeof line, "    0  %-24s USB        1.00 TB  174c:2362 e6    TORVIK",
                  sim_path.c_str());
    EXPECT_TRUE(contains(r.out, line)) << r.out;
    r = run_whole_program(host, {"--sim", "--device", sim_path.c_str(), "y"});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    r = run_whole_program(host, {"--sim", "5y"});
    EXPECT_EQ(r.status, kExitBadDrive);
    EXPECT_TRUE(contains(r.err, windows ? "there is no drive 5 (\\\\.\\PhysicalDrive5)"
                                        : "there is no drive 5 (/dev/sdf)"))
        << r.err;
    if (!windows) {
        r = run_whole_program(host, {"--sim", "/dev/sdab", "y"});
        EXPECT_TRUE(contains(r.err, "there is no drive 27 (/dev/sdab)")) << r.err;
        // A negative number has no name here, and not Windows's.
        r = run_whole_program(host, {"--sim", "-1"});
        EXPECT_TRUE(contains(r.err, "there is no drive -1; the drives are 0")) << r.err;
    }
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
    const struct {
        const char* bad;
        const char* why;
    } refused[] = {
        {"plain", ": exists and is not a directory"},
        {"link", ": is a symbolic link; give the directory it points to"},
    };
    for (const auto& c : refused) {
        if (std::string(c.bad) == "link" && ec)
            continue;  // no symbolic links here (Windows without the right)
        const ProgramRun r = run_whole_program(host, {"--sim", "--output-dir", c.bad, "0y"});
        EXPECT_EQ(r.status, kExitUsage) << c.bad;
        EXPECT_EQ(r.out, "") << c.bad;
        EXPECT_TRUE(contains(r.err, std::string("--output-dir ") + c.bad + c.why)) << r.err;
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
