// The whole run on a simulated drive whose pages, reply lengths and per-command faults come from
// the input, with some output files that cannot be created.
//
// Input: a profile number, a tunnel flag, a 16-bit mask of output files that cannot be created
// (bits 0-12 the dumps in command order, 13 the report, 14 the health log, 15 the JSON report),
// then edits until the input ends. Each edit starts with a byte naming the command (byte % the
// number of commands) and the edit (byte / that number % 4): 0 a fault (kind, 32-bit error code,
// 16-bit short length), 1 a new page length (16 bits), 2 a patch (16-bit offset, count, bytes), 3
// the page filled with one byte value.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/report_check.h"
#include "report/drive_report.h"
#include "report/health_log.h"
#include "report/json_report.h"
#include "scsi/commands.h"
#include "sim/profiles.h"
#include "sim/sim_drive.h"

namespace {

using torvik::CommandId;
using torvik::CommandInfo;
using torvik::Fault;
using torvik::FaultKind;
using torvik::fuzz::InputReader;

void apply_edit(InputReader& in, torvik::SimDrive& drive) {
    const std::uint8_t op = in.byte();
    const CommandInfo& command = torvik::kCommands[op % torvik::kCommandCount];
    std::vector<std::uint8_t> page = drive.page(command.id);
    switch (op / torvik::kCommandCount % 4) {
        case 0: {
            Fault fault;
            fault.kind = static_cast<FaultKind>(in.byte() % 4);
            fault.error_code = in.u32();
            fault.short_length = in.u16();
            drive.set_fault(command.id, fault);
            return;
        }
        case 1:
            page.resize(in.u16() % (2 * command.length + 1), 0);
            break;
        case 2: {
            const std::size_t at = page.empty() ? 0 : in.u16() % page.size();
            const std::string bytes = in.bytes(in.byte());
            for (std::size_t i = 0; i < bytes.size() && at + i < page.size(); ++i)
                page[at + i] = static_cast<std::uint8_t>(bytes[i]);
            break;
        }
        default:
            page.assign(command.length, in.byte());
            break;
    }
    drive.set_page(command.id, page);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    torvik::fuzz::work_dir();
    InputReader in(data, size);
    const auto& profiles = torvik::sim_profiles();
    const torvik::SimProfile& profile = profiles[in.byte() % profiles.size()];
    torvik::SimDrive drive;
    torvik::load_profile(drive, profile.make());
    if (in.byte() & 1)
        drive.set_tunnel_supported(!drive.tunnel_supported());

    const std::uint16_t mask = in.u16();
    std::set<std::string> uncreatable;
    for (const CommandInfo& command : torvik::kCommands) {
        if (mask & (1u << static_cast<unsigned>(command.id)))
            uncreatable.insert(command.dump_name);
    }
    if (mask & (1u << 13))
        uncreatable.insert(torvik::kReportFileName);
    if (mask & (1u << 14))
        uncreatable.insert(torvik::kHealthLogFileName);
    if (mask & (1u << 15))
        uncreatable.insert(torvik::kJsonReportFileName);

    while (!in.empty())
        apply_edit(in, drive);
    torvik::fuzz::run_and_check(drive, uncreatable);
    return 0;
}
