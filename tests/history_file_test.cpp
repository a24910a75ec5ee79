// The drive history file through the whole program: what is appended, what is refused, what a
// damaged file gives; the line of every simulated drive against the kept lines; the line format
// read back.
//
// After an intended change of the line, rewrite the kept lines and review the difference:
//   TORVIK_UPDATE_GOLDEN=1 ctest --test-dir build -R HistoryLine
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "app/examine_drive.h"
#include "common/utc_time.h"
#include "report/history_line.h"
#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The default drive's line as a run at `time` appends it.
std::string default_line(std::int64_t time) {
    ScratchDir dir;
    FakePlatform host;
    host.time = time;
    run_whole_program(host, {"--sim", "0y", "--history", "h.jsonl"});
    return read_file(dir.path() / "h.jsonl");
}

unsigned mode_of(const fs::path& path) {
    return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask);
}

TEST(HistoryFile, AppendsOnceAndSkipsDamagedLines) {
    const std::string earlier = default_line(kFakeRunTime - 40 * kSecondsPerDay);
    const std::string current = default_line(kFakeRunTime);
    const std::string later = default_line(kFakeRunTime + kSecondsPerDay);
    ASSERT_FALSE(earlier.empty());
    const std::string other_drive =
        R"({"time_seconds":1773000000,"serial":"ANOTHER-DRIVE","percentage_used":90})"
        "\n";
    const std::string long_line = "{\"serial\":\"" + std::string(5000, 'x') + "\"}\n";
    const std::string damaged = earlier + other_drive + "not a record\n" + long_line +
                                "{\"time_seconds\":-,\"serial\":\"A\"}\n[]\n{}\n\n" +
                                "{\"serial\":\"B\",\"time_seconds\":12}x\n" +
                                R"({"time_seconds":1773000000,"serial":"SIM)";  // torn
    // A line of the drive padded to `size` bytes before its line end: 4,095 are read, 4,096 not.
    const auto padded = [](std::string line, std::size_t size) {
        line.pop_back();
        line.insert(line.size() - 1,
                    ",\"pad\":\"" + std::string(size - line.size() - 9, 'x') + "\"");
        return line + "\n";
    };
    const std::string at_limit =
        padded(earlier, 4095) + padded(default_line(kFakeRunTime - 20 * kSecondsPerDay), 4096);

    struct Case {
        const char* name;
        std::function<void(const fs::path&)> setup;  // makes what FILE names
        int status;
        std::vector<std::string> notes;  // each on standard error
        std::string file;                // FILE afterwards
        unsigned mode;                   // 0: a new file's, rw-r--r-- less the umask
    };
    constexpr unsigned created = 0;
    const Case cases[] = {
        {"a missing file is created",
         [](const fs::path&) {},
         0,
         {"--history h.jsonl: 1 run; not enough history"},
         current,
         created},
        {"damaged lines are skipped and named, a torn line ended first",
         [&](const fs::path& f) {
             write(f, damaged);
             fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write);
         },
         0,
         {"line 3 is damaged", "line 4 is damaged", "line 5 is damaged", "line 6 is damaged",
          "line 7 is damaged", "2 more damaged lines skipped", "2 runs over 40 days"},
         damaged + "\n" + current,
         0600},
        {"a line of 4,096 bytes is damaged, one of 4,095 is not",
         [&](const fs::path& f) { write(f, at_limit); },
         0,
         {"line 2 is damaged", "2 runs over 40 days"},
         at_limit + current,
         created},
        {"a record later than the run is left out of its trend",
         [&](const fs::path& f) { write(f, earlier + later); },
         0,
         {"records of this drive later than this run: 1", "2 runs over 40 days"},
         earlier + later + current,
         created},
        {"a run recorded already is not added twice",
         [&](const fs::path& f) { write(f, earlier + current); },
         0,
         {"is recorded already; not added again", "2 runs over 40 days"},
         earlier + current,
         created},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const fs::path file = dir.path() / "h.jsonl";
        c.setup(file);
        FakePlatform host;
        const ProgramRun run = run_whole_program(host, {"--sim", "0y", "--history", "h.jsonl"});
        EXPECT_EQ(run.status, c.status) << run.err;
        for (const std::string& note : c.notes)
            EXPECT_TRUE(contains(run.err, note)) << note << "\nin:\n" << run.err;
        EXPECT_EQ(read_file(file), c.file);
        const unsigned mode = mode_of(file);
        if (c.mode == created) {
            EXPECT_TRUE((mode & ~0644u) == 0 && (mode & 0600u) == 0600u) << std::oct << mode;
        } else {
            EXPECT_EQ(mode, c.mode) << std::oct << mode;
        }
    }
}

