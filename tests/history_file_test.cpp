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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "app/examine_drive.h"
#include "common/utc_time.h"
#include "model/history_line.h"
#include "model/history_scan.h"
#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

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

// The kept lines of the simulated drives (tests/history_lines.jsonl), without their line ends.
std::vector<std::string> kept_lines() {
    std::vector<std::string> lines;
    std::ifstream in(fs::path(TORVIK_SOURCE_DIR) / "tests" / "history_lines.jsonl");
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
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
    // A line of the drive padded to `size` bytes before its line end, the last of them `last`: one
    // at the limit is read (also when a CR is its last byte), one over it not.
    const auto padded = [](std::string line, std::size_t size, const std::string& last = "") {
        line.pop_back();
        const std::size_t pad = size - line.size() - std::strlen(",\"pad\":\"\"") - last.size();
        line.insert(line.size() - 1, ",\"pad\":\"" + std::string(pad, 'x') + "\"");
        return line + last + "\n";
    };
    const std::string at_limit =
        padded(earlier, kHistoryLineLimit) +
        padded(default_line(kFakeRunTime - 30 * kSecondsPerDay), kHistoryLineLimit, "\r") +
        padded(default_line(kFakeRunTime - 20 * kSecondsPerDay), kHistoryLineLimit + 1) +
        padded(default_line(kFakeRunTime - 10 * kSecondsPerDay), kHistoryLineLimit + 1, "\r");
    // Values the reader does not take, in a key it does not know: no damage.
    std::string unknown = default_line(kFakeRunTime - 5 * kSecondsPerDay);
    unknown.insert(unknown.size() - 2, ",\"huge\":1e309,\"long\":" + std::string(400, '9') +
                                           ",\"more\":[-1E+999,{\"x\":0.5e-999}]");
    // A drive that shares the serial, at the same time, under another model.
    std::string other_model = current;
    other_model.replace(other_model.find("TORVIK PSSD SIM 1TB"), 19, "TORVIK PSSD SIM 2TB");

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
        {"a line over the length limit is damaged, one at it is not",
         [&](const fs::path& f) { write(f, at_limit); },
         0,
         {"line 3 is damaged", "line 4 is damaged", "3 runs over 40 days"},
         at_limit + current,
         created},
        {"a value in a key the reader does not take damages nothing",
         [&](const fs::path& f) { write(f, earlier + unknown); },
         0,
         {"3 runs over 40 days"},
         earlier + unknown + current,
         created},
        {"the same time and serial under another model is another drive's run",
         [&](const fs::path& f) { write(f, earlier + other_model); },
         0,
         {"2 runs over 40 days"},
         earlier + other_model + current,
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
            ctx.asked.add(OutputId::history);
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
    EXPECT_NE(line.find(R"("serial":"Q\"\\\n\u0001)"
                        "\xef\xbf\xbd\xc3\xa9"
                        R"( ok")"),
              std::string::npos)
        << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    HistoryRecord r;
    const std::string record = line.substr(0, line.size() - 1);
    ASSERT_TRUE(parse_history_line(record, r));
    EXPECT_EQ(r.serial, utf8_text(k.drive.serial));
    EXPECT_EQ(r.point.time, 1773480413);
    EXPECT_EQ(r.point.percentage_used, 7u);
    EXPECT_EQ(r.point.data_written_bytes, k.data_written_bytes);
    EXPECT_FALSE(r.point.power_on_hours);
    EXPECT_EQ(r.point.flash.known, 0u);  // a run without the sysinfo page: no flash counters

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
        {R"({"time_seconds":5,"serial":"A","x":[[[[[[[[[[1]]]]]]]]]]})", true},
        {R"({"time_seconds":5,"serial":"A","time_seconds":6})", true},
        {R"({"time_seconds":5,"serial":"A","percentage_used":"1"})", false},
        {R"({"time_seconds":5,"serial":"A","later_bad_blocks":"1"})", false},
        {R"({"time_seconds":5,"serial":"A","raid_recovery_fail_d1":-1})", false},
        {R"({"time_seconds":5,"serial":"A","program_fail_d23":18446744073709551615})", true},
        // A value passed over that ends in an escaped backslash ends at its quote.
        {R"({"time_seconds":5,"note":"C:\\","serial":"A"})", true},
        {R"({"time_seconds":5,"note":"\\\"","serial":"A"})", true},
        // A number past a double's range is JSON too; only a figure the reader takes refuses it.
        {R"({"time_seconds":5,"serial":"A","later":-1e309,"x":"1e999 \"9"})", true},
        {R"({"time_seconds":5,"serial":"A","percentage_used":1e309})", false},
        {R"({"time_seconds":5,"serial":"A","later":01e309})", false},
        {R"({"time_seconds":5,"serial":"A","later":1e309.5})", false},
        {R"({"time_seconds":5,"serial":"A","later":1.e309})", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(parse_history_line(row.line, r), row.record) << row.line;
}

