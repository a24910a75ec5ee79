#include "report/report_recorder.h"

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

void ReportRecorder::file(const char* name, FileOutcome outcome) {
    files.push_back(OutputFile{name, outcome});
}

const std::uint8_t* ReportRecorder::page(CommandId id) const {
    const RecordedCommand& command = commands[static_cast<std::size_t>(id)];
    if (!command.sent || command.failed || command.reply.size() != command_info(id).length)
        return nullptr;
    return command.reply.data();
}

}  // namespace torvik
