// Output files: whatever is planted under an output name is replaced, never opened or followed;
// a file that cannot be written leaves the previous one whole, no temporary behind, its message,
// one line on standard error and exit status 5; an interrupted run cleans up and restores the
// terminal.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/program.h"
#include "platform/interrupt.h"
#include "platform/linux_platform.h"
#include "platform/output_file.h"
#include "report/health_log.h"
#include "report/json_report.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"
#include "sim/profiles.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKept = "somebody else's file\n";
constexpr const char* kPrevious = "the previous run's file\n";

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Every output file of a run whose drive answers every command, with the console line that a
// failure to create it, to write it, and to rename it into place prints. The report file and the
// health log have a line only for the first: their other failures go to standard error alone.
struct OutputName {
    std::string name;
    std::string create_message;
    std::string write_message;
    std::string rename_message;
};

std::vector<OutputName> output_names() {
    std::vector<OutputName> names = {
        {kReportFileName, "Create log file error\n", "", ""},
        {kHealthLogFileName, "Create Smart Log File Error\n", "", ""},
    };
    std::vector<std::string> others = {kJsonReportFileName};
    for (const CommandInfo& command : kCommands)
        others.push_back(command.dump_name);
    for (const std::string& name : others)
        names.push_back({name, name + ": Create File Error\n", name + ": Write File Error\n",
                         name + ": Create File Error\n"});
    return names;
}

struct RunResult {
    int status = 0;
    std::string out;
    std::string err;
};

// --json on the 4 TB simulated drive, which answers all thirteen commands.
RunResult run_large(Platform& host) {
    CheckedSimDrive drive;
    load_profile(drive, find_sim_profile("large")->make());
    Capture out;
    Capture err;
    std::FILE* in = input_from("");
    RunResult result;
    result.status = run_on_simulated_drive(drive, host, Console{out.file(), err.file(), in}, "0y",
                                           SimulatedRun{true});
    std::fclose(in);
    result.out = out.text();
    result.err = err.text();
    return result;
}

std::map<std::string, std::string> directory_files(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        std::string content = "<not a regular file>";
        if (entry.is_regular_file() && !entry.is_symlink()) {
            std::ifstream in(entry.path(), std::ios::binary);
            content.assign(std::istreambuf_iterator<char>(in), {});
        }
        files[name] = content;
    }
    return files;
}

// What is under the output name before the run.
enum class Planted {
    symlink,    // to a file outside the run's files
    hard_link,  // to another name's file
    fifo,
    directory,
    no_space,      // injected: writes fail after `space` bytes
    read_only,     // injected: the directory refuses new files
    close_fails,   // injected: the close reports a delayed write error
    rename_fails,  // injected
};

struct Hazard {
    const char* label;
    Planted planted;
    std::size_t space = 0;
};

constexpr Hazard kHazards[] = {
    {"symlink", Planted::symlink},
    {"hard link", Planted::hard_link},
    {"FIFO", Planted::fifo},
    {"directory", Planted::directory},
    {"no space at once", Planted::no_space, 0},
    {"no space after 1 byte", Planted::no_space, 1},
    {"no space after 100 bytes", Planted::no_space, 100},
    {"no space after 4096 bytes", Planted::no_space, 4096},
    {"no space after 6000 bytes", Planted::no_space, 6000},
    {"read-only directory", Planted::read_only},
    {"close fails", Planted::close_fails},
    {"rename fails", Planted::rename_fails},
};

