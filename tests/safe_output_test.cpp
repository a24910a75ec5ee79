// Output files are never written through a symbolic link planted under their names: the Linux
// platform refuses the link with the file's usual create-error message and leaves its target alone.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/program.h"
#include "platform/linux_platform.h"
#include "report/health_log.h"
#include "report/json_report.h"
#include "scsi/commands.h"
#include "sim/profiles.h"
#include "tests/support/checked_drive.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKept = "somebody else's file\n";

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(SafeOutputFiles, CreateFileRefusesALinkAndTruncatesARegularFile) {
    ScratchDir dir;
    LinuxPlatform platform;
    write_text("target", kKept);
    fs::create_symlink("target", "link");
    fs::create_symlink("nowhere", "dangling");
    for (const char* mode : {"w", "w+b"}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(platform.create_file("link", mode), nullptr);
        EXPECT_EQ(platform.last_error(), static_cast<std::uint32_t>(ELOOP));
        EXPECT_EQ(dir.read("target"), kKept);
        EXPECT_TRUE(fs::is_symlink("link"));

        EXPECT_EQ(platform.create_file("dangling", mode), nullptr);
        EXPECT_FALSE(fs::exists("nowhere"));  // a dangling link does not create its target

        // A regular file is emptied and written as before.
        write_text("plain", "old content that is longer");
        std::FILE* file = platform.create_file("plain", mode);
        ASSERT_NE(file, nullptr);
        std::fputs("new", file);
        std::fclose(file);
        EXPECT_EQ(dir.read("plain"), "new");
    }
    // "w+b" can be read back; a new file is not executable and not writable by others.
    std::FILE* file = platform.create_file("fresh.bin", "w+b");
    ASSERT_NE(file, nullptr);
    std::fputs("abc", file);
    std::rewind(file);
    EXPECT_EQ(std::fgetc(file), 'a');
    std::fclose(file);
    const fs::perms loose = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec |
                            fs::perms::group_write | fs::perms::others_write;
    EXPECT_EQ(fs::status("fresh.bin").permissions() & loose, fs::perms::none);
    // Anything but the two modes the tool uses is refused.
    EXPECT_EQ(platform.create_file("other", "a"), nullptr);
    EXPECT_FALSE(fs::exists("other"));
}

// Every output file of a run whose drive answers every command, with the message its creation
// failure prints.
struct OutputFile {
    std::string name;
    std::string message;
};

std::vector<OutputFile> output_files() {
    std::vector<OutputFile> files = {
        {kReportFileName, "Create log file error\n"},
        {kHealthLogFileName, "Create Smart Log File Error\n"},
        {kJsonReportFileName, std::string(kJsonReportFileName) + ": Create File Error\n"},
    };
    for (const CommandInfo& command : kCommands)
        files.push_back(
            {command.dump_name, std::string(command.dump_name) + ": Create File Error\n"});
    return files;
}

TEST(SafeOutputFiles, ARunRefusesEveryPlantedLink) {
    // The 4 TB drive answers all thirteen commands, READ CAPACITY (16) included.
    const SimProfileData large = find_sim_profile("large")->make();
    for (const OutputFile& file : output_files()) {
        SCOPED_TRACE(file.name);
        ScratchDir dir;
        write_text("target", kKept);
        fs::create_symlink("target", file.name);

        CheckedSimDrive drive;
        load_profile(drive, large);
        LinuxPlatform host;
        Capture out;
        std::FILE* in = input_from("");
        EXPECT_EQ(run_on_simulated_drive(drive, host, Console{out.file(), out.file(), in}, "0y",
                                         SimulatedRun{true}),
                  kExitOk);
        std::fclose(in);

        const std::string console = out.text();
        EXPECT_NE(console.find(file.message), std::string::npos) << console;
        EXPECT_EQ(dir.read("target"), kKept);
        EXPECT_TRUE(fs::is_symlink(file.name));
        // The other files are written as usual.
        for (const OutputFile& other : output_files()) {
            if (other.name != file.name) {
                EXPECT_TRUE(fs::is_regular_file(other.name)) << other.name;
                EXPECT_EQ(console.find(other.message), std::string::npos) << other.name;
            }
        }
    }
}

}  // namespace
}  // namespace torvik::testing
