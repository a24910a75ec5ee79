#include "report/report_recorder.h"

namespace torvik {

void ReportRecorder::sent(CommandId id, const std::uint8_t* area) {
    RecordedCommand& command = commands[static_cast<std::size_t>(id)];
    command.sent = true;
    command.reply.assign(area, area + command_info(id).length);
}

void ReportRecorder::failed(CommandId id, std::uint32_t error, const char* report_name) {
    commands[static_cast<std::size_t>(id)].failed = true;
    failures.push_back(FailedCommand{id, error, report_name});
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

}  // namespace torvik
