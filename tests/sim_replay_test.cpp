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

#include "app/exit_status.h"
#include "app/program.h"
#include "common/printable_text.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"
#include "sim/profiles.h"
#include "sim/sim_drive.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"
#include "tests/support/simulated_run.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReport = "torvik_usb_pssd_flash_id.txt";
constexpr const char* kHealthLog = "torvik_pssd_flash_id_smart.txt";
constexpr const char* kJson = "torvik_usb_pssd_flash_id.json";

ProgramRun run_program_with(std::vector<const char*> args, const std::string& typed = "") {
    FakePlatform host;
    return run_whole_program(host, std::move(args), typed);
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
         15},
        {"unsupported",
         {"Controller: TK5019 (from firmware)\nFlashID: "},
         {kHealthLog, "torvik_pssd_sysinfo.bin", "torvik_pssd_nvme_id.bin"},
         6},
        {"no-tunnel",
         {"IOCtl: ASM Id/Smart failed 0x45d!\nIOCtl: ASM Id/Smart failed 0x45d!\n"},
         {"torvik_pssd_nvme_id.bin", "torvik_pssd_nvme_smart.bin"},
         13},
        {"large", {"Size    : 3815447 MB [4000.8 GB]\n"}, {}, 16},
        {"failing-pages", {"IOCtl: failed 0x1f!\nIOCtl: ReadInfo failed 0x1f!\n"}, {}, 15},
        {"hot", {"Model   : TORVIK  PSSD SIM HOT    \n"}, {}, 15},
        {"media-errors", {"Rev/sn  : 1.03/SIM00102\n"}, {}, 15},
        {"spare-low", {"Rev/sn  : 1.03/SIM00103\n"}, {}, 15},
        {"worn-out", {"Rev/sn  : 1.03/SIM00104\n"}, {}, 15},
        {"vendor-life", {"IOCtl: ReadInfo failed 0x1f!\n"}, {"torvik_pssd_nvme_smart.bin"}, 13},
        // The plain run reads the NVMe pages through the bridge's own tunnel; an unlisted bridge
        // gets 0xE6 and ends with CHECK CONDITION, so the identify is not kept; a SATA bridge is
        // sent no tunnel at all.
        {"bridge-e4", {"Rev/sn  : 1.03/SIM00106\n"}, {}, 15},
        {"bridge-a1", {"Rev/sn  : 1.03/SIM00107\n"}, {}, 15},
        {"bridge-unknown", {"Rev/sn  : 1.03/SIM00108\n"}, {"torvik_pssd_nvme_id.bin"}, 14},
        {"sata-bridge",
         {"Rev/sn  : 1.03/SIM00109\n"},
         {"torvik_pssd_nvme_id.bin", "torvik_pssd_nvme_smart.bin"},
         13},
        {"ageing", {"Rev/sn  : 1.03/SIM00120\n"}, {}, 15},
        {"counterfeit", {"Size    : 1907729 MB [2000.4 GB]\n", "Flash CE      : 2\n"}, {}, 15},
        {"mixed-flash", {"Bank02: 0x9b,0xc6,"}, {}, 15},
        {"slc-mode", {"Bit Per Cell  : 1(SLC)\n"}, {}, 15},
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
        {{"--sim"}, "0y\n", " 0: TORVIK  PSSD SIM 1TB    \nPlease select drive number:", false},
        {{"--replay", "."}, "0y\n", "Please select drive number:Drive: 0(USB)\n", false},
        {{"--replay", ".", "3y"}, "", "Drive interface is not USB, exit!", false},
        // --health: the verdict's block comes before the closing prompt.
        {{"--health", "--sim", "0"},
         "",
         "READ CAPACITY]\n\nPress any key to exit or Space to open full text report\n",
         true},
        {{"--health", "--sim", "150"},
         "",
         "exit!\nHealth: UNKNOWN\nSummary: the drive was not examined\n  unknown The drive was not "
         "examined: there is no such drive [the run]\n\nPress any key",
         true},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const ProgramRun r = run_program_with(c.args, c.typed);
        EXPECT_TRUE(contains(r.out, c.expect)) << c.args.back() << r.out;
        EXPECT_EQ(contains(r.out, "Press any key"), c.closing_prompt) << c.args.back();
    }
}

// The console from the Drive line on.
std::string from_drive_line(const std::string& out) {
    const std::size_t at = out.find("Drive: ");
    return at == std::string::npos ? std::string() : out.substr(at);
}

