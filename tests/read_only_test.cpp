// Nothing but reads ever reaches the drive: the checker itself, then every built-in drive and its
// replay, run through the whole program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/program.h"
#include "sim/profiles.h"
#include "sim/replay.h"
#include "tests/support/checked_drive.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch.h"
#include "tests/support/simulated_run.h"

namespace torvik::testing {
namespace {

SimRequest request(std::uint8_t opcode, std::uint8_t cdb_length, bool data_in,
                   std::uint32_t length) {
    SimRequest r;
    r.cdb[0] = opcode;
    r.cdb_length = cdb_length;
    r.data_in = data_in;
    r.transfer_length = length;
    return r;
}

TEST(ReadOnlyCheck, AcceptsTheReadsAndNothingElse) {
    struct Case {
        const char* what;
        SimRequest request;
        bool accepted;
    } cases[] = {
        {"INQUIRY", request(0x12, 6, true, 56), true},
        {"READ CAPACITY (10)", request(0x25, 10, true, 8), true},
        {"READ CAPACITY (16)", request(0x9E, 16, true, 32), true},
        {"vendor read", request(0x06, 16, true, 4096), true},
        {"tunnel read", request(0xE6, 16, true, 512), true},
        {"vendor command sending data", request(0x06, 12, false, 5), false},
        {"tunnel sending data", request(0xE6, 16, false, 512), false},
        {"vendor command without direction", request(0x06, 12, false, 0), false},
        {"WRITE (10)", request(0x2A, 10, false, 512), false},
        {"UNMAP", request(0x42, 10, false, 24), false},
        {"SYNCHRONIZE CACHE", request(0x35, 10, true, 0), false},
        {"FORMAT UNIT", request(0x04, 6, true, 0), false},
        {"empty CDB", request(0x12, 0, true, 56), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<bool>(only_reads({c.request})), c.accepted) << c.what;
        // One bad request among good ones is found.
        const std::vector<SimRequest> mixed = {request(0x12, 6, true, 56), c.request};
        EXPECT_EQ(static_cast<bool>(only_reads(mixed)), c.accepted) << c.what;
    }
}

// Runs the whole program against drive; returns its exit status.
int run_tool(CheckedSimDrive& drive, const char* first_arg, const std::string& typed = "") {
    FakePlatform host;
    Capture out;
    std::FILE* in = input_from(typed);
    const int status =
        run_on_simulated_drive(drive, host, host, Console{out.file(), out.file(), in}, first_arg);
    std::fclose(in);
    return status;
}

TEST(ReadOnly, EveryBuiltInDriveAndItsReplay) {
    for (const SimProfile& profile : sim_profiles()) {
        SCOPED_TRACE(profile.name);
        ScratchDir dir;
        CheckedSimDrive drive;
        load_profile(drive, profile.make());
        EXPECT_EQ(run_tool(drive, "0y"), kExitOk);
        // The prompt path lists the drives first.
        EXPECT_EQ(run_tool(drive, nullptr, "0y\n"), kExitOk);
        EXPECT_GE(drive.checked(), 8u);

        // The dumps the run wrote, replayed from the same directory.
        SimProfileData replayed;
        std::string error;
        ASSERT_TRUE(load_replay(dir.path().string(), replayed, error)) << error;
        CheckedSimDrive replay;
        load_profile(replay, replayed);
        EXPECT_EQ(run_tool(replay, "0y"), kExitOk);
        EXPECT_GE(replay.checked(), 4u);
    }
}

}  // namespace
}  // namespace torvik::testing
