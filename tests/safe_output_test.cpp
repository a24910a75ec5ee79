// Output files: whatever is planted under an output name is replaced, never opened or followed;
// a file that cannot be written leaves the previous one whole, no temporary behind, its message,
// one line on standard error and exit status 5; an interrupted run cleans up and restores the
// terminal. At a terminal, a forced tunnel for an unlisted bridge waits for a typed yes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/outputs.h"
#include "app/program.h"
#include "app/program_version.h"
#include "platform/host_platform.h"
#include "platform/interrupt.h"
#include "platform/linux_platform.h"
#include "platform/output_file.h"
#include "platform/output_folder.h"
#include "report/drive_report.h"
#include "report/health_log.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"
#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"
#include "tests/support/simulated_run.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKept = "somebody else's file\n";
constexpr const char* kPrevious = "the previous run's file\n";

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The current folder's real output store, without flushing to the disk (many runs are made).
std::unique_ptr<FileStore> current_folder() {
    std::string error;
    return open_output_folder("", error, OutputFolderOptions{false});
}

OutputFolderOpener real_folders() {
    return [](const std::string& dir, std::string& error) {
        return open_output_folder(dir, error, OutputFolderOptions{false});
    };
}

// A child that ends by SIGQUIT leaves no core file among the outputs.
void no_core_files() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

// Every output file of a run whose drive answers every command and that asks for every output
// with a file (the file of each row of the outputs table, then every command's dump), with the
// console line that a failure to create it, to write it, and to rename it into place prints. The
// report file and the health log have a line only for the first: their other failures go to
// standard error alone.
struct OutputName {
    std::string name;
    std::string create_message;
    std::string write_message;
    std::string rename_message;
};

std::vector<OutputName> output_names() {
    std::vector<std::string> files;
    for (const OutputRow& row : output_rows()) {
        if (row.file != nullptr)
            files.emplace_back(row.file);
    }
    for (const CommandInfo& command : kCommands)
        files.emplace_back(command.dump_name);
    std::vector<OutputName> names;
    for (const std::string& name : files) {
        if (name == kReportFileName)
            names.push_back({name, "Create log file error\n", "", ""});
        else if (name == kHealthLogFileName)
            names.push_back({name, "Create Smart Log File Error\n", "", ""});
        else
            names.push_back({name, name + ": Create File Error\n", name + ": Write File Error\n",
                             name + ": Create File Error\n"});
    }
    return names;
}

struct RunResult {
    int status = 0;
    std::string out;
    std::string err;
};

// Every output with a file on the 4 TB simulated drive, which answers all thirteen commands.
RunResult run_large(Platform& host, FileStore& files) {
    CheckedSimDrive drive;
    load_profile(drive, find_sim_profile("large")->make());
    Capture out;
    Capture err;
    std::FILE* in = input_from("");
    RunResult result;
    result.status = run_on_simulated_drive(drive, host, files, Console{out.file(), err.file(), in},
                                           "0y", SimulatedRun{.every_file = true});
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
    old_file,      // a previous file with the mode below, which the new one replaces
};

struct Hazard {
    const char* label;
    Planted planted;
    std::size_t space = 0;
    mode_t mode = 0;
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
    {"a previous file kept private", Planted::old_file, 0, 0600},
    {"a previous file open to all", Planted::old_file, 0, 0666},
};

