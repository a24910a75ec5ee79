// The console front end on the fake platform: drive choice, USB check, files, closing prompt.
#include <gtest/gtest.h>

#include <string>

#include "app/drive_argument.h"
#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "platform/host_platform.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

constexpr const char* kBanner = "Torvik usb/pssd flash id v0.2a by tarn\n";
constexpr const char* kClosing = "\nPress any key to exit or Space to open full text report\n";
constexpr const char* kNotUsb = "Drive interface is not USB, exit!";

struct Outcome {
    int status = 0;
    std::string console;
    std::string err;  // standard error
};

Outcome run_with(FakePlatform& platform, const char* first_arg, const std::string& typed = "") {
    Capture console;
    Capture err;
    std::FILE* in = input_from(typed);
    RunContext ctx{.platform = platform, .files = platform, .out = console.file(), .in = in};
    ctx.err = err.file();
    Outcome outcome;
    outcome.status = examine_drive(ctx, first_arg);
    outcome.console = console.text();
    outcome.err = err.text();
    std::fclose(in);
    return outcome;
}

TEST(DriveArgument, NumberAndLettersFollowStrtolRules) {
    struct Case {
        const char* text;
        std::int32_t drive;
        bool y;
    } cases[] = {
        {"", 0, false},
        {"3y", 3, true},
        {"y3", 0, true},
        {"3Y", 3, true},
        {"  12b", 12, false},
        {"-1", -1, false},
        {"+7", 7, false},
        {"150", 150, false},
        {"99999999999", 2147483647, false},
        {"-99999999999", -2147483647 - 1, false},
        {"1y2", 1, true},
        {"abc", 0, false},
    };
    for (const Case& c : cases) {
        const DriveArgument arg = parse_drive_argument(c.text);
        EXPECT_EQ(arg.drive, c.drive) << c.text;
        EXPECT_EQ(arg.no_requests, c.y) << c.text;
    }
}

TEST(RunPrompt, TypedAnswersChooseDriveAndOption) {
    struct Case {
        const char* typed;
        const char* drive_line;  // nullptr: no USB drive line expected
        bool closing_prompt;
    } cases[] = {
        {"\n", "Drive: 0(USB)\n", true},    {"3y\n", "Drive: 3(USB)\n", false},
        {"y3\n", "Drive: 0(USB)\n", false}, {"3Y\n", "Drive: 3(USB)\n", false},
        {"3", "Drive: 3(USB)\n", true},  // end of input after the digits still counts
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        FakePlatform platform;
        platform.drives[0] = FakeDrive{};
        platform.drives[3] = FakeDrive{};
        const Outcome out = run_with(platform, nullptr, c.typed);
        EXPECT_EQ(out.status, kExitOk) << c.typed;
        EXPECT_TRUE(contains(out.console, c.drive_line)) << c.typed << out.console;
        EXPECT_EQ(contains(out.console, kClosing), c.closing_prompt) << c.typed;
        EXPECT_TRUE(dir.exists("torvik_usb_pssd_flash_id.txt"));
    }
}

TEST(RunPrompt, OutOfRangeAnswerEndsAtOnce) {
    for (const char* typed : {"100\n", "-1\n"}) {
        ScratchDir dir;
        FakePlatform platform;
        platform.drives[0] = FakeDrive{};
        const Outcome out = run_with(platform, nullptr, typed);
        EXPECT_EQ(out.status, kExitBadDrive);
        const std::string tail = "Please select drive number:Error: bad drive number\n";
        ASSERT_GE(out.console.size(), tail.size());
        EXPECT_EQ(out.console.substr(out.console.size() - tail.size()), tail);
        // The listing tried 0..98; after the answer nothing more is opened or queried.
        EXPECT_EQ(platform.calls.back(), "open \\\\.\\PhysicalDrive98 0x0");
        EXPECT_FALSE(dir.exists("torvik_usb_pssd_flash_id.txt"));
        EXPECT_FALSE(contains(out.console, kClosing));
    }
}