// The one-pass reader against the JSON library's: every kept line, and each of them cut, grown and
// spoilt byte by byte, with a field left out or its value in another form, reads the same (the
// same figures, or damaged) through both.
TEST(HistoryLine, BothReadersAgreeOnMutatedLines) {
    const std::vector<std::string> lines = kept_lines();
    ASSERT_GE(lines.size(), 5u);
    const auto duplicate_after_brace = [](std::string line, const char* field) {
        return line.insert(1, std::string(field) + ",");
    };
    const auto duplicate_before_brace = [](std::string line, const char* field) {
        return line.insert(line.size() - 1, std::string(",") + field);
    };
    // Values a field may be given: numbers at the edges of the figures' types and of 64 bits, the
    // forms JSON allows and the tool never writes, and texts with escapes and bytes past ASCII.
    const std::string values[] = {"0",
                                  "-0",
                                  "-7",
                                  "00",
                                  "01",
                                  "-01",
                                  "-",
                                  "7",
                                  "1e5",
                                  "1E+5",
                                  "1.0",
                                  "12345678",
                                  "123456789",
                                  "1234567890123456",
                                  "12345678901234567",
                                  "4294967295",
                                  "4294967296",
                                  "9223372036854775807",
                                  "9223372036854775808",
                                  "9999999999999999999",
                                  "18446744073709551615",
                                  "18446744073709551616",
                                  "123456789012345678901234",
                                  "1e400",
                                  "null",
                                  "true",
                                  "[1]",
                                  "{}",
                                  R"("")",
                                  R"("7")",
                                  R"("nvme")",
                                  R"("NVME")",
                                  R"("A\u0041")",
                                  R"("\"")",
                                  R"("\\")",
                                  "\"\xc3\xa9\"",
                                  "\"\xff\"",
                                  "\"A\x7f\"",
                                  R"("\ud83d\ude00")",
                                  "\"A\tB\"",
                                  R"("ABCDEFGHIJKLMNO")",
                                  R"("ABCDEFGHIJKLMNOP")",
                                  R"("ABCDEFGHIJKLMNOPQ")",
                                  R"("ABCDEFGHIJKLMNOPQRSTUVWX")",
                                  R"("ABCDEFGHIJKLMNOPQRSTUVWXY")"};
    std::vector<std::string> mutated;
    for (const std::string& line : lines) {
        mutated.push_back(line);
        mutated.push_back(" " + line);
        mutated.push_back(line + " ");
        for (const char* field :
             {R"("time_seconds":7)", R"("serial":"OTHER")", R"("percentage_used":99)",
              R"("average_erase_count":null)", R"("ser\u0069al":"OTHER")", R"("more":1)",
              R"("later_bad_blocks":5)", R"("raid_recovery_fail_d23":null)"}) {
            mutated.push_back(duplicate_after_brace(line, field));
            mutated.push_back(duplicate_before_brace(line, field));
        }
        for (std::size_t i = 0; i < line.size(); ++i) {
            mutated.push_back(std::string(line).erase(i, 1));
            mutated.push_back(std::string(line).insert(i, 1, line[i]));
            for (const char c :
                 {' ', '"', '\\', '0', '-', ',', ':', '}', 'x', '\x01', '\x1f', '\x7f', '\xff'}) {
                std::string spoilt = line;
                spoilt[i] = c;
                mutated.push_back(spoilt);
            }
        }
        // The fields of a kept line, each "key":value, between the line's commas.
        std::vector<std::size_t> starts{1};
        for (std::size_t at = line.find(",\""); at != std::string::npos;
             at = line.find(",\"", at + 1))
            starts.push_back(at + 1);
        starts.push_back(line.size());  // one past the last field's end
        for (std::size_t f = 0; f + 1 < starts.size(); ++f) {
            const std::size_t begin = starts[f];
            const std::size_t value = line.find("\":", begin) + 2;
            const std::size_t end = starts[f + 1] - 1;  // its comma, or the closing brace
            std::string without = line;
            without.erase(f == 0 ? begin : begin - 1, f == 0 ? end + 1 - begin : end + 1 - begin);
            mutated.push_back(without);
            for (const std::string& v : values)
                mutated.push_back(line.substr(0, value) + v + line.substr(end));
        }
    }
    const auto same = [](const HistoryRecord& a, const HistoryRecord& b) {
        return a.serial == b.serial && a.serial_hex == b.serial_hex && a.model == b.model &&
               a.from_nvme == b.from_nvme && a.bridge_serial == b.bridge_serial &&
               a.bridge_serial_hex == b.bridge_serial_hex && a.bridge_model == b.bridge_model &&
               a.point.time == b.point.time && a.point.percentage_used == b.point.percentage_used &&
               a.point.data_written_bytes == b.point.data_written_bytes &&
               a.point.power_on_hours == b.point.power_on_hours &&
               a.point.average_erase_count == b.point.average_erase_count &&
               a.point.rated_pe_cycles == b.point.rated_pe_cycles &&
               a.point.life_used == b.point.life_used &&
               a.point.flash.known == b.point.flash.known &&
               a.point.flash.value == b.point.flash.value;
    };
    std::size_t records = 0;
    std::size_t in_one_pass = 0;
    std::size_t disagreements = 0;
    // One record for every line, as a history is read: nothing of the line before may stay.
    HistoryRecord fast;
    const auto check = [&](const std::string& before, const std::string& line) {
        HistoryRecord careful;
        HistoryRecord alone;
        ASSERT_TRUE(parse_history_line(before, fast));
        const bool fast_ok = parse_history_line(line, fast);
        const bool careful_ok = parse_history_line_carefully(line, careful);
        if (fast_ok != careful_ok || (fast_ok && !same(fast, careful))) {
            if (++disagreements <= 10)
                ADD_FAILURE() << "the readers disagree on: " << line << "\nafter: " << before;
        }
        records += careful_ok ? 1 : 0;
        in_one_pass += parse_history_line_in_one_pass(line, alone) ? 1 : 0;
    };
    for (const std::string& line : mutated)
        check(lines.front(), line);
    // Every text of a line with its serials' hexadecimal forms, 25 to 32 bytes long, after a line
    // whose text there has the same length and differs in one byte alone, the last ones among
    // them.
    std::string base = lines.front();
    base.insert(base.find(R"("percentage_used")"), R"("serial_hex":"3f",)");
    base.insert(base.find(R"("bridge_model")"), R"("bridge_serial_hex":"3f",)");
    for (std::size_t at = base.find(R"(":")"); at != std::string::npos;
         at = base.find(R"(":")", at + 1)) {
        const std::size_t value = at + 3;
        const std::size_t close = base.find('"', value);
        const auto with = [&](const std::string& text) {
            return base.substr(0, value) + text + base.substr(close);
        };
        for (std::size_t size = 25; size <= 32; ++size) {
            for (std::size_t differs = 0; differs < size; ++differs) {
                std::string text(size, 'T');
                const std::string before = with(text);
                text[differs] = 'U';
                check(before, with(text));
            }
        }
    }
    EXPECT_EQ(disagreements, 0u) << "of " << mutated.size() << " lines";
    // Both kinds are among them, and the one-pass reader takes many: neither reader passes by
    // taking or refusing everything.
    EXPECT_GT(records, lines.size() * 20);
    EXPECT_LT(records, mutated.size() * 3 / 4);
    EXPECT_GT(in_one_pass, records / 4);
    EXPECT_LT(in_one_pass, records);
}

