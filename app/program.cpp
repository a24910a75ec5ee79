#include "app/program.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/all_drives.h"
#include "app/command_line.h"
#include "app/decode_command.h"
#include "app/drive_scan.h"
#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/program_message.h"
#include "app/program_version.h"
#include "app/run_start.h"
#include "common/printable_text.h"
#include "platform/host_platform.h"
#include "report/health_block.h"
#include "sim/profiles.h"
#include "sim/replay.h"
#include "sim/several_drives.h"
#include "sim/sim_drive.h"
#include "sim/sim_platform.h"

namespace torvik {

namespace {

void list_profiles(std::FILE* out) {
    for (const SimProfile& profile : sim_profiles()) {
        std::fprintf(out, "%-14s %s\n", profile.name, profile.summary);
    }
}

// A run whose output is its product (help, version, the lists) fails when that output does not
// all reach its destination (a full disk, a closed pipe): said on standard error, status 1.
// write_error is the reason of a write that failed before the flush (a text longer than the
// stream's buffer is written while it is printed).
int finish_printed_output(const Console& console, int status, int write_error = 0) {
    errno = 0;
    if (flushed_cleanly(console.out))
        return status;
    const int error = errno != 0 ? errno : write_error;
    print_message(console.err, "writing the output failed: %s\n",
                  error != 0 ? std::strerror(error) : "write error");
    return kExitUsage;
}

int unknown_profile(const std::string& name, const Console& console) {
    print_message(console.err, "unknown simulated drive '%s'; one of:\n",
                  printable_text(name.c_str()).c_str());
    list_profiles(console.err);
    return kExitUsage;
}

// Everything but help, version and --decode, once the drive's platform is chosen. simulation and
// source say what the JSON report calls drive 0: "sim" with the profile name, "replay" with the
// directory, or both empty for a real drive. The output folder is opened (and made) before the
// drive is touched.
int run_on(Platform& platform, const OutputFolderOpener& open_folder, const Console& console,
           const CommandLine& cl, const std::string& simulation, const std::string& source,
           const std::vector<std::string>& sources = {},
           const std::optional<RecordedBridge>& recorded_bridge = std::nullopt) {
    if (cl.mode == Mode::list)
        return finish_printed_output(
            console, list_command(platform, console.out, console.err, cl.asks(OutputId::json)));
    std::string error;
    const std::unique_ptr<FileStore> files = open_folder(cl.output_dir, error);
    if (files == nullptr) {
        print_message(console.err, "%s\n", printable_text(error.c_str()).c_str());
        return kExitUsage;
    }
    std::optional<std::int32_t> drive;
    if (!cl.device.empty()) {
        drive = find_named_drive(platform, cl.device, console.err);
        if (!drive)
            return kExitBadDrive;
    }
    // --json=-: standard output carries the document alone; the run's lines go to standard error.
    // --brief: it carries the verdict alone; the run's lines go nowhere.
    const bool json_stdout = cl.asks(OutputId::json_stdout);
    std::FILE* lines = json_stdout ? console.err : console.out;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> discarded(
        cl.brief ? std::fopen(kNullDevice, "w") : nullptr, &std::fclose);
    if (cl.brief) {
        if (discarded == nullptr) {
            print_message(console.err, "--brief: %s cannot be opened\n", kNullDevice);
            return kExitUsage;
        }
        lines = discarded.get();
    }
    const bool health = cl.asks(OutputId::health);
    RunContext ctx{
        .platform = platform,
        .files = *files,
        .out = lines,
        .in = console.in,
        .asked = cl.asked,
        .simulation = simulation,
        .simulation_source = source,
        .err = console.err,
        .named_drive = drive,
        .output_dir = cl.output_dir,
        .colour = health && wants_colour(terminal_shows_colour(cl.brief ? console.out : lines),
                                         std::getenv("NO_COLOR"), std::getenv("TERM")),
        .json_out = json_stdout ? console.out : nullptr,
        .metrics_file = cl.metrics_file,
        .open_folder = &open_folder,
        .simulation_sources = sources,
        .history = cl.history,
        .verdict_out = cl.brief ? console.out : nullptr,
        .forced_bridge = cl.bridge,
        .recorded_bridge = recorded_bridge};
    if (cl.asks(OutputId::all_summary))
        return examine_all_drives(ctx);
    return examine_drive(ctx, cl.first_arg);
}

// Runs with drive 0 answered by a simulated drive loaded with data.
int run_simulated(const SimProfileData& data, Platform& host, const OutputFolderOpener& open_folder,
                  const Console& console, const CommandLine& cl, const std::string& source) {
    SimDrive drive;
    load_profile(drive, data);
    SimPlatform platform(host, drive);
    if (data.replayed)
        platform.replay_time(data.recorded_time);
    return run_on(platform, open_folder, console, cl, cl.sim ? "sim" : "replay", source, {},
                  data.recorded_bridge);
}

// Several simulated drives: the system disk as drive 0, then one drive for each profile named.
int run_several_simulated(const std::string& list, Platform& host,
                          const OutputFolderOpener& open_folder, const Console& console,
                          const CommandLine& cl) {
    const std::vector<std::string> names = profile_list(list);
    std::vector<SimDrive> drives(names.size() + 1);
    load_system_disk(drives.front());
    std::vector<std::string> sources{""};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const SimProfile* profile = find_sim_profile(names[i]);
        if (profile == nullptr)
            return unknown_profile(names[i], console);
        load_profile(drives[i + 1], make_profile(*profile, host.run_time()));
        sources.push_back(names[i]);
    }
    std::vector<SimDrive*> numbered;
    for (SimDrive& drive : drives)
        numbered.push_back(&drive);
    SimPlatform platform(host, std::move(numbered));
    return run_on(platform, open_folder, console, cl, "sim", list, sources);
}

}  // namespace

