// The whole program on the built-in simulated drives and on replayed dump files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/exit_status.h"
#include "sim/profiles.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"
#include "transport/commands.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReport = "torvik_usb_pssd_flash_id.txt";
constexpr const char* kHealthLog = "torvik_pssd_flash_id_smart.txt";

ProgramRun run_program_with(std::vector<const char*> args, const std::string& typed = "") {
    FakePlatform host;
    return run_whole_program(host, std::move(args), typed);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every file the run left in the current directory, by name.
std::map<std::string, std::string> files_here() {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(fs::current_path())) {
        if (e.is_regular_file())
            files[e.path().filename().string()] = read_file(e.path());
    }
    return files;
}

TEST(SimProfiles, EachRunsEndToEnd) {
    struct Case {
        const char* profile;
        std::vector<const char*> lines;   // in the console output
        std::vector<const char*> absent;  // files that must not be written
        std::size_t files;                // files written in all
    } cases[] = {
        {"default",
         {"Drive: 0(USB)\n", "Size    : 953869 MB [1000.2 GB]\n",
          "Controller: TK5021 (from firmware)\n", "Bank03: ", "Bit Per Cell  : 3(TLC)\n"},
         {"torvik_usb_cap16.bin"},
         14},
        {"unsupported",
         {"Controller: TK5019 (from firmware)\nFlashID: "},
         {kHealthLog, "torvik_pssd_sysinfo.bin", "torvik_pssd_nvme_id.bin"},
         5},
        {"no-tunnel",
         {"IOCtl: ASM Id/Smart failed 0x45d!\nIOCtl: ASM Id/Smart failed 0x45d!\n"},
         {"torvik_pssd_nvme_id.bin", "torvik_pssd_nvme_smart.bin"},
         12},
        {"large", {"Size    : 3815447 MB [4000.8 GB]\n"}, {}, 15},
        {"failing-pages", {"IOCtl: failed 0x1f!\nIOCtl: ReadInfo failed 0x1f!\n"}, {}, 14},
    };
    ASSERT_EQ(sim_profiles().size(), std::size(cases));
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string option = std::string("--sim=") + c.profile;
        const ProgramRun r = run_program_with({option.c_str(), "0y"});
        EXPECT_EQ(r.status, kExitOk) << c.profile;
        for (const char* line : c.lines)
            EXPECT_TRUE(contains(r.out, line)) << c.profile << line;
        for (const char* name : c.absent)
            EXPECT_FALSE(dir.exists(name)) << c.profile << name;
        const auto files = files_here();
        EXPECT_EQ(files.size(), c.files) << c.profile;
        for (const CommandInfo& command : kCommands) {
            const auto it = files.find(command.dump_name);
            if (it != files.end()) {
                EXPECT_EQ(it->second.size(), command.length) << command.dump_name;
            }
        }
    }
}

