// The replay loader on a directory of dump files built from the input, then the whole run on the
// drive it describes.
//
// Input: for each command in order, a byte: % 4 == 0 no file, 1 a file (16-bit length, then that
// many bytes, zeros once the input ends), 2 a directory under the file's name, 3 an empty file.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/report_check.h"
#include "scsi/commands.h"
#include "sim/profiles.h"
#include "sim/replay.h"
#include "sim/sim_drive.h"

namespace {

namespace fs = std::filesystem;
using torvik::fuzz::InputReader;

enum class Entry { none, file, directory };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path root = torvik::fuzz::work_dir();
    const fs::path dir = root / "replay";
    fs::remove_all(dir);
    fs::create_directory(dir);

    InputReader in(data, size);
    std::vector<Entry> entries;
    std::vector<std::string> contents;
    for (const torvik::CommandInfo& command : torvik::kCommands) {
        const fs::path path = dir / command.dump_name;
        const std::uint8_t kind = in.byte() % 4;
        std::string content;
        if (kind == 1 || kind == 3) {
            if (kind == 1) {
                const std::size_t length = in.u16() % (2 * command.length + 1);
                content = in.bytes(length);
                content.resize(length, '\0');
            }
            std::ofstream(path, std::ios::binary)
                .write(content.data(), static_cast<std::streamsize>(content.size()));
            entries.push_back(Entry::file);
        } else if (kind == 2) {
            fs::create_directory(path);
            entries.push_back(Entry::directory);
        } else {
            entries.push_back(Entry::none);
        }
        contents.push_back(content);
    }

    torvik::SimProfileData loaded;
    std::string error;
    FUZZ_CHECK(torvik::load_replay(dir.string(), loaded, error));
    for (const torvik::CommandInfo& command : torvik::kCommands) {
        const std::size_t i = static_cast<std::size_t>(command.id);
        if (entries[i] == Entry::file) {
            // The file's bytes, cut to the command's length.
            const std::string& content = contents[i];
            const std::size_t keep = std::min<std::size_t>(content.size(), command.length);
            FUZZ_CHECK(loaded.replies[i] ==
                       std::vector<std::uint8_t>(content.begin(), content.begin() + keep));
            FUZZ_CHECK(loaded.faults[i].kind == torvik::FaultKind::none);
        } else {
            FUZZ_CHECK(loaded.replies[i].empty());
            FUZZ_CHECK(loaded.faults[i].kind == torvik::FaultKind::platform_error);
            FUZZ_CHECK(loaded.faults[i].error_code == torvik::kReplayMissingFileError);
        }
    }
    FUZZ_CHECK(loaded.vendor.size() <= 8 && loaded.product.size() <= 16);
    FUZZ_CHECK(loaded.vendor.find('\0') == std::string::npos);
    FUZZ_CHECK(loaded.product.find('\0') == std::string::npos);

    // A directory that is not there is refused with a message.
    torvik::SimProfileData none;
    error.clear();
    FUZZ_CHECK(!torvik::load_replay((dir / "missing").string(), none, error) && !error.empty());

    torvik::SimDrive drive;
    torvik::load_profile(drive, loaded);
    torvik::fuzz::run_and_check(drive, {});
    return 0;
}
