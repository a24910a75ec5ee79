#include "report/report_recorder.h"

#include <algorithm>
#include <string_view>

#include "common/crc32.h"

namespace torvik {

void ReportRecorder::sent(CommandId id, const std::uint8_t* area, const CommandResult& result) {
    RecordedCommand& command = commands[static_cast<std::size_t>(id)];
    command.sent = true;
    command.result = result;
    command.reply.assign(area, area + command_info(id).length);
}

void ReportRecorder::failed(CommandId id, std::uint32_t error) {
    commands[static_cast<std::size_t>(id)].failed = true;
    failures.push_back(FailedCommand{id, error});
}

void ReportRecorder::file(const char* name, const FileResult& result) {
    files.push_back(FileRecord{name, result.outcome, result.error});
}

const std::uint8_t* ReportRecorder::page(CommandId id) const {
    const RecordedCommand& command = commands[static_cast<std::size_t>(id)];
    if (!command.sent || command.failed || command.reply.size() != command_info(id).length)
        return nullptr;
    return command.reply.data();
}

RunManifest ReportRecorder::manifest() const {
    RunManifest manifest;
    for (const CommandInfo& info : kCommands) {
        const RecordedCommand& command = commands[static_cast<std::size_t>(info.id)];
        ManifestEntry& entry = manifest[static_cast<std::size_t>(info.id)];
        if (!command.sent)
            continue;
        entry.sent = true;
        entry.outcome = command.result.outcome;
        entry.received = command.result.ok() ? command.result.received : 0;
        entry.error = command.result.ok() ? 0 : command.result.error;
        entry.zeros = std::all_of(command.reply.begin(), command.reply.end(),
                                  [](std::uint8_t b) { return b == 0; });
        const bool dumped = std::any_of(files.begin(), files.end(), [&](const FileRecord& f) {
            return f.name == info.dump_name && f.outcome == FileOutcome::written;
        });
        if (dumped) {
            entry.dump = ManifestDump{static_cast<std::uint32_t>(command.reply.size()),
                                      crc32(command.reply.data(), command.reply.size())};
        }
    }
    return manifest;
}

}  // namespace torvik
