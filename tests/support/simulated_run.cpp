#include "tests/support/simulated_run.h"

#include "app/examine_drive.h"
#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {

int run_on_simulated_drive(SimDrive& drive, Platform& host, FileStore& files,
                           const Console& console, const char* first_arg, const SimulatedRun& how) {
    SimPlatform platform(host, drive);
    RunContext ctx{.platform = platform,
                   .files = files,
                   .out = console.out,
                   .in = console.in,
                   .json = how.json,
                   .simulation = how.simulation,
                   .simulation_source = how.source,
                   .health = how.health,
                   .html = how.html,
                   .err = console.err};
    return examine_drive(ctx, first_arg);
}

DriveModel read_profile_model(const char* profile, const ReadHooks& hooks) {
    FakePlatform host;
    CheckedSimDrive drive;
    load_profile(drive, find_sim_profile(profile)->make());
    SimPlatform platform(host, drive);
    Capture console;
    const DriveHandle disk = platform.open_drive("\\\\.\\PhysicalDrive0", kDiskOpenFlags);
    DriveLink link{platform, disk, console.file()};
    ReadHooks called = hooks;
    if (!called.command_done)
        called.command_done = [](CommandId, bool) {};
    if (!called.stage_done)
        called.stage_done = [](ReadStage) {};
    DriveModel model;
    read_drive(link, model, called);
    platform.close_drive(disk);
    return model;
}

}  // namespace torvik::testing
