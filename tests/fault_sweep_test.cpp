// Every way a single command or a single output file can fail, one run each, through the whole
// program: each run completes, prints exactly the failure lines the failure calls for, writes
// every dump it should with the bytes the drive sent, and still sends every later command.
//
// The expected outcome of each run is worked out from the command table and the drive's pages by
// a small model of the report's sequence, so a new command or a changed page is swept as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/program.h"
#include "common/bytes.h"
#include "model/controller_pages.h"
#include "report/drive_report.h"
#include "report/health_log.h"
#include "report/json_report.h"
#include "scsi/commands.h"
#include "sim/profiles.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"
#include "tests/support/simulated_run.h"

namespace torvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kErrorCodes[] = {0x1, 0x5, 0x1f, 0x79, 0x45d, 0xffffffff};

std::string hex_line(const char* format, const char* name, std::uint32_t code) {
    char line[96];
    if (name != nullptr)
        std::snprintf(line, sizeof line, format, name, static_cast<unsigned>(code));
    else
        std::snprintf(line, sizeof line, format, static_cast<unsigned>(code));
    return line;
}

struct Scenario {
    std::string what;
    std::optional<CommandId> faulted;
    Fault fault;
    std::string uncreatable;  // the output file whose creation fails, if any
};

struct Expected {
    std::vector<CommandId> sent;
    std::vector<std::string> console_failures;  // every line with " failed 0x", in order
    std::vector<std::string> report_failures;
    std::vector<std::optional<Bytes>> dumps;  // by CommandId: nullopt when none is written
    bool health_log = false;
};

// What the drive hands over for a command: nullopt when the platform call fails.
std::optional<Bytes> delivered(const SimProfileData& data, const Scenario& s, CommandId id) {
    const Fault fault = s.faulted == id ? s.fault : Fault{};
    if (fault.kind == FaultKind::platform_error)
        return std::nullopt;
    if (fault.kind == FaultKind::check_condition)
        return Bytes{};
    Bytes bytes = data.replies[static_cast<std::size_t>(id)];
    std::size_t keep = std::min<std::size_t>(bytes.size(), command_info(id).length);
    if (fault.kind == FaultKind::short_data)
        keep = std::min<std::size_t>(keep, fault.short_length);
    bytes.resize(keep);
    return bytes;
}

// The command's area after the read: what came, then the zeros it was cleared to.
Bytes area(const std::optional<Bytes>& got, CommandId id) {
    Bytes bytes = got.value_or(Bytes{});
    bytes.resize(command_info(id).length, 0);
    return bytes;
}

Expected expect(const SimProfileData& data, const Scenario& s) {
    Expected e;
    e.dumps.resize(kCommandCount);
    std::uint32_t last_error = 0;  // the code the report prints for a read that returned zero
    const auto query = [&](CommandId id) {
        e.sent.push_back(id);
        const std::optional<Bytes> got = delivered(data, s, id);
        if (!got) {
            last_error = s.fault.error_code;
            const char* name = command_info(id).failure_name;
            if (id != CommandId::inquiry) {
                e.console_failures.push_back(hex_line(name == nullptr
                                                          ? "IOCtl: ASM Id/Smart failed 0x%x!\n"
                                                          : "IOCtl: failed 0x%x!\n",
                                                      nullptr, last_error));
            }
            if (name != nullptr) {
                e.console_failures.push_back(
                    hex_line("IOCtl: %s failed 0x%x!\n", name, last_error));
                e.report_failures.push_back(e.console_failures.back());
            }
        }
        return got;
    };
    const auto dump = [&](CommandId id, const std::optional<Bytes>& got) {
        e.dumps[static_cast<std::size_t>(id)] = area(got, id);
    };

    for (CommandId id : {CommandId::inquiry, CommandId::read_capacity10}) {
        dump(id, query(id));
    }
    const std::optional<Bytes> cap10 = delivered(data, s, CommandId::read_capacity10);
    const std::uint32_t lba = cap10 ? get_be32(area(cap10, CommandId::read_capacity10).data()) : 0;
    if (cap10 && lba == 0) {
        // The drive answered without a block address: READ CAPACITY (10) returned zero all the
        // same.
        e.console_failures.push_back(hex_line("IOCtl: %s failed 0x%x!\n",
                                              command_info(CommandId::read_capacity10).failure_name,
                                              last_error));
        e.report_failures.push_back(e.console_failures.back());
    }
    if (lba == 0xFFFFFFFF)
        dump(CommandId::read_capacity16, query(CommandId::read_capacity16));
    dump(CommandId::read_fid, query(CommandId::read_fid));
    const std::optional<Bytes> info = query(CommandId::read_info);
    dump(CommandId::read_info, info);

    const std::uint16_t controller =
        get_be16(area(info, CommandId::read_info).data() + kInfoControllerId.offset);
    // The sweep runs with the JSON report, so the bridge is read whatever the controller.
    if (controller_supported(controller)) {
        for (const CommandInfo& command : kCommands) {
            if (command.form == CommandForm::vendor16)
                dump(command.id, query(command.id));
        }
        e.health_log = true;
    }
    const std::optional<Bytes> identify = query(CommandId::nvme_identify);
    const Bytes identify_area = area(identify, CommandId::nvme_identify);
    if (identify && std::any_of(identify_area.begin(), identify_area.end(),
                                [](std::uint8_t b) { return b != 0; })) {
        dump(CommandId::nvme_identify, identify);
    }
    const std::optional<Bytes> smart_log = query(CommandId::nvme_smart_log);
    if (smart_log)
        dump(CommandId::nvme_smart_log, smart_log);
    return e;
}

