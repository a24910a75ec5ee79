// The history file's platform half, on every system the tool builds for (Windows under Wine too):
// the append and the read back, through the files themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/history_scan.h"
#include "platform/history_file.h"
#include "platform/output_folder.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

std::string read_back(const std::string& path) {
    HistoryReader reader;
    std::string message;
    if (reader.open(path, message) != HistoryOpen::ok)
        return "(" + message + ")";
    std::string text;
    char block[7];  // small, so a read ends inside a line
    for (std::ptrdiff_t n; (n = reader.read(block, sizeof block, message)) > 0;)
        text.append(block, static_cast<std::size_t>(n));
    return text;
}

TEST(HistoryAppend, AppendsAWholeLineAfterWhatIsThere) {
    const struct {
        const char* name;
        std::optional<std::string> before;  // none: no file
        bool directory;
        const char* after;  // read back; nullptr: refused, nothing made
    } rows[] = {
        {"a missing file is created", std::nullopt, false, "{\"n\":2}\n"},
        {"an empty file", std::string(), false, "{\"n\":2}\n"},
        {"after whole lines", std::string("{\"n\":1}\n"), false, "{\"n\":1}\n{\"n\":2}\n"},
        {"a torn last line gets its end first", std::string("{\"n\":1}\n{\"n\""), false,
         "{\"n\":1}\n{\"n\"\n{\"n\":2}\n"},
        {"a directory is refused", std::nullopt, true, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir;
        if (row.before)
            std::ofstream("h.jsonl", std::ios::binary) << *row.before;
        if (row.directory)
            fs::create_directory("h.jsonl");
        std::string message;
        EXPECT_EQ(append_history_line("h.jsonl", "{\"n\":2}\n", message), row.after != nullptr)
            << message;
        if (row.after != nullptr) {
            EXPECT_EQ(read_back("h.jsonl"), row.after);
        } else {
            EXPECT_TRUE(fs::is_directory("h.jsonl"));
            EXPECT_FALSE(message.empty());
        }
    }
    ScratchDir empty;
    HistoryReader reader;
    std::string message;
    EXPECT_EQ(reader.open("missing.jsonl", message), HistoryOpen::missing);
}

// Under the lock the append is shown what was appended since the caller's read (all of the file
// when it is shorter now), and leaves the file alone when that holds the run already. The
// folder's leftover temporaries of the run's names go; nothing else does, nor a file kept by name.
TEST(HistoryAppend, LooksAgainUnderTheLockAndRemovesOnlyLeftovers) {
    const struct {
        const char* name;
        std::uint64_t read_end;
        const char* seen;  // what the check is given
        bool already;
    } rows[] = {
        {"another run's line since the read", 8, "{\"n\":2}\n", true},
        {"nothing since the read", 16, "", false},
        {"a file shorter than the read", 99, "{\"n\":1}\n{\"n\":2}\n", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir;
        const std::string before = "{\"n\":1}\n{\"n\":2}\n";
        std::ofstream("h.jsonl", std::ios::binary) << before;
        std::string seen;
        AppendCheck check;
        check.read_end = row.read_end;
        check.recorded = [&](std::string_view appended) {
            seen = appended;
            return appended.find("\"n\":2") != std::string_view::npos;
        };
        std::string message;
        EXPECT_TRUE(append_history_line("h.jsonl", "{\"n\":2}\n", message, 0, &check)) << message;
        EXPECT_EQ(seen, row.seen);
        EXPECT_EQ(check.already, row.already);
        EXPECT_EQ(read_back("h.jsonl"), row.already ? before : before + "{\"n\":2}\n");
    }
    ScratchDir dir;
    for (const char* name : {"r.txt.0123abcd.tmp", "r.txt.0123abcd.tmp.x", "r.txt.0123abc.tmp",
                             "other.txt.0123abcd.tmp", "r.txt", "r.txt.0123abce.tmp"})
        std::ofstream(name) << "x";
    std::string error;
    const std::unique_ptr<FileStore> files = open_output_folder("", error);
    ASSERT_NE(files, nullptr) << error;
    ASSERT_TRUE(files->lock_folder(0));
    files->remove_leftover_temps({"r.txt"}, {"r.txt.0123abce.tmp"});
    files->unlock_folder();
    EXPECT_FALSE(fs::exists("r.txt.0123abcd.tmp"));
    for (const char* kept : {"r.txt.0123abcd.tmp.x", "r.txt.0123abc.tmp", "other.txt.0123abcd.tmp",
                             "r.txt", "r.txt.0123abce.tmp"})
        EXPECT_TRUE(fs::exists(kept)) << kept;
}

// Many read blocks' worth of lines, so that lines and an over-long one cross the blocks' edges:
// every record is found once, every damaged line counted and the first ones named, in bounded
// memory.
TEST(HistoryAppend, ReadsLinesAcrossReadBlocks) {
    ScratchDir dir;
    std::string text;
    std::vector<std::size_t> damaged;  // their line numbers
    const auto next_line_number = [&] {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    };
    constexpr int kLines = 6000;
    for (int i = 0; i < kLines; ++i) {
        if (i % 1000 == 500) {
            damaged.push_back(next_line_number());
            text += "{\"serial\":\"" + std::string(100000, 'x') + "\"}\n";  // over-long
        } else if (i % 97 == 0) {
            damaged.push_back(next_line_number());
            text += "{\"time_seconds\":" + std::to_string(i) + ",\"serial\"\n";  // torn
        }
        text += "{\"time_seconds\":" + std::to_string(1000 + i) + ",\"serial\":\"" +
                (i % 3 == 0 ? "OTHER" : "ME") + "\",\"percentage_used\":" + std::to_string(i / 60) +
                std::string(static_cast<std::size_t>(i % 200), ' ') + "}\n";
    }
    text += "{\"time_seconds\":999999,\"serial\":\"ME\"}";  // the last line, without its end
    std::ofstream("h.jsonl", std::ios::binary) << text;
    // The same, its last line over-long: damaged too.
    std::ofstream("long.jsonl", std::ios::binary) << text << std::string(70000, ' ');
    HistoryReader reader;
    std::string message;
    ASSERT_EQ(reader.open("h.jsonl", message), HistoryOpen::ok) << message;
    WearTrendBuilder builder(1000000);
    DriveKey me;  // read through the bridge alone: its records are those of the same serial
    me.serial = me.bridge_serial = "ME";
    const HistoryScan scan = scan_history(reader, me, 1000000, builder);
    EXPECT_FALSE(scan.failed) << scan.error;
    EXPECT_EQ(scan.damaged, damaged.size());
    EXPECT_TRUE(std::equal(scan.damaged_lines.begin(), scan.damaged_lines.end(), damaged.begin()));
    EXPECT_EQ(scan.records, static_cast<std::size_t>(kLines - kLines / 3 + 1));
    EXPECT_EQ(scan.lines, kLines + damaged.size() + 1);
    EXPECT_EQ(builder.finish().last_time, 999999);

    ASSERT_EQ(reader.open("long.jsonl", message), HistoryOpen::ok) << message;
    WearTrendBuilder unused(1000000);
    const HistoryScan cut = scan_history(reader, me, 1000000, unused);
    EXPECT_EQ(cut.damaged, damaged.size() + 1);
    EXPECT_EQ(cut.records, scan.records - 1);
}

}  // namespace
}  // namespace torvik::testing
