#include "tests/support/profile_model.h"

#include "sim/profiles.h"
#include "sim/sim_platform.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"

namespace torvik::testing {

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
