// torvik_usbdev: a USB mass-storage device in user space, for end-to-end tests of the tool
// through a real kernel's usb-storage driver (FunctionFS function of a configfs gadget).
//
//   torvik_usbdev [--check-condition CDB] [--no-reply CDB] [--log FILE] [--ready FILE] FFS_DIR
//
// --check-condition and --no-reply take the first CDB bytes in hex ("0600fd13") of the commands
// to refuse with CHECK CONDITION or to leave unanswered; both may be given several times.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/usbdev/bot.h"
#include "tests/e2e/usbdev/fault_responder.h"
#include "tests/e2e/usbdev/ffs_device.h"
#include "tests/e2e/usbdev/standard_responder.h"

namespace {

using namespace torvik::usbdev;

void usage() {
    std::fputs(
        "usage: torvik_usbdev [--check-condition CDB] [--no-reply CDB] [--log FILE]\n"
        "                     [--ready FILE] FFS_DIR\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    DeviceOptions options;
    std::vector<FaultRule> rules;
    std::string log_path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if ((arg == "--check-condition" || arg == "--no-reply") && has_value) {
            FaultRule rule;
            rule.kind =
                arg == "--no-reply" ? ScsiReply::Kind::no_reply : ScsiReply::Kind::check_condition;
            if (!parse_cdb_prefix(argv[++i], rule.cdb_prefix)) {
                std::fprintf(stderr, "usbdev: bad CDB bytes '%s'\n", argv[i]);
                return 2;
            }
            rules.push_back(rule);
        } else if (arg == "--log" && has_value) {
            log_path = argv[++i];
        } else if (arg == "--ready" && has_value) {
            options.ready_file = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && options.ffs_dir.empty()) {
            options.ffs_dir = arg;
        } else {
            usage();
            return 2;
        }
    }
    if (options.ffs_dir.empty()) {
        usage();
        return 2;
    }
    std::FILE* log = log_path.empty() ? stderr : std::fopen(log_path.c_str(), "w");
    if (log == nullptr) {
        std::fprintf(stderr, "usbdev: cannot create %s: %s\n", log_path.c_str(),
                     std::strerror(errno));
        return 2;
    }
    std::setvbuf(log, nullptr, _IOLBF, 0);
    options.log = log;

    StandardResponder disk{DiskIdentity{}};
    // The texts as INQUIRY carries them, for the checks of the drive listing.
    std::fprintf(log, "identity: vendor='%-8.8s' product='%-16.16s'\n",
                 disk.identity().vendor.c_str(), disk.identity().product.c_str());
    FaultResponder faults(disk, rules);
    BotSession session(faults);
    return run_ffs_device(options, session);
}