std::vector<std::string> lines_with(const std::string& text, const std::string& part) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // a text file written on Windows
        if (line.find(part) != std::string::npos)
            found.push_back(line + "\n");
    }
    return found;
}

// The message each output file prints when it cannot be created.
std::string create_error(const std::string& name) {
    if (name == kReportFileName)
        return "Create log file error\n";
    if (name == kHealthLogFileName)
        return "Create Smart Log File Error\n";
    return name + ": Create File Error\n";
}

// Runs one scenario through the whole program and checks it against the model.
void sweep_one(const SimProfileData& data, const Scenario& s) {
    SCOPED_TRACE(s.what);
    ScratchDir dir;
    CheckedSimDrive drive;
    load_profile(drive, data);
    if (s.faulted)
        drive.set_fault(*s.faulted, s.fault);
    FakePlatform host;
    if (!s.uncreatable.empty())
        host.uncreatable.insert(s.uncreatable);
    Capture out;
    std::FILE* in = input_from("");
    // With the JSON and HTML reports, so that they too are written after every fault.
    const int status =
        run_on_simulated_drive(drive, host, host, Console{out.file(), out.file(), in}, "0y",
                               SimulatedRun{.every_file = true});
    std::fclose(in);
    const std::string console = out.text();
    const Expected e = expect(data, s);

    std::vector<CommandId> sent;
    for (const SimRequest& request : drive.requests()) {
        const std::optional<CommandId> id = command_of(request.cdb.data(), request.cdb_length);
        ASSERT_TRUE(id.has_value());
        sent.push_back(*id);
    }
    EXPECT_EQ(sent, e.sent);
    EXPECT_EQ(lines_with(console, " failed 0x"), e.console_failures) << console;

    const bool report_created = s.uncreatable != kReportFileName;
    EXPECT_EQ(dir.exists(kReportFileName), report_created);
    if (report_created) {
        EXPECT_EQ(lines_with(dir.read(kReportFileName), " failed 0x"), e.report_failures);
    }
    EXPECT_EQ(dir.exists(kHealthLogFileName), e.health_log && s.uncreatable != kHealthLogFileName);

    std::vector<std::string> create_errors;
    if (!report_created)
        create_errors.push_back(create_error(kReportFileName));
    for (const CommandInfo& command : kCommands) {
        const std::optional<Bytes>& dump = e.dumps[static_cast<std::size_t>(command.id)];
        const bool refused = s.uncreatable == command.dump_name;
        EXPECT_EQ(dir.exists(command.dump_name), dump.has_value() && !refused) << command.dump_name;
        if (dump && !refused) {
            EXPECT_EQ(dir.read_bytes(command.dump_name), *dump) << command.dump_name;
        }
        if (dump && refused)
            create_errors.push_back(create_error(command.dump_name));
        if (command.id == CommandId::smartext && e.health_log &&
            s.uncreatable == kHealthLogFileName)
            create_errors.push_back(create_error(kHealthLogFileName));
    }
    const bool json_refused = s.uncreatable == kJsonReportFileName;
    EXPECT_EQ(dir.exists(kJsonReportFileName), !json_refused);
    if (json_refused)
        create_errors.push_back(create_error(kJsonReportFileName));
    EXPECT_EQ(lines_with(console, "Create "), create_errors);
    // A file that could not be created makes the run's status say so.
    EXPECT_EQ(status, create_errors.empty() ? kExitOk : kExitFilesIncomplete);
}

std::vector<Scenario> drive_faults() {
    std::vector<Scenario> scenarios;
    for (const CommandInfo& command : kCommands) {
        const std::string name = command.dump_name;
        for (std::uint32_t code : kErrorCodes) {
            scenarios.push_back({name + ": platform error " + std::to_string(code), command.id,
                                 Fault{FaultKind::platform_error, code, 0}, ""});
        }
        scenarios.push_back(
            {name + ": CHECK CONDITION", command.id, Fault{FaultKind::check_condition, 0, 0}, ""});
        for (std::uint32_t length : {0u, 1u, command.length / 2, command.length - 1}) {
            scenarios.push_back({name + ": " + std::to_string(length) + " bytes", command.id,
                                 Fault{FaultKind::short_data, 0, length}, ""});
        }
    }
    return scenarios;
}

std::vector<Scenario> file_failures() {
    std::vector<Scenario> scenarios = {
        {"report file", std::nullopt, Fault{}, kReportFileName},
        {"health log", std::nullopt, Fault{}, kHealthLogFileName},
        {"JSON report", std::nullopt, Fault{}, kJsonReportFileName},
    };
    for (const CommandInfo& command : kCommands)
        scenarios.push_back({command.dump_name, std::nullopt, Fault{}, command.dump_name});
    return scenarios;
}

// The default drive skips READ CAPACITY (16); the 4 TB one sends all thirteen commands.
constexpr const char* kProfiles[] = {"default", "large"};

TEST(FaultSweep, EveryFaultOfEveryCommand) {
    std::size_t runs = 0;
    for (const char* profile : kProfiles) {
        SCOPED_TRACE(profile);
        const SimProfileData data = find_sim_profile(profile)->make();
        for (const Scenario& s : drive_faults()) {
            sweep_one(data, s);
            ++runs;
        }
    }
    // Six error codes, CHECK CONDITION and four short lengths for each command, on two drives.
    EXPECT_EQ(runs, 2 * kCommandCount * (std::size(kErrorCodes) + 1 + 4));
}

TEST(FaultSweep, EveryOutputFileThatCannotBeCreated) {
    for (const char* profile : kProfiles) {
        SCOPED_TRACE(profile);
        const SimProfileData data = find_sim_profile(profile)->make();
        for (const Scenario& s : file_failures())
            sweep_one(data, s);
    }
}

}  // namespace
}  // namespace torvik::testing