TEST(SafeOutputFiles, EveryOutputNameAgainstEveryHazard) {
    // A clean run on each host gives every file's content, and the console, to compare with (the
    // OS line differs between the two).
    struct Clean {
        RunResult run;
        std::map<std::string, std::string> files;
    };
    // files nullptr: the real store of the scratch folder.
    const auto clean_run_on = [](Platform& host, FileStore* files) {
        ScratchDir dir;
        const std::unique_ptr<FileStore> real = current_folder();
        Clean clean{run_large(host, files != nullptr ? *files : *real),
                    directory_files(dir.path())};
        EXPECT_EQ(clean.run.status, kExitOk) << clean.run.err;
        EXPECT_EQ(clean.files.size(), output_names().size() + 1);  // and the run's manifest
        return clean;
    };
    // The Linux host's runs all take place at the fake platform's time, as the JSON and the
    // manifest record it.
    ::setenv("SOURCE_DATE_EPOCH", std::to_string(kFakeRunTime).c_str(), 1);
    LinuxPlatform linux_host;
    FakePlatform clean_fake;
    const mode_t umask_now = ::umask(022);
    ::umask(umask_now);
    const Clean linux_clean = clean_run_on(linux_host, nullptr);
    const Clean fake_clean = clean_run_on(clean_fake, &clean_fake);

    for (const OutputName& file : output_names()) {
        for (const Hazard& hazard : kHazards) {
            SCOPED_TRACE(file.name + " / " + hazard.label);
            ScratchDir dir;
            const fs::path outside =
                fs::temp_directory_path() / ("kept_" + dir.path().filename().string());
            FakePlatform fake_host;
            const bool injected =
                hazard.planted > Planted::directory && hazard.planted < Planted::old_file;
            Platform& host = injected ? static_cast<Platform&>(fake_host) : linux_host;
            const std::unique_ptr<FileStore> real_files = current_folder();
            FileStore& files = injected ? static_cast<FileStore&>(fake_host) : *real_files;
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
                case Planted::old_file:
                    write_text(file.name, kPrevious);
                    fs::permissions(file.name, static_cast<fs::perms>(hazard.mode));
                    break;
            }
            if (error != 0 && hazard.planted != Planted::directory) {
                write_text(file.name, kPrevious);  // a failed run keeps it whole
                expected[file.name] = kPrevious;
            }

            const RunResult result = run_large(host, files);

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
                // The closing line names the JSON and the HTML report when they were written.
                std::string wrote = clean.run.err;
                for (const std::string& cut : {", " + file.name, file.name + ", "}) {
                    if (const std::size_t at = wrote.find(cut); at != std::string::npos)
                        wrote.erase(at, cut.size());
                }
                EXPECT_EQ(result.err, "torvik_usb_pssd_flash_id: cannot write " + file.name + ": " +
                                          std::strerror(error) + "\n" + wrote);
            }
            // The JSON and then the HTML list what became of each file written before them; they
            // are compared only when all of those went well.
            std::map<std::string, std::string> seen = directory_files(dir.path());
            for (const std::string later : {kHtmlReportFileName, kJsonReportFileName}) {
                if (error == 0 || file.name == later)
                    break;
                EXPECT_NE(seen[later], clean.files.at(later)) << later;
                seen.erase(later);
                expected.erase(later);
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
            if (hazard.planted == Planted::old_file) {
                // The replaced file's bits, never more open than a new file's.
                const mode_t new_file = 0644 & ~umask_now;
                EXPECT_EQ(static_cast<mode_t>(fs::status(file.name).permissions()),
                          hazard.mode & new_file);
            }
            if (hazard.planted == Planted::symlink) {
                std::ifstream in(outside, std::ios::binary);
                EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kKept);
                fs::remove(outside);
            }
        }
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
}

// The temporary is made in the store's folder, beside the final name, not in the current one.
TEST(SafeOutputFiles, TemporaryLiesBesideTheFinalName) {
    ScratchDir dir;
    fs::create_directory("sub");
    std::string error;
    const std::unique_ptr<FileStore> store = open_output_folder("sub", error);
    ASSERT_NE(store, nullptr) << error;
    OutputFile file(*store, "report.txt", FileKind::text);
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

// ---- The output folder -------------------------------------------------------------------------

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    return names;
}