// The lines the tool writes are read in one pass, each field the trend takes among them: a key the
// writer adds or moves and the one-pass reader does not know sends every line to the careful one.
TEST(HistoryLine, TheToolsOwnLinesAreReadInOnePass) {
    std::vector<std::string> lines = kept_lines();
    KeyFigures k;
    k.drive.from_nvme = true;
    k.drive.serial =
        "NV\x7f"
        "1";  // a serial with a byte that is not printable: serial_hex too
    k.drive.model = "MODEL";
    k.drive.bridge_serial =
        "BR\x7f"
        "1";
    k.drive.bridge_model = "BRIDGE";
    k.percentage_used = 4294967295u;
    k.data_written_bytes = 9999999999999999999u;  // 19 digits; 20 go to the careful reader
    k.power_on_hours = 12345678;
    k.average_erase_count = 123456789;
    k.rated_pe_cycles = 4294967295u;
    k.life_used = 0;
    k.available_spare = 100;
    k.temperature_celsius = -40;
    k.power_cycles = 0;
    k.unsafe_shutdowns = 1;
    k.media_errors = 1000000000000000000u;
    k.data_read_bytes = 1;
    for (std::size_t i = 0; i < kFlashCounterCount; ++i)
        k.flash_counters.set(i, i * 1111111111111111111u % 9999999999999999999u);
    std::string every = history_line(1773480413, "0.2a", k);
    lines.push_back(every.substr(0, every.size() - 1));
    for (const std::string& line : lines) {
        HistoryRecord alone;
        HistoryRecord careful;
        EXPECT_TRUE(parse_history_line_in_one_pass(line, alone)) << line;
        ASSERT_TRUE(parse_history_line_carefully(line, careful)) << line;
        EXPECT_EQ(alone.serial_hex, careful.serial_hex) << line;
        EXPECT_EQ(alone.point.time, careful.point.time) << line;
        EXPECT_EQ(alone.point.rated_pe_cycles, careful.point.rated_pe_cycles) << line;
        EXPECT_EQ(alone.point.flash.value, careful.point.flash.value) << line;
    }
    HistoryRecord r;
    ASSERT_TRUE(parse_history_line_in_one_pass(lines.back(), r));
    EXPECT_EQ(r.serial_hex, "4e567f31");
    EXPECT_EQ(r.bridge_serial_hex, "42527f31");
    EXPECT_EQ(r.point.data_written_bytes, k.data_written_bytes);
    EXPECT_EQ(r.point.average_erase_count, k.average_erase_count);
    EXPECT_EQ(r.point.percentage_used, k.percentage_used);
    EXPECT_EQ(r.point.flash.known, (1u << kFlashCounterCount) - 1);
    EXPECT_EQ(r.point.flash.value, k.flash_counters.value);
}