TEST(SafeOutputFiles, EveryOutputNameAgainstEveryHazard) {
    // A clean run on each host gives every file's content, and the console, to compare with (the
    // OS line differs between the two).
    struct Clean {
        RunResult run;
        std::map<std::string, std::string> files;
    };
    const auto clean_run_on = [](Platform& host) {
        ScratchDir dir;
        Clean clean{run_large(host), directory_files(dir.path())};
        EXPECT_EQ(clean.run.status, kExitOk) << clean.run.err;
        EXPECT_EQ(clean.files.size(), output_names().size() + 1);  // and the run's manifest
        return clean;
    };
    // The Linux host's runs all take place at the fake platform's time, as the JSON and the
    // manifest record it.
    ::setenv("SOURCE_DATE_EPOCH", std::to_string(kFakeRunTime).c_str(), 1);
    LinuxPlatform linux_host;
    FakePlatform clean_fake;
    const Clean linux_clean = clean_run_on(linux_host);
    const Clean fake_clean = clean_run_on(clean_fake);

    for (const OutputName& file : output_names()) {
        for (const Hazard& hazard : kHazards) {
            SCOPED_TRACE(file.name + " / " + hazard.label);
            ScratchDir dir;
            const fs::path outside =
                fs::temp_directory_path() / ("kept_" + dir.path().filename().string());
            FakePlatform fake_host;
            const bool injected = hazard.planted > Planted::directory;
            Platform& host = injected ? static_cast<Platform&>(fake_host) : linux_host;
            const Clean& clean = injected ? fake_clean : linux_clean;
            std::map<std::string, std::string> expected = clean.files;
            // What the run must say, and which error it must give, when the file is not written.
            std::string message;
            int error = 0;
            switch (hazard.planted) {
                case Planted::symlink:
                    write_text(outside, kKept);
                    fs::create_symlink(outside, file.name);
                    break;
                case Planted::hard_link:
                    write_text("other", kKept);
                    fs::create_hard_link("other", file.name);
                    expected["other"] = kKept;
                    break;
                case Planted::fifo:
                    ASSERT_EQ(::mkfifo(file.name.c_str(), 0644), 0);
                    break;
                case Planted::directory:
                    fs::create_directory(file.name);
                    expected[file.name] = "<not a regular file>";
                    message = file.create_message;
                    error = EISDIR;
                    break;
                case Planted::no_space:
                    fake_host.file_faults[file.name].space = hazard.space;
                    if (clean.files.at(file.name).size() > hazard.space) {
                        message = file.write_message;
                        error = ENOSPC;
                    }
                    break;
                case Planted::read_only:
                    fake_host.file_faults[file.name].create_error = EACCES;
                    message = file.create_message;
                    error = EACCES;
                    break;
                case Planted::close_fails:
                    fake_host.file_faults[file.name].close_error = EIO;
                    message = file.write_message;
                    error = EIO;
                    break;
                case Planted::rename_fails:
                    fake_host.file_faults[file.name].replace_error = EXDEV;
                    message = file.rename_message;
                    error = EXDEV;
                    break;
            }
            if (error != 0 && hazard.planted != Planted::directory) {
                write_text(file.name, kPrevious);  // a failed run keeps it whole
                expected[file.name] = kPrevious;
            }

            const RunResult result = run_large(host);

            if (error == 0) {
                EXPECT_EQ(result.status, kExitOk);
                EXPECT_EQ(result.out, clean.run.out);
                EXPECT_EQ(result.err, clean.run.err);  // the line naming the JSON report
            } else {
                EXPECT_EQ(result.status, kExitFilesIncomplete);
                std::string out = result.out;
                if (!message.empty()) {
                    const std::size_t at = out.find(message);
                    ASSERT_NE(at, std::string::npos) << out;
                    out.erase(at, message.size());
                }
                EXPECT_EQ(out, clean.run.out);
                const std::string wrote = file.name == kJsonReportFileName ? "" : clean.run.err;
                EXPECT_EQ(result.err, "torvik_usb_pssd_flash_id: cannot write " + file.name + ": " +
                                          std::strerror(error) + "\n" + wrote);
            }
            // The JSON lists what became of each file; it is compared only when all went well.
            std::map<std::string, std::string> seen = directory_files(dir.path());
            if (error != 0 && file.name != kJsonReportFileName) {
                EXPECT_NE(seen[kJsonReportFileName], clean.files.at(kJsonReportFileName));
                seen.erase(kJsonReportFileName);
                expected.erase(kJsonReportFileName);
            }
            // The manifest records which dumps were written, so it too differs after a failure.
            if (error != 0) {
                seen.erase(kManifestFileName);
                expected.erase(kManifestFileName);
            }
            // No temporary left behind, nothing else touched.
            for (const auto& [name, content] : seen) {
                EXPECT_TRUE(expected.count(name) != 0) << "unexpected " << name;
                EXPECT_TRUE(expected.count(name) == 0 || expected[name] == content) << name;
            }
            EXPECT_EQ(seen.size(), expected.size());
            if (hazard.planted == Planted::symlink) {
                std::ifstream in(outside, std::ios::binary);
                EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kKept);
                fs::remove(outside);
            }
        }
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
}