// Every file of the current directory but the manifest, which names the run it belongs to.
std::map<std::string, std::string> outputs_here() {
    std::map<std::string, std::string> files = files_here();
    files.erase(kManifestFileName);
    return files;
}

// A folder of recorded runs, replayed, gives the last run back byte for byte: its console from
// the Drive line on, its report, health log and dumps, failures and their codes included, and
// nothing of the files an earlier run on another drive left in the folder.
TEST(Replay, ReproducesTheLastRunOfAFolderExactly) {
    std::vector<std::vector<std::string>> folders;  // the profiles run in one folder, in order
    for (const SimProfile& profile : sim_profiles())
        folders.push_back({profile.name});
    folders.push_back({"large", "no-tunnel"});
    folders.push_back({"default", "unsupported"});
    for (const std::vector<std::string>& runs : folders) {
        const std::string last = "--sim=" + runs.back();
        SCOPED_TRACE(last + " after " + std::to_string(runs.size() - 1) + " other run(s)");
        ScratchDir alone;
        const ProgramRun expected = run_program_with({last.c_str(), "0y"});
        const auto expected_files = outputs_here();

        ScratchDir recorded;
        for (const std::string& profile : runs) {
            const std::string option = "--sim=" + profile;
            run_program_with({option.c_str(), "0y"});
        }
        ScratchDir replayed;
        const std::string from = recorded.path().string();
        const ProgramRun replay = run_program_with({"--replay", from.c_str(), "0y"});
        EXPECT_EQ(replay.status, kExitOk);
        EXPECT_EQ(replay.err, expected.err);
        EXPECT_EQ(from_drive_line(replay.out), from_drive_line(expected.out));
        EXPECT_EQ(outputs_here(), expected_files);
    }
}

// With a manifest, a dump that is not the one the run wrote is named on standard error and
// counts as missing; a manifest that is not one stops the replay before anything is written.
// A drive whose NVMe Identify came back all zeros keeps no dump of it; the manifest's "zeros"
// lets the replay answer with those zeros rather than fail the command.
TEST(Replay, AllZeroReplyWithoutADumpReplaysAsZeros) {
    CheckedSimDrive drive;
    load_profile(drive, find_sim_profile("default")->make());
    drive.set_page(CommandId::nvme_identify, std::vector<std::uint8_t>(4096, 0));
    ScratchDir recorded;
    Capture out;
    Capture err;
    std::FILE* in = input_from("");
    FakePlatform host;
    EXPECT_EQ(run_on_simulated_drive(drive, host, host, Console{out.file(), err.file(), in}, "0y"),
              kExitOk);
    std::fclose(in);
    ASSERT_FALSE(recorded.exists("torvik_pssd_nvme_id.bin"));
    ASSERT_TRUE(contains(read_text_file(kManifestFileName), " zeros\n"));
    const auto expected_files = outputs_here();

    ScratchDir replayed;
    const std::string from = recorded.path().string();
    const ProgramRun replay = run_program_with({"--replay", from.c_str(), "0y"});
    EXPECT_EQ(replay.status, kExitOk);
    EXPECT_EQ(replay.err, err.text());
    EXPECT_EQ(from_drive_line(replay.out), from_drive_line(out.text()));
    EXPECT_EQ(outputs_here(), expected_files);
}