// Which records are the run's drive: by NVMe serial and model when the run read them, else by the
// bridge's serial and product; serials as bytes.
TEST(HistoryIdentity, RecordsOfTheRunsDrive) {
    const auto run = [](bool nvme, std::string serial, std::string model = "M") {
        DriveKey k;
        k.from_nvme = nvme;
        k.serial = nvme ? serial : "BR1";
        k.model = nvme ? model : "BRIDGE";
        k.bridge_serial = "BR1";
        k.bridge_model = "BRIDGE";
        return k;
    };
    HistoryRecord r;
    const auto record = [&r](const std::string& line) -> const HistoryRecord& {
        EXPECT_TRUE(parse_history_line(line, r)) << line;
        return r;
    };
    // Lines as a run writes them, for a drive read in full and for one read through the bridge.
    const auto written = [](bool nvme, std::string serial, std::string model) {
        KeyFigures k;
        k.drive.from_nvme = nvme;
        k.drive.serial = nvme ? serial : "BR1";
        k.drive.model = nvme ? model : "BRIDGE";
        k.drive.bridge_serial = "BR1";
        k.drive.bridge_model = "BRIDGE";
        const std::string line = history_line(1773480413, "0.2a", k);
        return line.substr(0, line.size() - 1);
    };
    const std::string bad_a("NV\xff\x01", 4);
    const std::string bad_b("NV\xfe\x01", 4);
    const struct {
        const char* name;
        std::string line;
        DriveKey run;
        bool same;
    } cases[] = {
        {"the NVMe identity", written(true, "NV1", "M"), run(true, "NV1"), true},
        {"another NVMe serial", written(true, "NV2", "M"), run(true, "NV1"), false},
        {"a model change under one serial", written(true, "NV1", "M2"), run(true, "NV1"), false},
        {"a bridge-only record, the run read NVMe", written(false, "", ""), run(true, "NV1"),
         false},
        {"the Identify read failed: found by the bridge identity", written(true, "NV1", "M"),
         run(false, ""), true},
        {"a bridge record of earlier versions",
         R"({"time_seconds":5,"serial":"BR1","model":"BRIDGE","identity":"bridge"})",
         run(false, ""), true},
        {"an earlier NVMe record has no bridge identity",
         R"({"time_seconds":5,"serial":"NV1","model":"M","identity":"nvme"})", run(false, ""),
         false},
        {"invalid UTF-8: the same bytes", written(true, bad_a, "M"), run(true, bad_a), true},
        {"invalid UTF-8: other bytes, the same text", written(true, bad_b, "M"), run(true, bad_a),
         false},
    };
    // The check under the append's lock goes by the same identity.
    for (const auto& c : cases) {
        EXPECT_EQ(same_drive(record(c.line), RunIdentity(c.run)), c.same)
            << c.name << ": " << c.line;
        EXPECT_EQ(holds_run("{}\n" + c.line + "\n", record(c.line).point.time, c.run), c.same)
            << c.name << ": " << c.line;
    }
    const std::string bad_line = written(true, bad_a, "M");
    EXPECT_TRUE(contains(bad_line, R"("serial_hex":"4e56ff01")")) << bad_line;
    const std::string bad_serial(record(bad_line).serial);
    const std::string other_bytes = written(true, bad_b, "M");
    EXPECT_EQ(bad_serial, record(other_bytes).serial);
}

