// torvik_e2e_expect: the tool's run against a drive model of the end-to-end device, on the host,
// to know what the tool in the guest must write.
//
//   torvik_e2e_expect [--fault PAGE=check_condition|PAGE=platform_error:CODE]... PROFILE [ARGUMENT]
//
// Runs in the current directory, as the tool would with ARGUMENT as its first argument (none:
// the drive prompt, answered from standard input). A fault stands for what the device's fault
// rule makes of the command on the way through the kernel.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/examine_drive.h"
#include "platform/host_platform.h"
#include "platform/output_folder.h"
#include "sim/sim_drive.h"
#include "sim/sim_platform.h"
#include "tests/e2e/usbdev/profiles.h"

int main(int argc, char** argv) {
    std::vector<std::pair<torvik::CommandId, torvik::Fault>> faults;
    int i = 1;
    for (; i + 1 < argc && std::strcmp(argv[i], "--fault") == 0; i += 2) {
        torvik::CommandId command{};
        torvik::Fault fault;
        if (!torvik::usbdev::parse_fault(argv[i + 1], command, fault)) {
            std::fprintf(stderr, "torvik_e2e_expect: bad fault '%s'\n", argv[i + 1]);
            return 2;
        }
        faults.emplace_back(command, fault);
    }
    if (i >= argc) {
        std::fputs("usage: torvik_e2e_expect [--fault PAGE=KIND]... PROFILE [ARGUMENT]\n", stderr);
        return 2;
    }
    torvik::SimDrive drive;
    if (!torvik::usbdev::apply_profile(argv[i], drive)) {
        std::fprintf(stderr, "torvik_e2e_expect: unknown profile '%s'\n", argv[i]);
        return 2;
    }
    // After the profile, which brings faults of its own.
    for (const auto& [command, fault] : faults) {
        drive.set_fault(command, fault);
    }
    std::unique_ptr<torvik::Platform> host = torvik::make_host_platform();
    torvik::SimPlatform platform(*host, drive);
    std::string error;
    const std::unique_ptr<torvik::FileStore> files = torvik::open_output_folder("", error);
    torvik::RunContext ctx{.platform = platform, .files = *files, .out = stdout, .in = stdin};
    return torvik::examine_drive(ctx, i + 1 < argc ? argv[i + 1] : nullptr);
}
