// torvik_e2e_expect: the tool's run against a drive model of the end-to-end device, on the host,
// to know what the tool in the guest must write.
//
//   torvik_e2e_expect PROFILE [ARGUMENT]
//
// Runs in the current directory, as the tool would with ARGUMENT as its first argument (none:
// the drive prompt, answered from standard input).
#include <cstdio>
#include <memory>

#include "app/run.h"
#include "platform/host_platform.h"
#include "sim/sim_drive.h"
#include "sim/sim_platform.h"
#include "tests/e2e/usbdev/profiles.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: torvik_e2e_expect PROFILE [ARGUMENT]\n", stderr);
        return 2;
    }
    torvik::SimDrive drive;
    if (!torvik::usbdev::apply_profile(argv[1], drive)) {
        std::fprintf(stderr, "torvik_e2e_expect: unknown profile '%s'\n", argv[1]);
        return 2;
    }
    std::unique_ptr<torvik::Platform> host = torvik::make_host_platform();
    torvik::SimPlatform platform(*host, drive);
    torvik::RunContext ctx{platform, stdout, stdin};
    return torvik::run(ctx, argc > 2 ? argv[2] : nullptr);
}
