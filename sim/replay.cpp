#include "sim/replay.h"

#include "platform/folder_reader.h"

namespace torvik {

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

bool load_replay(const std::string& dir, SimProfileData& data, std::string& error,
                 std::vector<std::string>* notes) {
    FolderReader folder;
    std::string reason;
    switch (folder.open(dir, reason)) {
        case FolderOpen::ok:
            break;
        case FolderOpen::not_a_directory:
            error = "replay directory '" + dir + "' does not exist or is not a directory";
            return false;
        case FolderOpen::unreadable:
            error = "cannot read replay directory '" + dir + "': " + reason;
            return false;
    }

    data = SimProfileData{};
    for (const CommandInfo& command : kCommands) {
        const std::size_t index = static_cast<std::size_t>(command.id);
        // Only the command's length can ever be sent, so a larger file is read no further.
        std::vector<std::uint8_t> bytes;
        switch (folder.read(command.dump_name, command.length, bytes, reason)) {
            case FileRead::ok:
                data.replies[index] = std::move(bytes);
                continue;
            case FileRead::not_regular:
                if (notes != nullptr)
                    notes->push_back("'" + dir + "/" + command.dump_name +
                                     "' is not a regular file: taken as missing");
                break;
            case FileRead::missing:
                break;
            case FileRead::failed:
                error = "cannot read '" + dir + "/" + command.dump_name + "': " + reason;
                return false;
        }
        data.replies[index].clear();
        data.faults[index] = Fault{FaultKind::platform_error, kReplayMissingFileError, 0};
    }
    const std::vector<std::uint8_t>& inquiry =
        data.replies[static_cast<std::size_t>(CommandId::inquiry)];
    data.vendor = inquiry_text(inquiry, 8, 8);
    data.product = inquiry_text(inquiry, 16, 16);
    return true;
}

}  // namespace torvik