TEST(Replay, ManifestCatchesChangedDumpsAndIsItselfChecked) {
    struct Case {
        const char* what;
        const char* file;
        std::string append;    // added to the file
        const char* out_line;  // in the console, "" for a usage error
        const char* err_part;
        const char* page = nullptr;  // the manifest line that append replaces
        bool removed = false;        // the file removed instead
    } cases[] = {
        {"a dump removed", "torvik_usb_fid.bin", "", "IOCtl: ReadFID failed 0x2!\n",
         "torvik_usb_fid.bin' is missing, though the manifest records it", nullptr, true},
        {"a byte more", "torvik_usb_fid.bin", "X", "IOCtl: ReadFID failed 0x2!\n",
         "torvik_usb_fid.bin' does not match"},
        {"a byte changed", "torvik_pssd_smart.bin", "", "IOCtl: ReadInfo failed 0x2!\n",
         "torvik_pssd_smart.bin' does not match"},
        {"a manifest line it does not know", kManifestFileName, "bogus data=1\n", "",
         "line 16: unknown page name"},
        // Replayed within the reply's own length: memory stays bounded whatever a line claims.
        {"a length of 4 GB", kManifestFileName, "fid data=4294967295 zeros\n",
         "IOCtl: ReadFID failed 0x2!\n", "line 6: 4294967295 bytes, more than the 512 bytes fid",
         "fid"},
        {"a dump of 4 GB", kManifestFileName, "fid data=512 dump=4294967295 crc32=00000000\n",
         "IOCtl: ReadFID failed 0x2!\n", "line 6: 4294967295 bytes", "fid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        run_program_with({"--sim", "0y"});
        std::string bytes = read_file(c.file);
        if (c.removed) {
            fs::remove(c.file);
        } else if (c.page != nullptr) {
            const std::size_t at = bytes.find("\n" + std::string(c.page) + " ") + 1;
            bytes.replace(at, bytes.find('\n', at) + 1 - at, c.append);
        } else if (c.append.empty()) {
            bytes[100] = static_cast<char>(bytes[100] ^ 1);
        }
        if (!c.removed) {
            std::ofstream(c.file, std::ios::binary | std::ios::trunc)
                << bytes << (c.page != nullptr ? "" : c.append);
        }

        ScratchDir replayed;
        const std::string from = dir.path().string();
        const ProgramRun r = run_program_with({"--replay", from.c_str(), "0y"});
        EXPECT_TRUE(contains(r.err, c.err_part)) << r.err;
        if (*c.out_line == '\0') {
            EXPECT_EQ(r.status, kExitUsage);
            EXPECT_TRUE(files_here().empty());
        } else {
            EXPECT_TRUE(contains(r.out, c.out_line)) << r.out;
        }
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

TEST(Replay, WithoutAManifestLongerFilesAreCutShorterOnesPaddedWithZeros) {
    ScratchDir dir;
    run_program_with({"--sim", "0y"});
    fs::remove(kManifestFileName);  // a folder put together by hand
    {
        std::ofstream inq("torvik_usb_inq.bin", std::ios::binary | std::ios::app);
        inq << std::string(1000, 'Z');  // 1056 bytes: only 56 are sent
        std::ofstream info("torvik_usb_info.bin", std::ios::binary | std::ios::trunc);
        info << "short";  // the controller id at 382 is then zero
    }
    const ProgramRun r = run_program_with({"--replay", ".", "0y"});
    EXPECT_TRUE(contains(r.out, "Model   : TORVIK  PSSD SIM 1TB    \n"));
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

// Only a regular file inside the folder answers a command; anything else planted under a dump
// name counts as missing, with a note on standard error: a symbolic link is never followed (here
// to a file outside the folder), a named pipe never waited on, a directory never read. A hard link
// is a regular file like any other, so it is read.
TEST(Replay, OnlyRegularFilesAnswer) {
    enum class Planted { symlink, fifo, directory, hard_link };
    const struct {
        Planted planted;
        const char* what;
        bool used;
    } cases[] = {
        {Planted::symlink, "symbolic link", false},
        {Planted::fifo, "named pipe", false},
        {Planted::directory, "directory", false},
        {Planted::hard_link, "hard link", true},
    };
    const std::string marker = "OUTSIDE THE FOLDER!!!!!!";  // 24 bytes: the whole model text
    std::string skipped;                                    // the cases this host cannot set up
    for (const auto& c : cases) {
        ScratchDir top;
        fs::create_directory("dumps");
        fs::current_path("dumps");
        run_program_with({"--sim", "0y"});
        fs::remove(kManifestFileName);  // a folder put together by hand
        fs::current_path(top.path());
        std::string inquiry = read_file("dumps/torvik_usb_inq.bin");
        inquiry.replace(8, marker.size(), marker);
        std::ofstream("outside.bin", std::ios::binary) << inquiry;

        const fs::path planted = "dumps/torvik_usb_inq.bin";
        fs::remove(planted);
        std::error_code ec;
        switch (c.planted) {
            case Planted::symlink:
                fs::create_symlink(top.path() / "outside.bin", planted, ec);
                break;
            case Planted::fifo:
                if (std::system("mkfifo dumps/torvik_usb_inq.bin 2>/dev/null") != 0)
                    ec = std::make_error_code(std::errc::not_supported);
                break;
            case Planted::directory:
                fs::create_directory(planted, ec);
                break;
            case Planted::hard_link:
                fs::create_hard_link("outside.bin", planted, ec);
                break;
        }
        if (ec) {
            skipped += std::string(" no ") + c.what + " here (" + ec.message() + ");";
            continue;
        }

        fs::create_directory("out");
        fs::current_path("out");
        const ProgramRun r = run_program_with({"--json", "--replay", "../dumps", "0y"});
        std::string written = r.out + r.err;
        for (const auto& [name, content] : files_here())
            written += content;
        EXPECT_EQ(r.status, kExitOk) << c.what;
        EXPECT_EQ(contains(r.out, "Model   : " + marker + "\n"), c.used) << c.what << r.out;
        EXPECT_EQ(contains(written, marker), c.used) << c.what;
        EXPECT_EQ(contains(r.out, "IOCtl: Inquiry failed 0x2!\n"), !c.used) << c.what << r.out;
        EXPECT_EQ(contains(r.err, "torvik_usb_inq.bin' is not a regular file"), !c.used)
            << c.what << r.err;
        EXPECT_TRUE(contains(r.out, "Controller: ")) << c.what << ": the other dumps still answer";
    }
    if (!skipped.empty())
        GTEST_SKIP() << "checked all but:" << skipped;
}

// The bytes of a string literal, NULs included.
template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// Drive texts from the drive (here an INQUIRY dump) reach the listing at the prompt, the console
// and the report with every control byte shown as '?'; the JSON keeps the drive's own bytes.
TEST(DriveText, ControlBytesPrintAsQuestionMarks) {
    struct Case {
        std::string fields;  // INQUIRY bytes 8-43: vendor (8), product (16), revision, serial
        std::string model;   // the texts as printed
        std::string rev_sn;
        std::string listed;  // the listing's vendor and product
    } cases[] = {
        {bytes("TORVIK  PSSD SIM 1TB    0001SIM00042"), "TORVIK  PSSD SIM 1TB    ", "0001/SIM00042",
         "TORVIK  PSSD SIM 1TB    "},
        // Retitle the terminal (OSC), reset it (ESC c), clear it with an 8-bit CSI, DEL.
        {bytes("\x1b]0;pwned\x07              \x1b"
               "c00\x9b"
               "2J\x7f"
               "ABCD"),
         "?]0;pwned?              ", "?c00/?2J?ABCD", "?]0;pwned?              "},
        // Tab and line ends, the C1 edges; Latin-1 and UTF-8 bytes above them print as they are.
        {bytes("A\tB\rC\nD \x80\x9f\xa0\xc3\xa9~          \x7f\x7f\x7f\x7f\x01\x1f ~    "),
         "A?B?C?D ??\xa0\xc3\xa9~          ",
         "???"
         "?/?? ~    ",
         "A?B?C?D ??\xa0\xc3\xa9~          "},
        // A field ends at its first NUL: the model at the vendor's, the listing's product
        // separately at its own.
        {bytes("AB\0\x1bXXXX\x1b[31mRED        \0\x1b\x1b\x1bS\0\x07     "), "AB", "/S",
         "AB?[31mRED        "},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.fields.size(), 36u) << c.model;
        ScratchDir dir;
        run_program_with({"--sim", "0y"});
        fs::remove(kManifestFileName);  // a folder put together by hand
        std::string inquiry = read_file("torvik_usb_inq.bin");
        inquiry.replace(8, 36, c.fields);
        std::ofstream("torvik_usb_inq.bin", std::ios::binary | std::ios::trunc) << inquiry;

        const ProgramRun r = run_program_with({"--json", "--replay", "."}, "0y\n");
        const std::string report = dir.read_text(kReport);
        const std::string lines = "Model   : " + c.model + "\nRev/sn  : " + c.rev_sn + "\n";
        EXPECT_TRUE(contains(r.out, " 0: " + c.listed + "\n")) << r.out;
        EXPECT_TRUE(contains(r.out, lines)) << r.out;
        EXPECT_TRUE(contains(report, lines)) << report;
        for (const std::string& printed : {r.out, report}) {
            for (const char ch : printed) {
                EXPECT_TRUE(ch == '\n' || printable_char(ch) == ch)
                    << "control byte " << int(static_cast<unsigned char>(ch)) << " printed";
            }
        }
        if (c.fields[0] == '\x1b') {
            EXPECT_TRUE(contains(read_file(kJson), "\\u001b]0;pwned\\u0007")) << "JSON keeps it";
        }
    }
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