// --all over three simulated drives twice gives six lines, each drive's trend from its own
// records; two drives of one identity in a pass are both examined, the second not appended.
TEST(HistoryIdentity, EveryDriveOfAPassKeepsItsOwnHistory) {
    ScratchDir dir;
    std::string err;
    for (int pass = 0; pass < 2; ++pass) {
        FakePlatform host;
        host.time = kFakeRunTime + pass * 10 * kSecondsPerDay;
        fs::create_directories(dir.path() / "out");
        const ProgramRun r = run_whole_program(
            host,
            {"--all", "--sim=hot,default,worn-out", "--history", "h.jsonl", "--output-dir", "out"});
        err = r.err;
    }
    const std::string lines = read_file(dir.path() / "h.jsonl");
    EXPECT_EQ(count_of(lines, "\n"), 6u) << lines;
    for (const char* serial : {"SIM00000000000101", "SIM00000000000001", "SIM00000000000104"})
        EXPECT_EQ(count_of(lines, std::string("\"serial\":\"") + serial + "\""), 2u) << serial;
    // Each trend: its two runs ten days apart; the worn-out drive at 104 % says so.
    EXPECT_EQ(count_of(err, "2 runs over 10 days"), 3u) << err;
    EXPECT_TRUE(contains(err, "100% used reached")) << err;
    EXPECT_FALSE(contains(err, "recorded already")) << err;

    ScratchDir twice;
    fs::create_directory(twice.path() / "out");
    FakePlatform host;
    const ProgramRun r = run_whole_program(host, {"--all", "--sim=hot,hot", "--history", "h.jsonl",
                                                  "--metrics", "m.prom", "--output-dir", "out"});
    EXPECT_TRUE(contains(r.err, "same identity as drive 1: its history is not appended")) << r.err;
    EXPECT_EQ(read_file(twice.path() / "h.jsonl").size(),
              read_file(twice.path() / "h.jsonl").find('\n') + 1);
    const std::string metrics = read_file(twice.path() / "m.prom");
    // Both drives' series, told apart by their path.
    const std::size_t first = metrics.find("torvik_pssd_run_success{");
    const std::size_t second = metrics.find("torvik_pssd_run_success{", first + 1);
    ASSERT_NE(second, std::string::npos) << metrics;
    EXPECT_NE(metrics.substr(first, metrics.find('\n', first) - first),
              metrics.substr(second, metrics.find('\n', second) - second));
}