// --output-dir is opened once, never through a link as its last part however the path is spelt,
// and only the folders the path names are made. A refusal is one line on standard error with
// status 1, before the drive is touched.
TEST(OutputFolder, HostilePathsAreRefusedBeforeTheDrive) {
    const struct Case {
        const char* dir;
        const char* refusal;  // nullptr: the run writes into written_to
        const char* written_to;
    } cases[] = {
        {"link", "is a symbolic link", nullptr},
        {"link/", "is a symbolic link", nullptr},
        {"link/.", "is a symbolic link", nullptr},
        {"link//", "is a symbolic link", nullptr},
        {"plain", "exists and is not a directory", nullptr},
        {"plain/sub", "cannot be", nullptr},
        {"link/sub", nullptr, "target/sub"},  // a link before the last part is followed
        {"a/../b", nullptr, "b"},
        {"new/deeper/", nullptr, "new/deeper"},
        {"target/./", nullptr, "target"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        ScratchDir dir;
        fs::create_directory("target");
        fs::create_directory_symlink("target", "link");
        write_text("plain", kKept);
        FakePlatform host;
        host.drives[0] = FakeDrive{};
        const ProgramRun r = run_whole_program(host, {"--sim", "--output-dir", c.dir, "0y"});
        if (c.refusal != nullptr) {
            EXPECT_EQ(r.status, kExitUsage);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_TRUE(contains(r.err, std::string("--output-dir ") + c.dir + ": " + c.refusal))
                << r.err;
            EXPECT_TRUE(names_in("target").empty());
        } else {
            EXPECT_EQ(r.status, kExitOk) << r.err;
            EXPECT_TRUE(fs::is_regular_file(fs::path(c.written_to) / kReportFileName));
        }
        EXPECT_FALSE(fs::exists("a"));
        EXPECT_EQ(read_file("plain"), kKept);
    }
}

// A second run into the same folder waits for the first one's lock, then gives up with a message
// and status 1, having sent the drive nothing.
TEST(OutputFolder, ASecondRunWaitsForTheFolderLockThenStops) {
    ScratchDir dir;
    const std::unique_ptr<FileStore> first = current_folder();
    ASSERT_TRUE(first->lock_folder(0));
    FakePlatform host;
    CheckedSimDrive drive;
    load_profile(drive, find_sim_profile("default")->make());
    const auto run = [&] {
        const std::unique_ptr<FileStore> second = current_folder();
        SimPlatform platform(host, drive);
        Capture out;
        Capture err;
        std::FILE* in = input_from("");
        RunContext ctx{.platform = platform, .files = *second, .out = out.file(), .in = in};
        ctx.err = err.file();
        ctx.lock_wait_ms = 200;
        RunResult result{examine_drive(ctx, "0y"), out.text(), err.text()};
        std::fclose(in);
        return result;
    };
    const RunResult refused = run();
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_TRUE(contains(refused.err, "another run is still writing into the current folder"))
        << refused.err;
    EXPECT_TRUE(drive.requests().empty());
    EXPECT_TRUE(names_in(dir.path()).empty());
    first->unlock_folder();
    EXPECT_EQ(run().status, kExitOk);
    EXPECT_TRUE(dir.exists(kReportFileName));
}

// A printed product (help, version, the lists) that does not reach its destination is a failed
// run: said on standard error, status 1.
TEST(PrintedOutput, AFailedWriteIsAFailedRun) {
    const std::vector<std::vector<const char*>> products = {
        {"--help"}, {"--version"},        {"--sim=list"},
        {"--list"}, {"--list", "--json"}, {"--sim", "--list", "--json"},
    };
    for (const std::vector<const char*>& args : products) {
        SCOPED_TRACE(args.back());
        FakePlatform host;
        host.drives[0] = FakeDrive{};
        std::vector<const char*> argv = {"torvik_usb_pssd_flash_id"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        Capture err;
        std::FILE* in = input_from("");
        const int status = run_program(static_cast<int>(argv.size()), argv.data(), host,
                                       fake_folders(host), Console{full, err.file(), in});
        std::fclose(in);
        std::fclose(full);
        EXPECT_EQ(status, kExitUsage);
        EXPECT_TRUE(contains(err.text(),
                             std::string("writing the output failed: ") + std::strerror(ENOSPC)))
            << err.text();
    }
}

// ---- The process's edges ------------------------------------------------------------------------

// What a run meets in the process around it before it starts.
enum class Edge {
    none,
    stdin_closed,
    stdout_closed,
    stdout_and_stderr_closed,
    stdout_pipe_closed,  // the reader of the console has gone (| head -1)
    file_size_limit,     // ulimit -f 8
};

struct ProcessCase {
    const char* label;
    Edge edge;
    std::vector<const char*> args;
    int status;
    bool all_files;  // every output file of the run is in place
};

// Runs the tool as main() would, in a child process that meets the edge first.
int run_in_child(const ProcessCase& c) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int err = ::open("stderr.log", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(err, 2);
        int pipe_ends[2];
        switch (c.edge) {
            case Edge::none:
                break;
            case Edge::stdin_closed:
                ::close(0);
                break;
            case Edge::stdout_closed:
                ::close(1);
                break;
            case Edge::stdout_and_stderr_closed:
                ::close(1);
                ::close(2);
                break;
            case Edge::stdout_pipe_closed:
                if (::pipe(pipe_ends) != 0)
                    ::_exit(98);
                ::dup2(pipe_ends[1], 1);
                ::close(pipe_ends[0]);
                ::close(pipe_ends[1]);
                break;
            case Edge::file_size_limit: {
                const rlimit limit{8192, 8192};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                break;
            }
        }
        ::close(err);
        bool out_closed = false;
        if (!open_missing_standard_streams(&out_closed))
            ::_exit(97);
        install_interrupt_cleanup();
        LinuxPlatform host;
        std::vector<const char*> argv = {"torvik_usb_pssd_flash_id"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const int status = run_program(static_cast<int>(argv.size()), argv.data(), host,
                                       real_folders(), Console{stdout, stderr, stdin, out_closed});
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -status;
    return WEXITSTATUS(status);
}

TEST(ProcessEdges, ClosedStreamsClosedPipesAndTheFileSizeLimit) {
    // Every output with a file.
    std::vector<const char*> sim = {"--sim=large", "0y"};
    for (const OutputRow& row : output_rows()) {
        if (row.option != nullptr && row.file != nullptr)
            sim.push_back(row.option);
    }
    const ProcessCase cases[] = {
        {"nothing", Edge::none, sim, kExitOk, true},
        {"standard input closed", Edge::stdin_closed, {"--sim"}, kExitBadDrive, false},
        {"standard output closed", Edge::stdout_closed, sim, kExitOk, true},
        // The document would go to the null device that stands in for it.
        {"standard output closed, --json=-",
         Edge::stdout_closed,
         {"--sim", "0y", "--json=-"},
         kExitUsage,
         false},
        // The folder and the report would take descriptors 1 and 2: the notes of standard error
        // would land in the report.
        {"standard output and error closed",
         Edge::stdout_and_stderr_closed,
         {"--sim=unsupported", "0y"},
         kExitOk,
         false},
        {"console pipe closed", Edge::stdout_pipe_closed, sim, kExitOk, true},
        {"list into a closed pipe", Edge::stdout_pipe_closed, {"--sim=list"}, kExitUsage, false},
        {"file size limit", Edge::file_size_limit, sim, kExitFilesIncomplete, false},
    };
    for (const ProcessCase& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchDir dir;
        EXPECT_EQ(run_in_child(c), c.status) << read_file("stderr.log");
        std::map<std::string, std::string> files = directory_files(dir.path());
        files.erase("stderr.log");
        for (const auto& [name, content] : files)
            EXPECT_FALSE(name.ends_with(".tmp")) << name;
        if (c.all_files) {
            EXPECT_EQ(files.size(), output_names().size() + 1);  // and the run's manifest
        }
        if (c.status == kExitUsage) {
            EXPECT_TRUE(files.empty()) << files.begin()->first;  // refused before the drive
        }
        // The report holds the report alone: never a console line or a note of standard error.
        if (files.count(kReportFileName) != 0) {
            const std::string& report = files[kReportFileName];
            EXPECT_TRUE(report.starts_with(std::string("v") + kProgramVersion + "\n")) << report;
            EXPECT_FALSE(contains(report, "torvik_usb_pssd_flash_id:")) << report;
        }
    }
}

// ---- At a terminal, and interruptions -----------------------------------------------------------

bool line_mode_and_echo(int master) {
    termios mode{};
    return ::tcgetattr(master, &mode) == 0 && (mode.c_lflag & ICANON) != 0 &&
           (mode.c_lflag & ECHO) != 0;
}

// A new pseudo-terminal, in line mode with echo: the test holds one end, the whole program runs
// on the other.
struct Terminal {
    int master = -1;
    int slave = -1;
    Terminal() { ::openpty(&master, &slave, nullptr, nullptr, nullptr); }
    ~Terminal() {
        for (const int fd : {master, slave}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Starts the program in a child whose session and standard streams are the terminal's.
    pid_t run(std::vector<const char*> args) {
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(master);
            ::login_tty(slave);
            install_interrupt_cleanup();
            LinuxPlatform host;
            args.insert(args.begin(), "torvik_usb_pssd_flash_id");
            ::_exit(run_program(static_cast<int>(args.size()), args.data(), host, real_folders(),
                                Console{stdout, stderr, stdin}));
        }
        // The child's copy alone is left: its end is the end of what the terminal shows.
        ::close(slave);
        slave = -1;
        return child;
    }

    // What the terminal shows until text appears, or until the child ends when text is empty.
    // It waits for the output however long it takes: the test's time-out ends a hang.
    std::string read_until(const std::string& text = "") const {
        std::string seen;
        while (text.empty() || seen.find(text) == std::string::npos) {
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                seen.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                break;  // EIO: the child has closed the terminal
        }
        return seen;
    }

    // Waits until the child takes the terminal out of line mode; false when it ends first.
    bool wait_for_key_mode(pid_t child) const {
        while (line_mode_and_echo(master)) {
            siginfo_t ended{};
            if (::waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) !=
                    0 ||
                ended.si_pid != 0)
                return false;
            ::usleep(1000);
        }
        return true;
    }
};

TEST(Interrupt, CtrlCAtTheClosingPromptRestoresTheTerminal) {
    ScratchDir dir;
    Terminal terminal;
    // The master shows the mode of the child's terminal.
    ASSERT_TRUE(line_mode_and_echo(terminal.master));
    const pid_t child = terminal.run({"--sim", "0"});
    ASSERT_GT(child, 0);
    const std::string prompt = "Space to open full text report";
    ASSERT_TRUE(contains(terminal.read_until(prompt), prompt));
    // The prompt switches to reading keys one at a time, without echo.
    ASSERT_TRUE(terminal.wait_for_key_mode(child));
    const char ctrl_c = 0x03;
    ASSERT_EQ(::write(terminal.master, &ctrl_c, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(line_mode_and_echo(terminal.master));
    EXPECT_TRUE(dir.exists(kReportFileName));
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

// A bridge the table does not list is sent a forced tunnel's reads only when the user types the
// word yes at the terminal; any other answer, or none, ends the run before anything is written.
// The question names the risk on standard error, so --brief shows it too; a listed SATA bridge is
// refused before any question.
TEST(BridgeAtATerminal, OnlyTheWordYesConfirmsAForcedTunnel) {
    const std::string prompt =
        "USB bridge f0e1:0d0c is not in the bridge table. Send it the NVMe reads of the e4 tunnel? "
        "A bridge of another kind may read this as a different command, for a SATA bridge as a "
        "reset of its disk. Type yes to go on: ";
    const std::vector<const char*> forced = {"--sim=bridge-unknown", "--bridge=e4:f0e1:0d0c", "0y"};
    const std::vector<const char*> brief = {"--sim=bridge-unknown", "--bridge=e4:f0e1:0d0c",
                                            "--brief", "0"};
    const struct {
        std::vector<const char*> args;
        const char* typed;  // nullptr: no question is asked
        int status;
        const char* shown;
    } cases[] = {
        {forced, "yes\n", kExitOk, ""},
        {forced, "y\n", kExitUsage, "--bridge for USB bridge f0e1:0d0c not confirmed"},
        {forced, "yes please\n", kExitUsage, "--bridge for USB bridge f0e1:0d0c not confirmed"},
        {forced, "Yes\n", kExitUsage, "--bridge for USB bridge f0e1:0d0c not confirmed"},
        {forced, "no\n", kExitUsage, "--bridge for USB bridge f0e1:0d0c not confirmed"},
        {forced, "\x04", kExitUsage, "--bridge for USB bridge f0e1:0d0c not confirmed"},
        {brief, "yes\n", kExitOk, "Health: "},
        {{"--sim=sata-bridge", "--bridge=a1:152d:0578", "0y"},
         nullptr,
         kExitUsage,
         "USB bridge 152d:0578 is a SATA bridge"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed != nullptr ? c.typed : c.args.front());
        ScratchDir dir;
        Terminal terminal;
        ASSERT_GE(terminal.master, 0);
        const pid_t child = terminal.run(c.args);
        ASSERT_GT(child, 0);
        if (c.typed != nullptr) {
            ASSERT_TRUE(contains(terminal.read_until(prompt), prompt));
            const auto length = static_cast<ssize_t>(std::strlen(c.typed));
            ASSERT_EQ(::write(terminal.master, c.typed, static_cast<std::size_t>(length)), length);
        }
        const std::string shown = terminal.read_until();
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << shown;
        EXPECT_TRUE(contains(shown, c.shown)) << shown;
        EXPECT_FALSE(c.typed == nullptr && contains(shown, "Type yes")) << shown;
        // The NVMe reads went through the forced tunnel, or nothing was read or written at all.
        const bool ran = c.status != kExitUsage;
        EXPECT_EQ(dir.exists("torvik_pssd_nvme_smart.bin"), ran);
        EXPECT_EQ(dir.exists(kReportFileName), ran);
    }
}

TEST(Interrupt, SignalsWhileFilesAreOpenLeaveNoTemporaryAndThePreviousFile) {
    for (const int signal :
         {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF}) {
        SCOPED_TRACE(signal);
        ScratchDir dir;
        write_text("report.txt", kPrevious);
        const pid_t child = ::fork();
        if (child == 0) {
            no_core_files();
            install_interrupt_cleanup();
            const std::unique_ptr<FileStore> host = current_folder();
            OutputFile report(*host, "report.txt", FileKind::text);
            OutputFile dump(*host, "dump.bin", FileKind::binary);
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

// An interruption at each point where the run changes a file, into a folder that holds an
// earlier complete run: afterwards no temporary is left and every file is whole, either the
// earlier run's or the new one's.
TEST(Interrupt, AtEveryWritePointEachFileIsTheOldOrTheNewOne) {
    ScratchDir dir;
    const auto run_into = [](const char* folder, const char* profile,
                             const std::function<void(const char*)>& on_change) {
        std::string error;
        const std::unique_ptr<FileStore> real =
            open_output_folder(folder, error, OutputFolderOptions{false});
        ForwardingFileStore files(*real);
        files.on_change = on_change;
        FakePlatform host;
        SimDrive drive;
        load_profile(drive, find_sim_profile(profile)->make());
        std::FILE* out = std::fopen("/dev/null", "w");
        std::FILE* in = input_from("");
        run_on_simulated_drive(drive, host, files, Console{out, out, in}, "0y",
                               SimulatedRun{.every_file = true, .source = profile});
        std::fclose(in);
        std::fclose(out);
    };
    run_into("old", "default", nullptr);
    int points = 0;
    run_into("new", "worn-out", [&](const char*) { ++points; });
    const std::map<std::string, std::string> old_files = directory_files("old");
    const std::map<std::string, std::string> new_files = directory_files("new");
    ASSERT_GT(points, 4 * static_cast<int>(new_files.size()) - 1);

    constexpr int kSignalsSent[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
    for (int point = 0; point < points; ++point) {
        SCOPED_TRACE(point);
        fs::remove_all("run");
        fs::copy("old", "run");
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            no_core_files();
            install_interrupt_cleanup();
            int calls = 0;
            run_into("run", "worn-out", [&](const char*) {
                if (calls++ == point)
                    ::raise(kSignalsSent[point % 4]);
            });
            ::_exit(99);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == kSignalsSent[point % 4]) << status;
        for (const auto& [name, content] : directory_files("run")) {
            const bool is_old = old_files.count(name) != 0 && old_files.at(name) == content;
            const bool is_new = new_files.count(name) != 0 && new_files.at(name) == content;
            EXPECT_TRUE(is_old || is_new) << name;
        }
    }
}

}  // namespace
}  // namespace torvik::testing
