// What a run learned, kept for the machine-readable report and the run's manifest. The drive
// report fills it in as it goes; nothing of the text output depends on it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "scsi/commands.h"
#include "scsi/run_manifest.h"
#include "transport/request.h"

namespace torvik {

// One command as the report saw it.
struct RecordedCommand {
    bool sent = false;
    bool failed = false;              // the report counted it failed
    CommandResult result;             // what the transport said of it
    std::vector<std::uint8_t> reply;  // its reply area after the command, the dump's length
};

struct FailedCommand {
    CommandId command;
    std::uint32_t error;  // the system's last error code
};

struct FileRecord {
    std::string name;
    FileOutcome outcome;
    std::uint32_t error;  // the system's error code when the file is not written
};

struct ReportRecorder {
    std::array<RecordedCommand, kCommandCount> commands{};  // by CommandId
    std::vector<FailedCommand> failures;                    // in the order they happened
    std::vector<FileRecord> files;                          // in the order they were written
    std::string model;  // the INQUIRY texts as the report shows them
    std::string revision;
    std::string serial;
    std::optional<std::uint64_t> last_lba;  // absent when the capacity commands did not give it
    std::uint16_t controller_id = 0;
    bool controller_supported = false;  // the gate let the report go on

    // A command was sent; area holds its reply (command_info(id).length bytes).
    void sent(CommandId id, const std::uint8_t* area, const CommandResult& result);
    void failed(CommandId id, std::uint32_t error);
    void file(const char* name, const FileResult& result);

    // The reply of a command that was sent and succeeded, in full; nullptr otherwise.
    const std::uint8_t* page(CommandId id) const;

    // What replay needs to answer every command as this run saw it: each command's outcome, and
    // the length and checksum of each dump that was written in full.
    RunManifest manifest() const;
};

}  // namespace torvik
