#include "sim/replay.h"

#include <algorithm>

#include "common/crc32.h"
#include "platform/folder_reader.h"
#include "scsi/run_manifest.h"

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

constexpr std::size_t kMaxManifestFile = 64 * 1024;

// Reads the manifest of the folder when there is one (a regular file, as the dumps). False with
// error when it cannot be read or is not a manifest; present tells whether there was one.
bool read_manifest(const FolderReader& folder, const std::string& dir, RunManifest& manifest,
                   bool& present, std::string& error, std::vector<std::string>* notes) {
    present = false;
    std::vector<std::uint8_t> bytes;
    std::string reason;
    switch (folder.read(kManifestFileName, kMaxManifestFile + 1, bytes, reason)) {
        case FileRead::ok:
            break;
        case FileRead::not_regular:
            if (notes != nullptr)
                notes->push_back("replay manifest '" + dir + "/" + kManifestFileName +
                                 "' is not a regular file: replaying without it");
            return true;
        case FileRead::missing:
            return true;
        case FileRead::failed:
            error = "cannot read '" + dir + "/" + kManifestFileName + "': " + reason;
            return false;
    }
    const std::string text(bytes.begin(), bytes.end());
    std::string why;
    std::vector<std::string> refused;
    if (!parse_manifest(text, manifest, why, &refused)) {
        error = "replay manifest '" + dir + "/" + kManifestFileName + "' is not usable: " + why;
        return false;
    }
    for (const std::string& line : refused) {
        if (notes != nullptr)
            notes->push_back("replay manifest '" + dir + "/" + kManifestFileName + "' " + line);
    }
    present = true;
    return true;
}

// Answers each command as the manifest says the recorded run saw it. replies hold the dump
// files as read (one byte more than the command's length, so a longer file shows).
void apply_manifest(const RunManifest& manifest, const std::string& dir, SimProfileData& data,
                    std::vector<std::string>* notes) {
    for (const CommandInfo& command : kCommands) {
        const std::size_t index = static_cast<std::size_t>(command.id);
        const ManifestEntry& entry = manifest[index];
        std::vector<std::uint8_t>& reply = data.replies[index];
        Fault& fault = data.faults[index];
        const Fault missing{FaultKind::platform_error, kReplayMissingFileError, 0};
        if (!entry.sent || entry.outcome == CommandOutcome::failed) {
            reply.clear();
            fault = entry.sent ? Fault{FaultKind::platform_error, entry.error, 0} : missing;
            continue;
        }
        const bool dump_present = fault.kind == FaultKind::none;
        if (entry.dump) {
            // Only this run's dump, exactly as it was written, answers the command.
            if (!dump_present || reply.size() != entry.dump->length ||
                crc32(reply.data(), reply.size()) != entry.dump->crc32) {
                if (notes != nullptr) {
                    std::string note = "'";
                    note += dir;
                    note += '/';
                    note += command.dump_name;
                    note += dump_present ? "' does not match the length or checksum the "
                                           "manifest records; treated as missing"
                                         : "' is missing, though the manifest records it";
                    notes->push_back(std::move(note));
                }
                reply.clear();
                fault = missing;
                continue;
            }
        } else if (entry.zeros) {
            reply.assign(entry.received, 0);  // the run saw nothing but zeros and kept no dump
        } else {
            reply.clear();  // a file under this name is not this run's
            fault = missing;
            continue;
        }
        reply.resize(std::min<std::size_t>(reply.size(), entry.received));
        fault = entry.outcome == CommandOutcome::check_condition
                    ? Fault{FaultKind::check_condition, 0, entry.received}
                    : Fault{};
    }
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
        // Only the command's length can ever be sent, so a larger file is read no further (one
        // byte more tells a manifest's check that the file is longer than the dump was).
        std::vector<std::uint8_t> bytes;
        switch (folder.read(command.dump_name, command.length + 1, bytes, reason)) {
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
    RunManifest manifest;
    bool has_manifest = false;
    if (!read_manifest(folder, dir, manifest, has_manifest, error, notes))
        return false;
    if (has_manifest)
        apply_manifest(manifest, dir, data, notes);
    data.replayed = true;
    data.recorded_time = manifest.run_time;
    data.recorded_bridge = RecordedBridge{manifest.bridge.value_or(BridgeChoice{}), std::nullopt};
    if (has_manifest) {
        data.recorded_bridge->nvme_reads_sent =
            manifest[static_cast<std::size_t>(CommandId::nvme_identify)].sent ||
            manifest[static_cast<std::size_t>(CommandId::nvme_smart_log)].sent;
    }
    if (manifest.bridge && manifest.bridge->id)
        data.bridge_id = *manifest.bridge->id;
    for (const CommandInfo& command : kCommands) {
        std::vector<std::uint8_t>& reply = data.replies[static_cast<std::size_t>(command.id)];
        reply.resize(std::min<std::size_t>(reply.size(), command.length));
    }
    const std::vector<std::uint8_t>& inquiry =
        data.replies[static_cast<std::size_t>(CommandId::inquiry)];
    data.vendor = inquiry_text(inquiry, 8, 8);
    data.product = inquiry_text(inquiry, 16, 16);
    return true;
}

}  // namespace torvik
