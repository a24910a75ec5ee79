#include "app/entry.h"

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/decode_command.h"
#include "app/exit_status.h"
#include "app/run.h"
#include "platform/host_platform.h"
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
                 name.c_str());
    list_profiles(console.err);
    return kExitUsage;
}

// Runs the tool with drive 0 answered by the simulated drive loaded with data.
int run_simulated(const SimProfileData& data, Platform& host, const Console& console,
                  const CommandLine& cl, const std::string& source) {
    SimDrive drive;
    load_profile(drive, data);
    const SimulatedRun how{cl.json, cl.sim ? "sim" : "replay", source, cl.health, cl.html};
    return run_on_simulated_drive(drive, host, console, cl.first_arg, how);
}

}  // namespace

int run_on_simulated_drive(SimDrive& drive, Platform& host, const Console& console,
                           const char* first_arg, const SimulatedRun& how) {
    SimPlatform platform(host, drive);
    RunContext ctx{platform,       console.out, console.in, how.json,
                   how.simulation, how.source,  how.health, how.html,
                   console.err};
    return run(ctx, first_arg);
}

int run_program(int argc, const char* const* argv, Platform& host, const Console& console) {
    const CommandLine cl = parse_command_line(argc, argv);
    switch (cl.mode) {
        case Mode::help:
            std::fputs(usage_text(), console.out);
            return kExitOk;
        case Mode::version:
            std::fprintf(console.out, "torvik_usb_pssd_flash_id %s (%s)\n", kProgramVersion,
                         host_platform_name());
            return kExitOk;
        case Mode::decode: {
            const int status = run_decode_command(argc - cl.next, argv + cl.next, console.in,
                                                  console.out, console.err);
            // Standard output is closed here rather than at exit, where a failure goes unseen.
            if (console.out == stdout)
                return close_decode_output(stdout, console.err, status);
            return status;
        }
        case Mode::sim_list:
            list_profiles(console.out);
            return kExitOk;
        case Mode::error:
            std::fprintf(console.err, "torvik_usb_pssd_flash_id: %s\n", cl.message.c_str());
            return kExitUsage;
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
        // Every file is read before anything is written, so the directory may be the current one.
        SimProfileData data;
        std::string error;
        std::vector<std::string> notes;
        const bool loaded = load_replay(cl.replay_dir, data, error, &notes);
        for (const std::string& note : notes)
            std::fprintf(console.err, "torvik_usb_pssd_flash_id: %s\n", note.c_str());
        if (!loaded) {
            std::fprintf(console.err, "torvik_usb_pssd_flash_id: %s\n", error.c_str());
            return kExitUsage;
        }
        return run_simulated(data, host, console, cl, cl.replay_dir);
    }
    RunContext ctx{host, console.out, console.in, cl.json, "", "", cl.health, cl.html, console.err};
    return run(ctx, cl.first_arg);
}

}  // namespace torvik
