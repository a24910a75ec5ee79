// The whole program on every simulated drive, compared with the outputs kept under
// tests/golden/<profile>/: the console, the exit status, every text file, the JSON and the HTML
// page as they are, the dumps as a list of sizes and digests, the console and exit status of a
// --health run, and what a replay of the dumps changes in the JSON document. The host is the fake
// platform, so the OS line is the same on every machine. The text of --help is kept in
// tests/help.txt.
//
// After an intended change of the outputs, rewrite them and review the difference with git:
//   TORVIK_UPDATE_GOLDEN=1 ctest --test-dir build -R Golden
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "sim/profiles.h"
#include "tests/support/fake_platform.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch.h"

namespace torvik::testing {
namespace {

namespace fs = std::filesystem;

using Outputs = std::map<std::string, std::string>;  // file name in the golden folder -> content

// 64-bit FNV-1a: enough to see that a dump changed; the dumps themselves stay out of the tree.
std::uint64_t digest(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3;
    }
    return hash;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// The lines of after that are not those of before, by line number: "19-" the old, "19+" the new.
std::string changed_lines(const std::string& before, const std::string& after) {
    const std::vector<std::string> old_lines = lines_of(before), new_lines = lines_of(after);
    std::string changes;
    for (std::size_t i = 0; i < std::max(old_lines.size(), new_lines.size()); ++i) {
        const std::string number = std::to_string(i + 1);
        if (i < old_lines.size() && (i >= new_lines.size() || old_lines[i] != new_lines[i]))
            changes += number + "-" + old_lines[i] + "\n";
        if (i < new_lines.size() && (i >= old_lines.size() || old_lines[i] != new_lines[i]))
            changes += number + "+" + new_lines[i] + "\n";
    }
    return changes;
}

Outputs run_profile(const std::string& profile) {
    ScratchDir dir;
    FakePlatform host;
    const std::string sim = "--sim=" + profile;
    const ProgramRun run = run_whole_program(host, {"--json", "--html", sim.c_str(), "0y"});

    Outputs outputs;
    outputs["console.txt"] = run.out;
    outputs["status.txt"] = std::to_string(run.status) + "\n" + run.err;
    std::vector<std::string> dumps;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        const std::string bytes = read_file(entry.path());
        if (entry.path().extension() == ".bin") {
            char line[160];
            std::snprintf(line, sizeof line, "%s %zu %016" PRIx64 "\n", name.c_str(), bytes.size(),
                          digest(bytes));
            dumps.push_back(line);
        } else {
            outputs[name] = bytes;
        }
    }
    std::sort(dumps.begin(), dumps.end());
    for (const std::string& line : dumps)
        outputs["dumps.txt"] += line;
    // What a replay of these dumps says otherwise in its JSON document: where it came from, and
    // the USB bridge's ID where the manifest records no bridge.
    run_whole_program(host, {"--replay", ".", "--json", "--output-dir", "replayed", "0y"});
    outputs["replay_json.txt"] = changed_lines(outputs["torvik_usb_pssd_flash_id.json"],
                                               read_file("replayed/torvik_usb_pssd_flash_id.json"));

    // The console of a --health run, whose block comes last and whose status is the verdict's;
    // then what its report file has after every line of the plain run's.
    ScratchDir health_dir;
    const ProgramRun health = run_whole_program(host, {"--health", sim.c_str(), "0y"});
    outputs["health.txt"] = health.out + "status " + std::to_string(health.status) + "\n";
    const std::string plain = outputs["torvik_usb_pssd_flash_id.txt"];
    const std::string with_health = read_file("torvik_usb_pssd_flash_id.txt");
    if (with_health.compare(0, plain.size(), plain) == 0)
        outputs["health.txt"] +=
            "report file, after the plain run's lines:\n" + with_health.substr(plain.size());
    else
        outputs["health.txt"] += "report file, not the plain run's lines first:\n" + with_health;
    return outputs;
}

fs::path golden_dir(const std::string& profile) {
    return fs::path(TORVIK_SOURCE_DIR) / "tests" / "golden" / profile;
}

Outputs read_golden(const fs::path& dir) {
    Outputs golden;
    if (fs::is_directory(dir)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(dir))
            golden[entry.path().filename().string()] = read_file(entry.path());
    }
    return golden;
}

void write_golden(const fs::path& dir, const Outputs& outputs) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& [name, content] : outputs) {
        std::ofstream out(dir / name, std::ios::binary);
        out << content;
        ASSERT_TRUE(out.good()) << dir / name;
    }
}

std::vector<std::string> profile_names() {
    std::vector<std::string> names;
    for (const SimProfile& profile : sim_profiles())
        names.emplace_back(profile.name);
    return names;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, OutputsMatchTheKeptFiles) {
    const Outputs outputs = run_profile(GetParam());
    const fs::path dir = golden_dir(GetParam());
    const char* update = std::getenv("TORVIK_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        write_golden(dir, outputs);
        GTEST_SKIP() << "rewrote " << dir;
    }
    const Outputs golden = read_golden(dir);
    ASSERT_FALSE(golden.empty()) << "no golden files in " << dir
                                 << ": make them with TORVIK_UPDATE_GOLDEN=1";
    for (const auto& [name, content] : golden) {
        const auto found = outputs.find(name);
        if (found == outputs.end()) {
            ADD_FAILURE() << name << " was not written";
            continue;
        }
        EXPECT_EQ(found->second, content) << "differs from " << dir / name;
    }
    for (const auto& [name, content] : outputs)
        EXPECT_TRUE(golden.count(name) != 0) << name << " was written but is not in " << dir;
}

INSTANTIATE_TEST_SUITE_P(Profiles, Golden, ::testing::ValuesIn(profile_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Every folder under tests/golden/ belongs to a profile, so none is left behind when one goes.
TEST(GoldenFolders, EachBelongsToAProfile) {
    const std::vector<std::string> names = profile_names();
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(TORVIK_SOURCE_DIR) / "tests" / "golden")) {
        const std::string name = entry.path().filename().string();
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end())
            << "tests/golden/" << name << " has no simulated drive";
    }
}

// --help as a whole: the options of both tables in their order and columns, and the files list.
TEST(GoldenHelp, MatchesTheKeptText) {
    const fs::path kept = fs::path(TORVIK_SOURCE_DIR) / "tests" / "help.txt";
    const char* update = std::getenv("TORVIK_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(kept, std::ios::binary) << usage_text();
        GTEST_SKIP() << "rewrote " << kept;
    }
    EXPECT_EQ(usage_text(), read_file(kept)) << "differs from " << kept;
}

}  // namespace
}  // namespace torvik::testing