TEST(SimProfiles, ListAndUnknownProfile) {
    ScratchDir dir;
    ProgramRun r = run_program_with({"--sim=list"});
    EXPECT_EQ(r.status, kExitOk);
    for (const SimProfile& p : sim_profiles())
        EXPECT_TRUE(contains(r.out, p.name));
    r = run_program_with({"--sim=huge", "0y"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(contains(r.err, "unknown simulated drive 'huge'"));
    EXPECT_TRUE(contains(r.err, "failing-pages"));
    EXPECT_TRUE(files_here().empty());
}

TEST(SimProfiles, FirstArgumentRulesStillHold) {
    struct Case {
        std::vector<const char*> args;
        std::string typed;
        const char* expect;
        bool closing_prompt;
    } cases[] = {
        {{"--sim", "y3"}, "", "Drive: 0(USB)\n", false},
        {{"--sim", "3y"}, "", "Drive interface is not USB, exit!", false},
        {{"--sim", "150"}, "", "Drive interface is not USB, exit!", true},
        {{"--sim", "0", "y"}, "", "Drive: 0(USB)\n", true},
        {{"--sim"}, "0y\n", " 0: TORVIK  PSSD T7         \nPlease select drive number:", false},
        {{"--replay", "."}, "0y\n", "Please select drive number:Drive: 0(USB)\n", false},
        {{"--replay", ".", "3y"}, "", "Drive interface is not USB, exit!", false},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const ProgramRun r = run_program_with(c.args, c.typed);
        EXPECT_TRUE(contains(r.out, c.expect)) << c.args.back() << r.out;
        EXPECT_EQ(contains(r.out, "Press any key"), c.closing_prompt) << c.args.back();
    }
}

TEST(Replay, ReproducesASimulatedRunByteForByte) {
    // Only runs without failed commands: a dump keeps the reply, not the failure or its code.
    for (const char* profile : {"default", "large", "unsupported"}) {
        ScratchDir recorded;
        const std::string option = std::string("--sim=") + profile;
        const ProgramRun first = run_program_with({option.c_str(), "0y"});
        const auto original = files_here();

        ScratchDir replayed;
        const std::string from = recorded.path().string();
        const ProgramRun second = run_program_with({"--replay", from.c_str(), "0y"});
        EXPECT_EQ(second.out, first.out) << profile;
        EXPECT_EQ(files_here(), original) << profile;
    }
}

TEST(Replay, DirectoryMayBeTheCurrentOne) {
    ScratchDir dir;
    const ProgramRun first = run_program_with({"--sim", "0y"});
    const auto original = files_here();
    const ProgramRun second = run_program_with({"--replay", ".", "0y"});
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(files_here(), original);
}

TEST(Replay, MissingFilesFailTheirCommandsWithError2) {
    ScratchDir dir;
    run_program_with({"--sim", "0y"});
    fs::remove("torvik_usb_fid.bin");
    fs::remove("torvik_pssd_smart.bin");
    fs::remove("torvik_pssd_nvme_id.bin");
    const ProgramRun r = run_program_with({"--replay", ".", "0y"});
    EXPECT_TRUE(contains(r.out, "IOCtl: failed 0x2!\nIOCtl: ReadFID failed 0x2!\n"));
    EXPECT_TRUE(contains(r.out, "IOCtl: failed 0x2!\nIOCtl: ReadInfo failed 0x2!\n"));
    EXPECT_TRUE(contains(r.out, "IOCtl: ASM Id/Smart failed 0x2!\n"));
    EXPECT_FALSE(contains(r.out, "FlashID:"));
    // The failed reads are still dumped, as zeros; the failed bridge read is not.
    EXPECT_EQ(read_file("torvik_usb_fid.bin"), std::string(512, '\0'));
    EXPECT_EQ(read_file("torvik_pssd_smart.bin"), std::string(512, '\0'));
    EXPECT_FALSE(dir.exists("torvik_pssd_nvme_id.bin"));
    EXPECT_TRUE(dir.exists("torvik_pssd_nvme_smart.bin"));
}

TEST(Replay, LongerFilesAreCutShorterOnesPaddedWithZeros) {
    ScratchDir dir;
    run_program_with({"--sim", "0y"});
    {
        std::ofstream inq("torvik_usb_inq.bin", std::ios::binary | std::ios::app);
        inq << std::string(1000, 'Z');  // 1056 bytes: only 56 are sent
        std::ofstream info("torvik_usb_info.bin", std::ios::binary | std::ios::trunc);
        info << "short";  // the controller id at 382 is then zero
    }
    const ProgramRun r = run_program_with({"--replay", ".", "0y"});
    EXPECT_TRUE(contains(r.out, "Model   : TORVIK  PSSD T7         \n"));
    EXPECT_EQ(read_file("torvik_usb_inq.bin").size(), 56u);
    EXPECT_TRUE(contains(r.out, "Controller: TK0000 (from firmware)\n"));
    EXPECT_FALSE(contains(r.out, "failed"));
    const std::string info = read_file("torvik_usb_info.bin");
    EXPECT_EQ(info, std::string("short") + std::string(523, '\0'));
}

TEST(Replay, BadDirectoryIsAClearErrorAndWritesNothing) {
    ScratchDir dir;
    for (const char* where : {"no_such_dir", kReport}) {
        if (std::string(where) == kReport)
            std::ofstream(kReport) << "a file, not a directory";
        const ProgramRun r = run_program_with({"--replay", where, "0y"});
        EXPECT_EQ(r.status, kExitUsage) << where;
        EXPECT_TRUE(contains(r.err, where)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(files_here().size(), 1u);  // only the file this test made
}

// Only a regular file answers a command. A named pipe under a dump name would block the open
// until something writes to it, a directory cannot be read: both count as missing.
TEST(Replay, WhatIsNotARegularFileIsMissing) {
    ScratchDir dir;
    run_program_with({"--sim", "0y"});
    fs::remove("torvik_usb_fid.bin");
    fs::create_directory("torvik_usb_fid.bin");
    fs::remove("torvik_usb_info.bin");
    const bool pipe = std::system("mkfifo torvik_usb_info.bin 2>/dev/null") == 0 &&
                      fs::status("torvik_usb_info.bin").type() == fs::file_type::fifo;
    const ProgramRun r = run_program_with({"--replay", ".", "0y"});
    // The directory stays, so its dump cannot be written.
    EXPECT_EQ(r.status, kExitFilesIncomplete);
    EXPECT_TRUE(contains(r.out, "IOCtl: failed 0x2!\nIOCtl: ReadFID failed 0x2!\n")) << r.out;
    if (!pipe)
        GTEST_SKIP() << "no mkfifo here: the named pipe was not tried";
    EXPECT_TRUE(contains(r.out, "IOCtl: failed 0x2!\nIOCtl: ReadInfo failed 0x2!\n")) << r.out;
}

TEST(Extensions, HelpAndVersion) {
    ScratchDir dir;
    ProgramRun r = run_program_with({"--help"});
    EXPECT_EQ(r.status, kExitOk);
    for (const char* part : {"--sim", "--replay", "--decode", "--json", "--version", kReport,
                             kHealthLog, "/sys/block", "Exit status"}) {
        EXPECT_TRUE(contains(r.out, part)) << part;
    }
    r = run_program_with({"--version"});
    EXPECT_TRUE(contains(r.out, "0.2a"));
    r = run_program_with({"--bogus"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(contains(r.err, "--bogus"));
    EXPECT_TRUE(files_here().empty());
}

}  // namespace
}  // namespace torvik::testing