TEST(RunPrompt, EndOfInputBeforeAnyCharacterIsRefused) {
    ScratchDir dir;
    FakePlatform platform;
    platform.drives[0] = FakeDrive{};
    const Outcome out = run_with(platform, nullptr, "");
    EXPECT_EQ(out.status, kExitBadDrive);
    EXPECT_FALSE(contains(out.console, "Drive: 0(USB)"));
    EXPECT_FALSE(dir.exists("torvik_usb_pssd_flash_id.txt"));
}

TEST(RunPrompt, LongAnswerIsCutAndItsRestNeverReachesTheClosingPrompt) {
    ScratchDir dir;
    FakePlatform platform;
    platform.drives[0] = FakeDrive{};
    // 127 characters count; the 'y' at position 128 is dropped with the rest of the line.
    std::string typed = "0" + std::string(126, 'x') + "y    \n";
    platform.keys = {'a'};
    const Outcome out = run_with(platform, nullptr, typed);
    EXPECT_TRUE(contains(out.console, kClosing));  // the y was not seen
    EXPECT_EQ(platform.count_calls("shell"), 0);
}

TEST(RunPrompt, ListingShowsEachAnsweringDrive) {
    ScratchDir dir;
    FakePlatform platform;
    platform.drives[0] = FakeDrive{"ATA     ", "Disk A", 11};
    platform.drives[2] = FakeDrive{nullptr, "NoVendor", 7};
    platform.drives[5] = FakeDrive{};
    platform.drives[5].query_fails = true;
    const Outcome out = run_with(platform, nullptr, "9y\n");
    const std::string expected =
        "Use: torvik_usb_pssd_flash_id[b][y]\n     - b for save binary\n"
        "     - y disable any requests to user\n\n"
        " 0: ATA     Disk A\n 2: NoVendor\nPlease select drive number:";
    EXPECT_TRUE(contains(out.console, expected)) << out.console;
    EXPECT_EQ(platform.open_handles, 0);
    // Once for the listing, once more when the standard-error note on the missing drive 9 names
    // the drives there are.
    EXPECT_EQ(platform.count_calls("open \\\\.\\PhysicalDrive98 "), 2);
    EXPECT_TRUE(contains(out.err, "there is no drive 9")) << out.err;
    EXPECT_EQ(platform.count_calls("open \\\\.\\PhysicalDrive99 "), 0);  // never listed
}

TEST(RunArgument, FirstArgumentIsNotRangeChecked) {
    ScratchDir dir;
    FakePlatform platform;
    platform.drives[150] = FakeDrive{};
    const Outcome out = run_with(platform, "150y");
    EXPECT_EQ(out.status, kExitOk);
    EXPECT_TRUE(contains(out.console, "Drive: 150(USB)\n"));
    // The bus query and the open use the same number.
    EXPECT_EQ(platform.count_calls("open \\\\.\\PhysicalDrive150 0x0"), 1);
    EXPECT_EQ(platform.count_calls("open \\\\.\\PhysicalDrive150 0x30000080"), 1);
    EXPECT_EQ(platform.count_calls("ioctl 0x2d1400 12 4096"), 1);
}

TEST(RunArgument, OnlyTheFirstArgumentCarriesLetters) {
    // main() hands over argv[1] only; "3" then "y" is drive 3 with the closing prompt.
    ScratchDir dir;
    FakePlatform platform;
    platform.drives[3] = FakeDrive{};
    const Outcome out = run_with(platform, "3");
    EXPECT_TRUE(contains(out.console, kClosing));
}

