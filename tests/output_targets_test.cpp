// The files a run writes outside its output folder (--metrics, --history) and on standard output
// (--json=-), and the run's time: what they are pointed at is never destroyed, a hostile target
// is refused before the drive is touched, a failed write is a failed run, and concurrent runs
// record a run once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/outputs.h"
#include "app/program.h"
#include "app/run_start.h"
#include "platform/history_file.h"
#include "platform/host_platform.h"
#include "platform/interrupt.h"
#include "platform/linux_platform.h"
#include "platform/output_folder.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKept = "somebody else's file\n";

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::size_t lines_in(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

OutputFolderOpener real_folders() {
    return [](const std::string& dir, std::string& error) {
        return open_output_folder(dir, error, OutputFolderOptions{false});
    };
}

// The whole program on the real output folders, the drives the fake host's.
ProgramRun run_real(FakePlatform& host, std::vector<const char*> args) {
    args.insert(args.begin(), "torvik_usb_pssd_flash_id");
    Capture out;
    Capture err;
    std::FILE* in = input_from("");
    ProgramRun run;
    run.status = run_program(static_cast<int>(args.size()), args.data(), host, real_folders(),
                             Console{out.file(), err.file(), in});
    std::fclose(in);
    run.out = out.text();
    run.err = err.text();
    return run;
}

// A folder recorded by a run of the default simulated drive, for --replay.
void record(const char* dir) {
    FakePlatform host;
    ASSERT_EQ(run_whole_program(host, {"--sim", "0y", "--output-dir", dir}).status, kExitOk);
}

void make_socket(const char* name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", name);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

// Runs body in a child process with the file-size limit at limit bytes; its exit status.
int in_child_with_size_limit(rlim_t limit, const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit size{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &size);
        install_interrupt_cleanup();  // a write past the limit fails instead of killing
        const int status = body();
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Every --metrics and --history target that is no plain file of the user's or cannot be had, and
// an output folder that holds no data: each refused with status 1 and one line on standard error,
// before the drive is opened or the output folder made; what stood there is left as it was.
TEST(OutputTargets, HostileTargetsAreRefusedBeforeTheDrive) {
    struct Case {
        std::string label;
        std::function<void()> setup;
        std::vector<std::string> args;  // besides --output-dir o 0y
        std::string refusal;
        const char* kept;  // a path that must be as it was, or nullptr
    };
    std::vector<Case> cases = {
        {"a device node",
         [] { ASSERT_EQ(::mknod("node", S_IFCHR | 0666, makedev(1, 7)), 0); },
         {"--metrics", "node"},
         "--metrics node: it is a device, not a regular file",
         "node"},
        {"a device node as history",
         [] { ASSERT_EQ(::mknod("node", S_IFCHR | 0666, makedev(1, 7)), 0); },
         {"--history", "node"},
         "--history node: it is a device, not a regular file",
         "node"},
        {"a FIFO",
         [] { ASSERT_EQ(::mkfifo("fifo", 0644), 0); },
         {"--metrics", "fifo"},
         "--metrics fifo: it is a FIFO, not a regular file",
         "fifo"},
        {"a socket",
         [] { make_socket("sock"); },
         {"--history", "sock"},
         "--history sock: it is a socket, not a regular file",
         "sock"},
        {"a symbolic link",
         [] {
             write_text("target", kKept);
             fs::create_symlink("target", "link");
         },
         {"--metrics", "link"},
         "--metrics link: it is a symbolic link; name the file it points to",
         "link"},
        {"a symbolic link as history",
         [] {
             write_text("target", kKept);
             fs::create_symlink("target", "link");
         },
         {"--history", "link"},
         "--history link: it is a symbolic link; name the file it points to",
         "link"},
        {"a directory",
         [] { fs::create_directory("dir"); },
         {"--metrics", "dir"},
         "--metrics dir: it is a directory",
         nullptr},
        {"a file of the kernel's",
         [] {},
         {"--history", "/proc/self/status"},
         "--history /proc/self/status: it is on the kernel's proc file system",
         nullptr},
        {"a file of the kernel's not there yet",
         [] {},
         {"--metrics", "/proc/torvik-none.prom"},
         "--metrics /proc/torvik-none.prom: it is on the kernel's proc file system",
         nullptr},
        {"a file of the kernel's not there yet as history",
         [] {},
         {"--history", "/proc/self/torvik-none.jsonl"},
         "--history /proc/self/torvik-none.jsonl: it is on the kernel's proc file system",
         nullptr},
        {"the history as the metrics",
         [] { write_text("same.txt", kKept); },
         {"--history", "same.txt", "--metrics", "./same.txt"},
         "--history same.txt and --metrics ./same.txt name the same file",
         "same.txt"},
        {"the run's own manifest, by another way",
         [] {},
         {"--history", "o/../o/./torvik_pssd_manifest.txt"},
         "it is the run's own torvik_pssd_manifest.txt in its output folder",
         nullptr},
        {"a dump of the replayed folder",
         [] { record("rec"); },
         {"--replay", "rec", "--history", "rec/torvik_usb_inq.bin"},
         "it is torvik_usb_inq.bin of the --replay folder",
         "rec/torvik_usb_inq.bin"},
        {"a hard link to the replayed manifest",
         [] {
             record("rec");
             fs::create_hard_link("rec/torvik_pssd_manifest.txt", "m.prom");
         },
         {"--replay", "rec", "--metrics", "m.prom"},
         "it is torvik_pssd_manifest.txt of the --replay folder",
         "rec/torvik_pssd_manifest.txt"},
        // Named like a temporary of another output: the clean-up of killed runs' leftovers would
        // take it.
        {"a history named as a temporary of the metrics",
         [] { write_text("h.0a1b2c3d.tmp", kKept); },
         {"--metrics", "h", "--history", "h.0a1b2c3d.tmp"},
         "--history h.0a1b2c3d.tmp: it is named as a temporary of --metrics h, which a run "
         "removes",
         "h.0a1b2c3d.tmp"},
        {"a history named as a temporary of a dump",
         [] {
             fs::create_directory("o");
             write_text("o/torvik_usb_inq.bin.0a1b2c3d.tmp", kKept);
         },
         {"--history", "o/torvik_usb_inq.bin.0a1b2c3d.tmp"},
         "it is named as a temporary of the run's own torvik_usb_inq.bin",
         "o/torvik_usb_inq.bin.0a1b2c3d.tmp"},
        // Where a folder the run makes goes, or would go.
        {"the output folder not made yet",
         [] {},
         {"--metrics", "o"},
         "--metrics o: the run's output folder o is made there",
         nullptr},
        {"a folder above the history's",
         [] {},
         {"--history", "m/h.jsonl", "--metrics", "m"},
         "--metrics m: the folder of --history m/h.jsonl is made there",
         nullptr},
        {"a folder of the metrics that is a link",
         [] {
             fs::create_directory("real");
             fs::create_directory_symlink("real", "lk");
         },
         {"--metrics", "lk/m.prom"},
         "--metrics lk/m.prom: its folder lk is a symbolic link",
         "lk"},
        {"a folder of the history that cannot be made",
         [] { write_text("f", kKept); },
         {"--history", "f/sub/h.jsonl"},
         "--history f/sub/h.jsonl: its folder f/sub cannot be made",
         "f"},
        {"a metrics name too long for its temporary",
         [] {},
         {"--metrics", std::string(243, 'm')},
         "its name is longer than 242 bytes",
         nullptr},
        {"an output folder of the kernel's",
         [] {},
         {"--output-dir", "/sys/kernel"},
         "--output-dir /sys/kernel: it is on the kernel's sysfs file system",
         nullptr},
    };
    // The file of every row of the outputs table, whether or not the run asks for it, and a name
    // of its temporaries' form.
    for (const OutputRow& row : output_rows()) {
        if (row.file == nullptr)
            continue;
        cases.push_back(
            {std::string("the run's own ") + row.file,
             [] {},
             {cases.size() % 2 == 0 ? "--metrics" : "--history", std::string("o/") + row.file},
             std::string("it is the run's own ") + row.file + " in its output folder",
             nullptr});
        cases.push_back({std::string("a temporary of the run's own ") + row.file,
                         [] {},
                         {cases.size() % 2 == 0 ? "--metrics" : "--history",
                          std::string("o/") + row.file + ".00000000.tmp"},
                         std::string("it is named as a temporary of the run's own ") + row.file,
                         nullptr});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchDir dir;
        c.setup();
        const bool had_output_folder = fs::exists("o");
        std::string before;
        fs::file_status kept_status;
        if (c.kept != nullptr) {
            kept_status = fs::symlink_status(c.kept);
            if (fs::is_regular_file(kept_status))
                before = read_file(c.kept);
        }
        FakePlatform host;
        host.drives[0] = FakeDrive{};
        std::vector<const char*> args = {"--output-dir", "o", "0y"};
        for (const std::string& arg : c.args)
            args.push_back(arg.c_str());
        const ProgramRun r = run_real(host, args);
        EXPECT_EQ(r.status, kExitUsage);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(lines_in(r.err), 1u) << r.err;
        EXPECT_TRUE(contains(r.err, c.refusal)) << r.err;
        EXPECT_TRUE(host.calls.empty());
        EXPECT_EQ(fs::exists("o"), had_output_folder);
        if (c.kept != nullptr) {
            EXPECT_EQ(fs::symlink_status(c.kept).type(), kept_status.type());
            if (fs::is_regular_file(kept_status)) {
                EXPECT_EQ(read_file(c.kept), before);
            }
        }
        if (fs::exists("target")) {
            EXPECT_EQ(read_file("target"), kKept);
        }
    }
}

// One range for every time: 1970-01-01 to 9999-12-31. A history line outside it is a damaged
// line, a manifest's run time outside it leaves the replay without a time, a SOURCE_DATE_EPOCH
// that is not a decimal integer inside it stops the run before the drive.
TEST(OutputTargets, TimesOutsideTheRangeAreRefused) {
    for (const char* time : {"-9223372036854775807", "-1", "253402300800", "9223372036854775807"}) {
        SCOPED_TRACE(time);
        ScratchDir dir;
        FakePlatform host;
        write_text("h.jsonl", std::string("{\"time_seconds\":") + time +
                                  ",\"serial\":\"SIM00000000000001\",\"percentage_used\":1}\n");
        const ProgramRun r = run_whole_program(
            host, {"--sim", "0y", "--history", "h.jsonl", "--json", "--output-dir", "o"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_TRUE(contains(r.err, "--history h.jsonl: line 1 is damaged; skipped")) << r.err;
        EXPECT_TRUE(contains(r.err, "--history h.jsonl: 1 run;")) << r.err;
        EXPECT_TRUE(contains(read_file("o/torvik_usb_pssd_flash_id.json"), "\"elapsed_days\": 0"));
    }
    {
        SCOPED_TRACE("a manifest's run time before 1970");
        ScratchDir dir;
        record("rec");
        std::string manifest = read_file("rec/torvik_pssd_manifest.txt");
        const std::size_t at = manifest.find("run_time ");
        ASSERT_NE(at, std::string::npos);
        manifest.replace(at + 9, 20, "1969-12-31T23:59:59Z");
        write_text("rec/torvik_pssd_manifest.txt", manifest);
        FakePlatform host;
        const ProgramRun r = run_whole_program(
            host, {"--replay", "rec", "0y", "--history", "h.jsonl", "--output-dir", "o"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_TRUE(contains(r.err,
                             "torvik_pssd_manifest.txt' line 2: run_time "
                             "1969-12-31T23:59:59Z is before 1970-01-01; the run replays "
                             "with an unknown time"))
            << r.err;
        EXPECT_TRUE(contains(r.err, "the run has no recorded time")) << r.err;
        EXPECT_FALSE(fs::exists("h.jsonl"));
    }
    const char* const previous = std::getenv("SOURCE_DATE_EPOCH");
    const std::string kept = previous != nullptr ? previous : "";
    const struct {
        const char* value;
        int status;
    } epochs[] = {
        {"-1", kExitUsage},
        {"abc", kExitUsage},
        {"1e9", kExitUsage},
        {" 123", kExitUsage},
        {"123 ", kExitUsage},
        {"+5", kExitUsage},
        {"253402300800", kExitUsage},
        {"9223372036854775808", kExitUsage},
        {"0", kExitOk},
        {"253402300799", kExitOk},
        {"", kExitOk},
    };
    for (const auto& e : epochs) {
        SCOPED_TRACE(std::string("SOURCE_DATE_EPOCH '") + e.value + "'");
        ScratchDir dir;
        ::setenv("SOURCE_DATE_EPOCH", e.value, 1);
        FakePlatform host;
        host.drives[0] = FakeDrive{};
        const ProgramRun r = run_whole_program(host, {"--sim", "0y", "--output-dir", "o"});
        EXPECT_EQ(r.status, e.status) << r.err;
        EXPECT_EQ(fs::exists("o"), e.status == kExitOk);
        if (e.status == kExitUsage) {
            EXPECT_EQ(r.err, std::string("torvik_usb_pssd_flash_id: SOURCE_DATE_EPOCH '") +
                                 e.value +
                                 "': not a decimal integer of seconds from 0 (1970-01-01) to "
                                 "253402300799 (9999-12-31T23:59:59Z)\n");
        }
        // What does not examine a drive does not read it.
        EXPECT_EQ(run_whole_program(host, {"--list"}).status, kExitOk);
    }
    if (previous != nullptr)
        ::setenv("SOURCE_DATE_EPOCH", kept.c_str(), 1);
    else
        ::unsetenv("SOURCE_DATE_EPOCH");
}

// An append cut short by the file-size limit leaves the file as it was: no half line for later
// runs to call damaged.
TEST(OutputTargets, AShortAppendIsUndone) {
    ScratchDir dir;
    const std::string before = std::string(7999, '0') + "\n";
    write_text("h.jsonl", before);
    const std::string line =
        "{\"time_seconds\":1,\"serial\":\"A\"," + std::string(300, ' ') + "}\n";
    const int status = in_child_with_size_limit(8192, [&] {
        std::string message;
        const bool appended = append_history_line("h.jsonl", line, message);
        return !appended && message == std::strerror(EFBIG) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file("h.jsonl"), before);
    // Under the limit the same append goes through whole.
    std::string message;
    EXPECT_TRUE(append_history_line("h.jsonl", line, message)) << message;
    EXPECT_EQ(read_file("h.jsonl"), before + line);
}

// Twenty processes replay one folder into one history at once: the run is recorded once. Each
// round with a new history, so a round that raced gives its duplicate.
TEST(OutputTargets, ConcurrentReplaysRecordTheRunOnce) {
    ScratchDir dir;
    record("rec");
    constexpr int kProcesses = 20;
    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds; ++round) {
        const std::string history = "h" + std::to_string(round) + ".jsonl";
        std::vector<pid_t> children;
        std::fflush(nullptr);
        for (int i = 0; i < kProcesses; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
                LinuxPlatform host;
                const std::string out = "o" + std::to_string(round) + "_" + std::to_string(i);
                const char* argv[] = {"torvik_usb_pssd_flash_id",
                                      "--replay",
                                      "rec",
                                      "0y",
                                      "--history",
                                      history.c_str(),
                                      "--output-dir",
                                      out.c_str()};
                ::_exit(run_program(8, argv, host, real_folders(), Console{stdout, stderr, stdin}));
            }
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitOk) << status;
        }
        EXPECT_EQ(lines_in(read_file(history)), 1u) << read_file(history);
    }
}

// --json=- whose document does not all reach standard output (a file-size limit for a full disk,
// the full device) is a failed run: said on standard error, status 5; the files are complete.
TEST(OutputTargets, AFailedJsonOnStandardOutputIsAFailedRun) {
    ScratchDir dir;
    constexpr rlim_t kLimit = 64 * 1024;
    write_text("out.json", std::string(kLimit - 100, ' '));  // room for 100 bytes of the document
    const int status = in_child_with_size_limit(kLimit, [] {
        const int out = ::open("out.json", O_WRONLY | O_APPEND);
        const int err = ::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        LinuxPlatform host;
        const char* argv[] = {
            "torvik_usb_pssd_flash_id", "--json=-", "--sim", "0y", "--output-dir", "o"};
        return run_program(6, argv, host, real_folders(), Console{stdout, stderr, stdin});
    });
    EXPECT_EQ(status, kExitFilesIncomplete);
    EXPECT_TRUE(contains(read_file("err.txt"),
                         std::string("writing the output failed: ") + std::strerror(EFBIG)))
        << read_file("err.txt");
    EXPECT_FALSE(contains(read_file("err.txt"), "cannot write")) << read_file("err.txt");
    EXPECT_TRUE(fs::is_regular_file("o/torvik_usb_pssd_flash_id.json"));

    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    Capture err;
    std::FILE* in = input_from("");
    FakePlatform host;
    const char* argv[] = {
        "torvik_usb_pssd_flash_id", "--json=-", "--sim", "0y", "--output-dir", "p"};
    EXPECT_EQ(run_program(6, argv, host, fake_folders(host), Console{full, err.file(), in}),
              kExitFilesIncomplete);
    std::fclose(in);
    std::fclose(full);
    EXPECT_TRUE(
        contains(err.text(), std::string("writing the output failed: ") + std::strerror(ENOSPC)))
        << err.text();
}

// A run removes the temporaries that killed runs left under its own outputs' names (every file of
// the outputs table, asked for or not, and the dumps), in its output folder and beside the
// metrics file; anything else stays.
TEST(OutputTargets, KilledRunsTemporariesAreRemoved) {
    ScratchDir dir;
    fs::create_directories("o");
    fs::create_directories("mon");
    std::vector<std::string> leftovers = {"o/torvik_usb_inq.bin.ffffffff.tmp",
                                          "mon/t.prom.12345678.tmp"};
    for (const OutputRow& row : output_rows()) {
        if (row.file != nullptr)
            leftovers.push_back(std::string("o/") + row.file + ".0a1b2c3d.tmp");
    }
    const std::vector<std::string> others = {
        "o/notes.txt.0a1b2c3d.tmp", "o/torvik_usb_pssd_flash_id.txt.0A1B2C3D.tmp",
        "o/torvik_usb_pssd_flash_id.txt.0a1b2c.tmp", "mon/other.prom.12345678.tmp"};
    for (const std::string& name : leftovers)
        write_text(name, kKept);
    for (const std::string& name : others)
        write_text(name, kKept);
    fs::create_symlink("../target", "o/torvik_pssd_manifest.txt.00000000.tmp");
    FakePlatform host;
    const ProgramRun r =
        run_real(host, {"--sim", "0y", "--output-dir", "o", "--metrics", "mon/t.prom"});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    for (const std::string& name : leftovers)
        EXPECT_FALSE(fs::exists(name)) << name;
    for (const std::string& name : others)
        EXPECT_EQ(read_file(name), kKept) << name;
    EXPECT_TRUE(fs::is_symlink("o/torvik_pssd_manifest.txt.00000000.tmp"));
    EXPECT_TRUE(fs::is_regular_file("mon/t.prom"));
    // The files the options name are never among them, whichever way a folder is spelt.
    RunContext ctx{.platform = host, .files = host, .out = stdout, .in = stdin};
    ctx.history = "o/../o/h.jsonl.0a1b2c3d.tmp";
    ctx.metrics_file = "mon/t.prom";
    EXPECT_EQ(option_files_in(ctx, "o/"), std::vector<std::string>{"h.jsonl.0a1b2c3d.tmp"});
    EXPECT_EQ(option_files_in(ctx, "./mon"), std::vector<std::string>{"t.prom"});
    EXPECT_TRUE(option_files_in(ctx, "").empty());
}

}  // namespace
}  // namespace torvik::testing