// Another program holds the file's lock, shared or exclusive: the run waits, writing nothing and
// not ending, and appends its line once the lock is let go; held past the run's limit, the run
// leaves the file as it is, says why and ends with status 5.
TEST(HistoryFile, AppendWaitsForALockHeldOutside) {
    const struct {
        const char* name;
        int lock;  // taken before the run starts
        int limit_ms;
        bool let_go;  // half a second into the run
    } cases[] = {
        {"an exclusive lock let go", LOCK_EX, 10000, true},
        {"a shared lock let go", LOCK_SH, 10000, true},
        {"an exclusive lock held past the limit", LOCK_EX, 300, false},
    };
    const std::string line = default_line(kFakeRunTime);
    const std::string before = R"({"time_seconds":1773000000,"serial":"ANOTHER-DRIVE"})"
                               "\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        write("h.jsonl", before);
        const int held = ::open("h.jsonl", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, c.lock), 0);
        FakePlatform host;
        CheckedSimDrive drive;
        load_profile(drive, find_sim_profile("default")->make());
        Capture out;
        Capture err;
        std::FILE* in = input_from("");
        const auto started = std::chrono::steady_clock::now();
        std::future<int> run = std::async(std::launch::async, [&] {
            SimPlatform platform(host, drive);
            RunContext ctx{.platform = platform, .files = host, .out = out.file(), .in = in};
            ctx.err = err.file();
            ctx.history = "h.jsonl";
            ctx.lock_wait_ms = c.limit_ms;
            return examine_drive(ctx, "0y");
        });
        if (c.let_go) {
            EXPECT_TRUE(run.wait_for(std::chrono::milliseconds(500)) == std::future_status::timeout)
                << "the run ended while the lock was held";
            EXPECT_EQ(read_file("h.jsonl"), before);
            ::flock(held, LOCK_UN);
        }
        const int status = run.get();
        const auto waited = std::chrono::steady_clock::now() - started;
        ::close(held);
        std::fclose(in);
        if (c.let_go) {
            EXPECT_EQ(status, 0) << err.text();
            EXPECT_EQ(read_file("h.jsonl"), before + line);
        } else {
            EXPECT_EQ(status, 5);
            EXPECT_TRUE(contains(
                err.text(), "cannot append to --history h.jsonl: another program holds its lock"))
                << err.text();
            EXPECT_EQ(read_file("h.jsonl"), before);
            EXPECT_GE(waited, std::chrono::milliseconds(c.limit_ms));
        }
    }
}

// The line of every simulated drive, each run a day after the one before.
TEST(HistoryLine, EveryProfileMatchesTheKeptLines) {
    ScratchDir dir;
    std::int64_t time = kFakeRunTime;
    for (const SimProfile& profile : sim_profiles()) {
        FakePlatform host;
        host.time = time;
        time += kSecondsPerDay;
        const std::string sim = std::string("--sim=") + profile.name;
        run_whole_program(host, {sim.c_str(), "0y", "--history", "h.jsonl"});
    }
    const std::string lines = read_file(dir.path() / "h.jsonl");
    const fs::path kept = fs::path(TORVIK_SOURCE_DIR) / "tests" / "history_lines.jsonl";
    const char* update = std::getenv("TORVIK_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        write(kept, lines);
        GTEST_SKIP() << "rewrote " << kept;
    }
    EXPECT_EQ(lines, read_file(kept));
    // The example of docs/history.md is the default drive's line.
    const std::string doc = read_file(fs::path(TORVIK_SOURCE_DIR) / "docs" / "history.md");
    EXPECT_TRUE(contains(doc, lines.substr(0, lines.find('\n') + 1))) << "docs/history.md";
}

// What a reader must never take for a record, and the drive's own bytes, hostile ones included,
// through a line and back.
TEST(HistoryLine, ReadsRecordsBackAndRejectsDamage) {
    KeyFigures k;
    k.drive.serial = std::string("Q\"\\\n\x01\xff\xc3\xa9 ok", 11);
    k.percentage_used = 7;
    k.data_written_bytes = 18446744073709551615u;
    const std::string line = history_line(1773480413, "0.2a", k);
    EXPECT_NE(line.find(R"("serial":"Q\"\\\u000a\u0001)"
                        "\xef\xbf\xbd\xc3\xa9"
                        R"( ok")"),
              std::string::npos)
        << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    HistoryRecord r;
    ASSERT_TRUE(parse_history_line(line.substr(0, line.size() - 1), r));
    EXPECT_EQ(r.serial, utf8_text(k.drive.serial));
    EXPECT_EQ(r.point.time, 1773480413);
    EXPECT_EQ(r.point.percentage_used, 7u);
    EXPECT_EQ(r.point.data_written_bytes, k.data_written_bytes);
    EXPECT_FALSE(r.point.power_on_hours);

    const struct {
        const char* line;
        bool record;
    } rows[] = {
        {R"( {"time_seconds":5,"serial":"A\u00e9\ud83d\ude00","more":{"a":[1,-2.5e3,{"b":null}]}} )",
         true},
        {R"({"serial":"A","time_seconds":5,"percentage_used":null})", true},
        {R"({"serial":"A"})", false},
        {R"({"time_seconds":5})", false},
        {R"({"time_seconds":5,"serial":"A","percentage_used":-1})", false},
        {R"({"time_seconds":5,"serial":"A","percentage_used":1.5})", false},
        {R"({"time_seconds":5,"serial":"A","percentage_used":4294967296})", false},
        {R"({"time_seconds":5,"serial":"A"} {})", false},
        {R"({"time_seconds":5,"serial":"A",})", false},
        {R"({"time_seconds":5,"serial":"A\q"})", false},
        {"{\"time_seconds\":5,\"serial\":\"A\tB\"}", false},
        {R"({"time_seconds":5,"serial":"A","x":[[[[[[[[[[1]]]]]]]]]]})", false},
        // A value passed over that ends in an escaped backslash ends at its quote.
        {R"({"time_seconds":5,"note":"C:\\","serial":"A"})", true},
        {R"({"time_seconds":5,"note":"\\\"","serial":"A"})", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(parse_history_line(row.line, r), row.record) << row.line;
}

}  // namespace
}  // namespace torvik::testing