TEST(RunArgument, BannerOsLineAndReportHeader) {
    ScratchDir dir;
    FakePlatform platform;
    platform.extended_version_fails = true;
    platform.version = OsVersion{0, 6, 1, 7601, "Service Pack 1"};
    platform.drives[1] = FakeDrive{};
    const Outcome out = run_with(platform, "1y");
    // The fake drive answers no pass-through request, so the report that follows is all failures.
    const std::string head =
        std::string(kBanner) + "OS: 6.1 build 7601 Service Pack 1\nDrive: 1(USB)\nIOCtl: Inquiry";
    EXPECT_EQ(out.console.substr(0, head.size()), head);
    EXPECT_EQ(platform.calls[0], "version 156");
    EXPECT_EQ(platform.calls[1], "version 148");
    // The report is a text file: its line ends are the platform's own (CRLF on Windows).
    const std::string eol = std::string(host_platform_name()) == "Windows" ? "\r\n" : "\n";
    const std::string header = "v0.2a" + eol + "Drive: 1(USB)" + eol +
                               "OS: 6.1 build 7601 Service Pack 1" + eol + "IOCtl: Inquiry";
    EXPECT_EQ(dir.read("torvik_usb_pssd_flash_id.txt").substr(0, header.size()), header);
    EXPECT_EQ(platform.open_handles, 0);
}

TEST(RunArgument, DriveNotOnUsbGoesToClosingPrompt) {
    struct Case {
        FakeDrive drive;
        bool present;
        int status;
    } cases[] = {
        {FakeDrive{"ATA     ", "SATA disk", 11}, true, kExitNotUsb},
        {FakeDrive{"", "", 7, true}, true, kExitNotUsb},  // query fails: bus type stays 0
        {FakeDrive{}, false, kExitBadDrive},              // no such drive
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        FakePlatform platform;
        if (c.present)
            platform.drives[0] = c.drive;
        platform.keys = {' '};
        platform.shell_result = 2;
        const Outcome out = run_with(platform, "0");
        EXPECT_EQ(out.status, c.status);
        EXPECT_TRUE(contains(
            out.console, std::string(kNotUsb) + kClosing + "Open report report file error: 2\n"))
            << out.console;
        EXPECT_EQ(platform.shell_files, std::vector<std::string>{"torvik_usb_pssd_flash_id.txt"});
        EXPECT_FALSE(dir.exists("torvik_usb_pssd_flash_id.txt"));
        EXPECT_EQ(platform.count_calls("open \\\\.\\PhysicalDrive0 0x30000080"), 0);
    }
}

TEST(RunArgument, DiskThatCannotBeOpened) {
    ScratchDir dir;
    FakePlatform platform;
    platform.drives[4] = FakeDrive{};
    platform.drives[4].disk_open_fails = true;
    platform.keys = {' '};
    const Outcome out = run_with(platform, "4");
    EXPECT_EQ(out.status, kExitOpenFailed);
    EXPECT_TRUE(contains(out.console, "Drive: 4(USB)\nError open disk\n"));
    EXPECT_FALSE(contains(out.console, kClosing));
    EXPECT_FALSE(dir.exists("torvik_usb_pssd_flash_id.txt"));
}

TEST(RunArgument, ReportFileThatCannotBeCreated) {
    ScratchDir dir;
    FakePlatform platform;
    platform.drives[0] = FakeDrive{};
    platform.uncreatable.insert("torvik_usb_pssd_flash_id.txt");
    const Outcome out = run_with(platform, "0y");
    EXPECT_EQ(out.status, kExitFilesIncomplete);
    EXPECT_TRUE(contains(out.console, "Drive: 0(USB)\nCreate log file error\n"));
    EXPECT_EQ(platform.count_calls("close 0"), 2);  // bus query, then the disk after the report
}

TEST(ClosingPrompt, LastKeyDecides) {
    struct Case {
        std::deque<int> keys;
        bool opens;
    } cases[] = {
        {{'a', ' '}, true},    {{' ', 'a'}, false}, {{' '}, true},
        {{0xE0, 0x48}, false},  // a two-character key leaves its second character last
        {{}, false},            // no console: ends without waiting
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        FakePlatform platform;
        platform.drives[0] = FakeDrive{};
        platform.keys = c.keys;
        platform.shell_result = 33;
        const Outcome out = run_with(platform, "0");
        EXPECT_EQ(platform.count_calls("shell"), c.opens ? 1 : 0);
        EXPECT_FALSE(contains(out.console, "Open report report file error"));
    }
}

}  // namespace
}  // namespace torvik::testing