// An output name may carry a directory: the temporary is made beside the final name, not in the
// current directory.
TEST(SafeOutputFiles, TemporaryLiesBesideTheFinalName) {
    ScratchDir dir;
    fs::create_directory("sub");
    LinuxPlatform platform;
    OutputFile file(platform, "sub/report.txt", FileKind::text);
    ASSERT_TRUE(file.created());
    file.print("text\n");
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator("sub"))
        names.push_back(entry.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(names[0].starts_with("report.txt.")) << names[0];
    EXPECT_EQ(file.commit().outcome, FileOutcome::written);
    EXPECT_EQ(dir.read("sub/report.txt"), "text\n");
    const fs::perms loose = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec |
                            fs::perms::group_write | fs::perms::others_write;
    EXPECT_EQ(fs::status("sub/report.txt").permissions() & loose, fs::perms::none);
}

// ---- Interruptions -----------------------------------------------------------------------------

// Reads from the terminal until text appears (or 20 s pass).
bool wait_for_output(int master, const std::string& text) {
    std::string seen;
    for (int i = 0; i < 2000 && seen.find(text) == std::string::npos; ++i) {
        char buffer[4096];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            seen.append(buffer, static_cast<std::size_t>(n));
        else
            ::usleep(10000);
    }
    return seen.find(text) != std::string::npos;
}

bool line_mode_and_echo(int master) {
    termios mode{};
    return ::tcgetattr(master, &mode) == 0 && (mode.c_lflag & ICANON) != 0 &&
           (mode.c_lflag & ECHO) != 0;
}

TEST(Interrupt, CtrlCAtTheClosingPromptRestoresTheTerminal) {
    ScratchDir dir;
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        install_interrupt_cleanup();
        LinuxPlatform host;
        const char* argv[] = {"torvik_usb_pssd_flash_id", "--sim", "0"};
        run_program(3, argv, host, Console{stdout, stderr, stdin});
        ::_exit(99);
    }
    ASSERT_GT(child, 0);
    // The master shows the mode of the child's terminal.
    ASSERT_TRUE(line_mode_and_echo(master));
    ASSERT_TRUE(wait_for_output(master, "Space to open full text report"));
    // The prompt switches to reading keys one at a time, without echo.
    for (int i = 0; i < 500 && line_mode_and_echo(master); ++i)
        ::usleep(10000);
    EXPECT_FALSE(line_mode_and_echo(master));
    const char ctrl_c = 0x03;
    ASSERT_EQ(::write(master, &ctrl_c, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(line_mode_and_echo(master));
    ::close(master);
    EXPECT_TRUE(dir.exists(kReportFileName));
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(Interrupt, SignalsWhileFilesAreOpenLeaveNoTemporaryAndThePreviousFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ScratchDir dir;
        write_text("report.txt", kPrevious);
        const pid_t child = ::fork();
        if (child == 0) {
            install_interrupt_cleanup();
            LinuxPlatform host;
            OutputFile report(host, "report.txt", FileKind::text);
            OutputFile dump(host, "dump.bin", FileKind::binary);
            report.print("half a report");
            dump.write("abc", 3);
            ::raise(signal);
            ::_exit(99);  // not reached: the signal ends the process
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(directory_files(dir.path()),
                  (std::map<std::string, std::string>{{"report.txt", kPrevious}}));
    }
}

}  // namespace
}  // namespace torvik::testing
