#include "sim/replay.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/crc32.h"
#include "scsi/run_manifest.h"

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

constexpr std::size_t kMaxManifestFile = 64 * 1024;

// Reads the manifest of dir when there is one. False with error when it cannot be read or is
// not a manifest; present tells whether there was one.
bool read_manifest(const fs::path& root, RunManifest& manifest, bool& present, std::string& error) {
    std::error_code ec;
    const fs::path file = root / kManifestFileName;
    present = false;
    if (!fs::is_regular_file(file, ec))
        return true;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return true;
    std::string text(kMaxManifestFile + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    std::string why;
    if (in.bad() || !parse_manifest(text, manifest, why)) {
        error = "replay manifest '" + file.string() +
                "' is not usable: " + (in.bad() ? std::string("read error") : why);
        return false;
    }
    present = true;
    return true;
}

// Answers each command as the manifest says the recorded run saw it. replies hold the dump
// files as read (one byte more than the command's length, so a longer file shows).
void apply_manifest(const RunManifest& manifest, const fs::path& root, SimProfileData& data,
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
                    note += (root / command.dump_name).string();
                    note +=
                        "' does not match the length or checksum the manifest records; "
                        "treated as missing";
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
        // Only a regular file answers: opening a named pipe or a device could wait forever.
        std::ifstream in;
        if (fs::is_regular_file(file, ec))
            in.open(file, std::ios::binary);
        if (!in.is_open()) {
            data.replies[index].clear();
            data.faults[index] = Fault{FaultKind::platform_error, kReplayMissingFileError, 0};
            continue;
        }
        // Only the command's length can ever be sent, so a larger file is read no further (one
        // byte more tells a manifest's check that the file is longer than the dump was).
        std::vector<std::uint8_t> bytes(command.length + 1);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (in.bad()) {
            error = "cannot read '" + file.string() + "'";
            return false;
        }
        data.replies[index] = std::move(bytes);
    }
    RunManifest manifest;
    bool has_manifest = false;
    if (!read_manifest(root, manifest, has_manifest, error))
        return false;
    if (has_manifest) {
        apply_manifest(manifest, root, data, notes);
    }
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
