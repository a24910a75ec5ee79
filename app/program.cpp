#include "app/program.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/decode_command.h"
#include "app/drive_lookup.h"
#include "app/examine_drive.h"
#include "app/exit_status.h"
#include "app/output_dir.h"
#include "common/printable_text.h"
#include "platform/host_platform.h"
#include "report/health_block.h"
#include "sim/profiles.h"
#include "sim/replay.h"
#include "sim/sim_drive.h"
#include "sim/sim_platform.h"

namespace torvik {

namespace {

void list_profiles(std::FILE* out) {
    for (const SimProfile& profile : sim_profiles()) {
        std::fprintf(out, "%-14s %s\n", profile.name, profile.summary);
    }
}

int unknown_profile(const std::string& name, const Console& console) {
    std::fprintf(console.err, "torvik_usb_pssd_flash_id: unknown simulated drive '%s'; one of:\n",
                 printable_text(name.c_str()).c_str());
    list_profiles(console.err);
    return kExitUsage;
}

// Everything but help, version and --decode, once the drive's platform is chosen.
int run_on(Platform& platform, const Console& console, const CommandLine& cl,
           const SimulatedRun& how) {
    if (cl.mode == Mode::list)
        return list_command(platform, console.out, console.err, cl.json);
    std::optional<std::int32_t> drive;
    if (!cl.device.empty()) {
        drive = find_named_drive(platform, cl.device, console.err);
        if (!drive)
            return kExitBadDrive;
    }
    std::optional<OutputDirPlatform> in_dir;
    if (!cl.output_dir.empty()) {
        std::string error;
        if (!prepare_output_dir(cl.output_dir, error)) {
            std::fprintf(console.err, "torvik_usb_pssd_flash_id: %s\n",
                         printable_text(error.c_str()).c_str());
            return kExitUsage;
        }
        in_dir.emplace(platform, cl.output_dir);
    }
    // --json=-: standard output carries the document alone; the run's lines go to standard error.
    std::FILE* lines = cl.json_stdout ? console.err : console.out;
    RunContext ctx{in_dir ? static_cast<Platform&>(*in_dir) : platform,
                   lines,
                   console.in,
                   how.json,
                   how.simulation,
                   how.source,
                   how.health,
                   how.html};
    ctx.err = console.err;
    ctx.named_drive = drive;
    ctx.output_dir = cl.output_dir;
    ctx.json_out = cl.json_stdout ? console.out : nullptr;
    ctx.colour = cl.health && wants_colour(terminal_shows_colour(lines), std::getenv("NO_COLOR"),
                                           std::getenv("TERM"));
    return examine_drive(ctx, cl.first_arg);
}

// Runs with drive 0 answered by a simulated drive loaded with data.
int run_simulated(const SimProfileData& data, Platform& host, const Console& console,
                  const CommandLine& cl, const std::string& source) {
    SimDrive drive;
    load_profile(drive, data);
    SimPlatform platform(host, drive);
    if (data.replayed)
        platform.replay_time(data.recorded_time);
    const SimulatedRun how{cl.json, cl.sim ? "sim" : "replay", source, cl.health, cl.html};
    return run_on(platform, console, cl, how);
}

}  // namespace

int run_on_simulated_drive(SimDrive& drive, Platform& host, const Console& console,
                           const char* first_arg, const SimulatedRun& how) {
    SimPlatform platform(host, drive);
    RunContext ctx{platform,       console.out, console.in, how.json,
                   how.simulation, how.source,  how.health, how.html};
    ctx.err = console.err;
    return examine_drive(ctx, first_arg);
}

int run_program(int argc, const char* const* argv, Platform& host, const Console& console) {
    const CommandLine cl = parse_command_line(argc, argv);
    switch (cl.mode) {
        case Mode::help:
            std::fputs(usage_text().c_str(), console.out);
            return kExitOk;
        case Mode::version:
            // The first line alone is what manual-page tools take for the version.
            std::fprintf(console.out, "torvik_usb_pssd_flash_id %s\nbuilt for %s\n",
                         kProgramVersion, host_platform_name());
            return kExitOk;
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
            return kExitOk;
        case Mode::error:
            std::fprintf(console.err, "torvik_usb_pssd_flash_id: %s\n%s", cl.message.c_str(),
                         usage_line());
            return kExitUsage;
        case Mode::list:
        case Mode::run:
            break;
    }

    if (cl.sim) {
        const std::string name = cl.sim_profile.empty() ? "default" : cl.sim_profile;
        const SimProfile* profile = find_sim_profile(name);
        if (profile == nullptr)
            return unknown_profile(name, console);
        return run_simulated(profile->make(), host, console, cl, name);
    }
    if (cl.replay) {
        // Every file is read before anything is written, so the directory may be the current one
        // or the output directory.
        SimProfileData data;
        std::string error;
        std::vector<std::string> notes;
        const bool loaded = load_replay(cl.replay_dir, data, error, &notes);
        for (const std::string& note : notes) {
            std::fprintf(console.err, "torvik_usb_pssd_flash_id: %s\n",
                         printable_text(note.c_str()).c_str());
        }
        if (!loaded) {
            std::fprintf(console.err, "torvik_usb_pssd_flash_id: %s\n",
                         printable_text(error.c_str()).c_str());
            return kExitUsage;
        }
        return run_simulated(data, host, console, cl, cl.replay_dir);
    }
    return run_on(host, console, cl, SimulatedRun{cl.json, "", "", cl.health, cl.html});
}

}  // namespace torvik