int run_program(int argc, const char* const* argv, Platform& host,
                const OutputFolderOpener& open_folder, const Console& console) {
    const CommandLine cl = parse_command_line(argc, argv);
    switch (cl.mode) {
        case Mode::help:
            errno = 0;
            std::fputs(usage_text().c_str(), console.out);
            return finish_printed_output(console, kExitOk, errno);
        case Mode::version:
            // The first line alone is what manual-page tools take for the version.
            std::fprintf(console.out, "%s %s\nbuilt for %s\n", kProgramName, kProgramVersion,
                         host_platform_name());
            return finish_printed_output(console, kExitOk);
        case Mode::decode: {
            const int status =
                run_decode_command(static_cast<int>(cl.decode_args.size()), cl.decode_args.data(),
                                   console.in, console.out, console.err, is_terminal(console.in));
            // Standard output is closed here rather than at exit, where a failure goes unseen.
            if (console.out == stdout)
                return close_decode_output(stdout, console.err, status);
            return status;
        }
        case Mode::sim_list:
            list_profiles(console.out);
            return finish_printed_output(console, kExitOk);
        case Mode::error:
            print_message(console.err, "%s\n%s", cl.message.c_str(), usage_line());
            return kExitUsage;
        case Mode::list:
        case Mode::run:
            break;
    }
    if (cl.mode == Mode::run) {
        // The null device stands for a standard output closed at start: the document would reach
        // nobody, and the run would say it was written.
        if (cl.asks(OutputId::json_stdout) && console.out_closed) {
            print_message(console.err,
                          "--json=-: standard output is closed; nothing would receive the "
                          "document (--json writes it to a file)\n");
            return kExitUsage;
        }
        if (const int status = check_run_start(cl, open_folder, console.err); status != kExitOk)
            return status;
    }

    if (cl.sim) {
        const std::string name = cl.sim_profile.empty() ? "default" : cl.sim_profile;
        if (names_several_drives(name))
            return run_several_simulated(name, host, open_folder, console, cl);
        const SimProfile* profile = find_sim_profile(name);
        if (profile == nullptr)
            return unknown_profile(name, console);
        return run_simulated(make_profile(*profile, host.run_time()), host, open_folder, console,
                             cl, name);
    }
    if (cl.replay) {
        // Every file is read before anything is written, so the directory may be the current one
        // or the output directory.
        SimProfileData data;
        std::string error;
        std::vector<std::string> notes;
        const bool loaded = load_replay(cl.replay_dir, data, error, &notes);
        for (const std::string& note : notes) {
            print_message(console.err, "%s\n", printable_text(note.c_str()).c_str());
        }
        if (!loaded) {
            print_message(console.err, "%s\n", printable_text(error.c_str()).c_str());
            return kExitUsage;
        }
        return run_simulated(data, host, open_folder, console, cl, cl.replay_dir);
    }
    return run_on(host, open_folder, console, cl, "", "");
}

}  // namespace torvik
