// torvik_usbdev: a USB mass-storage device in user space, for end-to-end tests of the tool
// through a real kernel's usb-storage driver (FunctionFS function of a configfs gadget).
//
//   torvik_usbdev [--profile NAME] [--check-condition CDB] [--no-reply CDB] [--write-protected]
//                 [--nvme NODE] [--tunnel FORM] [--tunnel-log-id HEX] [--log FILE]
//                 [--ready FILE] FFS_DIR
//
// --profile names the drive model (tests/e2e/usbdev/profiles.h; "patterned" when not given).
// --check-condition and --no-reply take the first CDB bytes in hex ("0600fd13") of the commands
// to refuse with CHECK CONDITION or to leave unanswered; both may be given several times.
// --write-protected presents a write-protected medium (the WP bit in the MODE SENSE replies).
// --nvme passes the bridge tunnel's Identify and Get Log Page to the NVMe controller NODE
// (/dev/nvme0) through the kernel's admin pass-through. --tunnel names the bridge's form: e6 (the
// default with --nvme), e4 or a1, each needing --nvme, or none: a bridge that knows no tunnel
// (a SATA bridge, an unknown one), which refuses every tunnel CDB. The USB vendor and product ID
// the host sees are the gadget's: the guest sets them to a bridge of the same form.
// --tunnel-log-id makes every log page read ask the controller for log identifier HEX instead
// (one it rejects, say).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_drive.h"
#include "tests/e2e/usbdev/bot.h"
#include "tests/e2e/usbdev/drive_responder.h"
#include "tests/e2e/usbdev/fault_responder.h"
#include "tests/e2e/usbdev/ffs_device.h"
#include "tests/e2e/usbdev/nvme_tunnel.h"
#include "tests/e2e/usbdev/profiles.h"
#include "tests/e2e/usbdev/standard_responder.h"

namespace {

using namespace torvik::usbdev;

void usage() {
    std::fputs(
        "usage: torvik_usbdev [--profile NAME] [--check-condition CDB] [--no-reply CDB]\n"
        "                     [--write-protected] [--nvme NODE] [--tunnel e6|e4|a1|none]\n"
        "                     [--tunnel-log-id HEX] [--log FILE] [--ready FILE] FFS_DIR\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    DeviceOptions options;
    std::vector<FaultRule> rules;
    std::string log_path;
    std::string profile = "patterned";
    DiskIdentity base;
    std::string nvme_node;
    std::optional<std::uint8_t> log_id_override;
    std::string tunnel;
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
        } else if (arg == "--write-protected") {
            base.write_protected = true;
        } else if (arg == "--nvme" && has_value) {
            nvme_node = argv[++i];
        } else if (arg == "--tunnel" && has_value) {
            tunnel = argv[++i];
        } else if (arg == "--tunnel-log-id" && has_value) {
            std::vector<std::uint8_t> id;
            if (!parse_cdb_prefix(argv[++i], id) || id.size() != 1) {
                std::fprintf(stderr, "usbdev: bad log identifier '%s'\n", argv[i]);
                return 2;
            }
            log_id_override = id[0];
        } else if (arg == "--profile" && has_value) {
            profile = argv[++i];
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

    torvik::SimDrive drive;
    if (!apply_profile(profile, drive)) {
        std::fprintf(stderr, "usbdev: unknown profile '%s'\n", profile.c_str());
        return 2;
    }
    const DriveModel model = [&drive](const torvik::SimRequest& request, std::uint8_t* data) {
        return drive.execute(request, data);
    };
    StandardResponder disk{identity_of(model, base)};
    DriveResponder responder(model, disk);
    // The texts as INQUIRY carries them, for the checks of the drive listing.
    std::fprintf(log, "profile: %s\n", profile.c_str());
    std::fprintf(log, "identity: vendor='%-8.8s' product='%-16.16s'\n",
                 disk.identity().vendor.c_str(), disk.identity().product.c_str());
    std::unique_ptr<NvmeAdmin> admin;
    std::optional<NvmeTunnelResponder> bridge;
    Responder* front = &responder;
    if (tunnel == "none") {
        bridge.emplace(responder, nullptr, std::nullopt, std::nullopt, log);
        front = &*bridge;
        std::fprintf(log, "tunnel: none\n");
    } else if (!nvme_node.empty()) {
        const std::optional<TunnelForm> form =
            tunnel.empty() ? TunnelForm::e6 : parse_tunnel_form(tunnel);
        if (!form) {
            std::fprintf(stderr, "usbdev: unknown tunnel form '%s'\n", tunnel.c_str());
            return 2;
        }
        std::string error;
        admin = open_nvme_admin(nvme_node, error);
        if (!admin) {
            std::fprintf(stderr, "usbdev: cannot open %s: %s\n", nvme_node.c_str(), error.c_str());
            return 2;
        }
        bridge.emplace(responder, admin.get(), form, log_id_override, log);
        front = &*bridge;
        std::fprintf(log, "tunnel: %s to %s\n", tunnel_form_name(*form), nvme_node.c_str());
    } else if (!tunnel.empty()) {
        std::fprintf(stderr, "usbdev: --tunnel %s needs --nvme\n", tunnel.c_str());
        return 2;
    }
    FaultResponder faults(*front, rules);
    BotSession session(faults);
    return run_ffs_device(options, session);
}
