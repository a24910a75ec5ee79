#include "sim/replay.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace torvik {

namespace fs = std::filesystem;

namespace {

// The INQUIRY text at [offset, offset + size), cut at its first NUL.
std::string inquiry_text(const std::vector<std::uint8_t>& inquiry, std::size_t offset,
                         std::size_t size) {
    std::string text;
    for (std::size_t i = offset; i < offset + size && i < inquiry.size(); ++i) {
        if (inquiry[i] == 0)
            break;
        text.push_back(static_cast<char>(inquiry[i]));
    }
    return text;
}

}  // namespace

bool load_replay(const std::string& dir, SimProfileData& data, std::string& error) {
    std::error_code ec;
    const fs::path root(dir);
    if (!fs::is_directory(root, ec)) {
        error = "replay directory '" + dir + "' does not exist or is not a directory";
        return false;
    }
    fs::directory_iterator probe(root, ec);
    if (ec) {
        error = "cannot read replay directory '" + dir + "': " + ec.message();
        return false;
    }

    data = SimProfileData{};
    for (const CommandInfo& command : kCommands) {
        const std::size_t index = static_cast<std::size_t>(command.id);
        const fs::path file = root / command.dump_name;
        std::ifstream in(file, std::ios::binary);
        if (!in || !fs::is_regular_file(file, ec)) {
            data.replies[index].clear();
            data.faults[index] = Fault{FaultKind::platform_error, kReplayMissingFileError, 0};
            continue;
        }
        // Only the command's length can ever be sent, so a larger file is read no further.
        std::vector<std::uint8_t> bytes(command.length);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (in.bad()) {
            error = "cannot read '" + file.string() + "'";
            return false;
        }
        data.replies[index] = std::move(bytes);
    }
    const std::vector<std::uint8_t>& inquiry =
        data.replies[static_cast<std::size_t>(CommandId::inquiry)];
    data.vendor = inquiry_text(inquiry, 8, 8);
    data.product = inquiry_text(inquiry, 16, 16);
    return true;
}

}  // namespace torvik
