#include "fuzz/report_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "app/exit_status.h"
#include "app/program.h"
#include "fuzz/fuzz_support.h"
#include "report/drive_report.h"
#include "report/health_log.h"
#include "report/json_report.h"
#include "scsi/bridge_table.h"
#include "scsi/commands.h"
#include "tests/support/fake_platform.h"
#include "tests/support/read_only_rule.h"
#include "tests/support/simulated_run.h"

namespace torvik::fuzz {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes read_whole(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes the drive hands over for a command: nullopt when the platform call fails.
std::optional<Bytes> delivered(const SimDrive& drive, CommandId id, bool tunnel_fails,
                               bool other_form) {
    const CommandInfo& command = command_info(id);
    const Fault& fault = drive.fault(id);
    if (command.form == CommandForm::tunnel && tunnel_fails)
        return std::nullopt;
    // A bridge of another form refuses the CDB with CHECK CONDITION before any data.
    if (command.form == CommandForm::tunnel && other_form)
        return Bytes{};
    if (fault.kind == FaultKind::platform_error)
        return std::nullopt;
    const Bytes& page = drive.page(id);
    std::size_t keep = std::min<std::size_t>(page.size(), command.length);
    // CHECK CONDITION ends the command after the bytes that still came, as short data does.
    if (fault.kind == FaultKind::short_data || fault.kind == FaultKind::check_condition)
        keep = std::min<std::size_t>(keep, fault.short_length);
    return Bytes(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(keep));
}

// The NVMe read a request of the 0xE4 form (its NVMe opcode in byte 3) or of the 0xA1 form's data
// phase (known by its length: Identify reads 4,096 bytes, the SMART log 512) carries.
std::optional<CommandId> bridge_tunnel_command(const SimRequest& request) {
    for (const CommandInfo& command : kCommands) {
        if (command.form != CommandForm::tunnel)
            continue;
        if (request.cdb[0] == 0xE4 ? request.cdb[3] == command.code
                                   : request.transfer_length == command.length)
            return command.id;
    }
    return std::nullopt;
}

}  // namespace

const std::set<std::string>& output_file_names() {
    static const std::set<std::string> names = [] {
        std::set<std::string> all = {kReportFileName, kHealthLogFileName, kJsonReportFileName};
        for (const CommandInfo& command : kCommands)
            all.insert(command.dump_name);
        return all;
    }();
    return names;
}

void run_and_check(SimDrive& drive, const std::set<std::string>& uncreatable) {
    for (const std::string& name : output_file_names()) {
        std::error_code ec;
        fs::remove(name, ec);
    }
    drive.clear_requests();
    testing::FakePlatform host;
    host.uncreatable = uncreatable;
    std::FILE* out = std::tmpfile();
    std::FILE* in = std::tmpfile();
    FUZZ_CHECK(out != nullptr && in != nullptr);
    // With the JSON and HTML reports: they decode every page the text report does, and more.
    const int status = testing::run_on_simulated_drive(
        drive, host, host, Console{out, out, in}, "0y", testing::SimulatedRun{.every_file = true});
    std::fclose(in);
    std::fclose(out);
    // Only a refused output file makes the run end with status 5.
    FUZZ_CHECK(status == kExitOk || (status == kExitFilesIncomplete && !uncreatable.empty()));

    std::set<CommandId> sent;
    for (const SimRequest& request : drive.requests()) {
        FUZZ_CHECK(testing::is_read_request(request));
        // The 0xA1 form's command block and completion frame the data phase, which stands for
        // the read.
        if (request.cdb[0] == testing::kTunnelA1 && request.cdb[1] != testing::kA1DataIn)
            continue;
        const std::optional<CommandId> id =
            request.cdb[0] == 0xE4 || request.cdb[0] == testing::kTunnelA1
                ? bridge_tunnel_command(request)
                : command_of(request.cdb.data(), request.cdb_length);
        FUZZ_CHECK(id.has_value());
        FUZZ_CHECK(sent.insert(*id).second);  // each command at most once
    }
    // INQUIRY, both capacity reads as the first answer calls for, the two identification pages.
    FUZZ_CHECK(sent.count(CommandId::inquiry) == 1 && sent.count(CommandId::read_info) == 1);

    // The run sends the form the bridge table gives the bridge's ID (0xE6 for an ID it does not
    // list). A bridge without the 0xE6 tunnel fails those reads; the other forms do not depend on
    // it. A bridge of another form than the one sent refuses each read.
    const std::optional<BridgeForm> sent_form = bridge_choice(drive.bridge_id()).form;
    const bool tunnel_fails = !drive.tunnel_supported() && drive.bridge_form() == BridgeForm::e6 &&
                              sent_form == BridgeForm::e6;
    const bool other_form = sent_form != drive.bridge_form();
    for (const CommandInfo& command : kCommands) {
        const bool refused = uncreatable.count(command.dump_name) != 0;
        if (sent.count(command.id) == 0 || refused) {
            FUZZ_CHECK(!fs::exists(command.dump_name));
            continue;
        }
        const std::optional<Bytes> got = delivered(drive, command.id, tunnel_fails, other_form);
        Bytes expected = got.value_or(Bytes{});
        expected.resize(command.length, 0);
        bool must_exist = true;
        if (command.id == CommandId::nvme_identify) {
            must_exist = got && std::any_of(expected.begin(), expected.end(),
                                            [](std::uint8_t b) { return b != 0; });
        } else if (command.id == CommandId::nvme_smart_log) {
            must_exist = got.has_value();
        }
        FUZZ_CHECK(fs::exists(command.dump_name) == must_exist);
        if (must_exist)
            FUZZ_CHECK(read_whole(command.dump_name) == expected);
    }
    FUZZ_CHECK(fs::exists(kReportFileName) == (uncreatable.count(kReportFileName) == 0));
    FUZZ_CHECK(fs::exists(kJsonReportFileName) == (uncreatable.count(kJsonReportFileName) == 0));
    const bool gate_passed = sent.count(CommandId::sysinfo) != 0;
    FUZZ_CHECK(fs::exists(kHealthLogFileName) ==
               (gate_passed && uncreatable.count(kHealthLogFileName) == 0));
}

}  // namespace torvik::fuzz