// The ageing drive follows the run's time: runs 30 days apart, from whichever day and hour, give
// one record, then one step of percentage used (no pace yet), then a projection, while its grown
// bad blocks rise, each run after the first noting it (the verdict PASSED still); before it was
// made it is new, and it stops at the 255 % its byte can hold.
TEST(HistoryFile, AgeingDriveProjectsFromItsThirdRunThirtyDaysApart) {
    constexpr std::int64_t kMade = 1767225600;  // 2026-01-01
    const auto figure = [](const std::string& text, const std::string& key) {
        const std::size_t at = text.rfind(key);
        return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + key.size());
    };
    for (const std::int64_t first : {kMade, kMade + 17 * kSecondsPerDay + 5 * 3600,
                                     kMade + 700 * kSecondsPerDay + 23 * 3600}) {
        ScratchDir dir;
        const char* trend[] = {"Trend: 1 run; not enough history: fewer than two",
                               "so the pace cannot be told yet", "; 100% used about "};
        long long bad_blocks = -1;
        long long first_later = 0;
        for (int run = 0; run < 3; ++run) {
            FakePlatform host;
            host.time = first + run * 30 * kSecondsPerDay;
            const ProgramRun r =
                run_whole_program(host, {"--sim=ageing", "0y", "--health", "--history", "h.jsonl"});
            SCOPED_TRACE(format_utc_time(*host.time));
            EXPECT_EQ(r.status, 0) << r.err;  // PASSED
            EXPECT_TRUE(contains(r.out, trend[run])) << r.out;
            const std::string history = read_file("h.jsonl");
            EXPECT_EQ(figure(history, "\"percentage_used\":"), (*host.time - kMade) / 86400 / 30);
            const long long later = figure(read_file("torvik_pssd_flash_id_smart.txt"),
                                           "total later bad physical block count\t: ");
            EXPECT_GT(later, bad_blocks);
            const std::string note = "  note    Later bad blocks " + std::to_string(first_later) +
                                     " to " + std::to_string(later) + " since " +
                                     format_utc_time(first).substr(0, 10) + ": +" +
                                     std::to_string(later - first_later) + " in " +
                                     std::to_string(run * 30) + " days [history; sysinfo";
            EXPECT_EQ(contains(r.out, note), run > 0) << note << "\n" << r.out;
            first_later = run == 0 ? later : first_later;
            bad_blocks = later;
        }
    }
    for (const auto& [time, used] :
         {std::pair{kMade - 400 * kSecondsPerDay, 0LL}, std::pair{kLastUtcSecond, 255LL}}) {
        ScratchDir dir;
        FakePlatform host;
        host.time = time;
        run_whole_program(host, {"--sim=ageing", "0y", "--history", "h.jsonl"});
        EXPECT_EQ(figure(read_file("h.jsonl"), "\"percentage_used\":"), used);
    }
}

}  // namespace
}  // namespace torvik::testing
