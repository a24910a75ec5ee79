#include "app/command_line.h"

#include <cstring>
#include <string_view>

namespace torvik {

CommandLine parse_command_line(int argc, const char* const* argv) {
    CommandLine cl;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            cl.mode = Mode::help;
            return cl;
        }
        if (arg == "--version") {
            cl.mode = Mode::version;
            return cl;
        }
        if (arg == "--decode") {
            cl.mode = Mode::decode;
            cl.next = i + 1;
            return cl;
        }
        if (arg == "--json") {
            cl.json = true;
        } else if (arg == "--health") {
            cl.health = true;
        } else if (arg == "--html") {
            cl.html = true;
        } else if (arg == "--sim" || arg.rfind("--sim=", 0) == 0) {
            cl.sim = true;
            cl.sim_profile = arg.size() > 5 ? std::string(arg.substr(6)) : std::string();
            if (arg == "--sim=") {
                cl.mode = Mode::error;
                cl.message = "--sim= needs a profile name (see --sim=list)";
                return cl;
            }
            if (cl.sim_profile == "list")
                cl.mode = Mode::sim_list;
        } else if (arg == "--replay" || arg.rfind("--replay=", 0) == 0) {
            cl.replay = true;
            if (arg == "--replay") {
                if (i + 1 >= argc) {
                    cl.mode = Mode::error;
                    cl.message = "--replay needs a directory";
                    return cl;
                }
                cl.replay_dir = argv[++i];
            } else {
                cl.replay_dir = std::string(arg.substr(9));
            }
            if (cl.replay_dir.empty()) {
                cl.mode = Mode::error;
                cl.message = "--replay needs a directory";
                return cl;
            }
        } else {
            cl.mode = Mode::error;
            cl.message = "unknown option '" + std::string(arg) + "' (see --help)";
            return cl;
        }
    }
    if (cl.sim && cl.replay) {
        cl.mode = Mode::error;
        cl.message = "--sim and --replay cannot be combined";
        return cl;
    }
    cl.next = i;
    cl.first_arg = i < argc ? argv[i] : nullptr;
    return cl;
}

const char* usage_text() {
    return "Usage:\n"
           "  torvik_usb_pssd_flash_id [N][y]                    examine physical drive N\n"
           "  torvik_usb_pssd_flash_id --sim[=PROFILE] [N][y]    examine a built-in simulated "
           "drive\n"
           "  torvik_usb_pssd_flash_id --sim=list                list the simulated drives\n"
           "  torvik_usb_pssd_flash_id --replay DIR [N][y]       replay a drive recorded as dump "
           "files\n"
           "  torvik_usb_pssd_flash_id --json [--sim|--replay ...] [N][y]\n"
           "                                                     also write the JSON report\n"
           "  torvik_usb_pssd_flash_id --health [...] [N][y]     print the health verdict after "
           "the run\n"
           "  torvik_usb_pssd_flash_id --html [...] [N][y]       also write the HTML report\n"
           "  torvik_usb_pssd_flash_id --decode B0 B1 B2 B3 B4 B5 [B6 B7]\n"
           "                                                     describe one flash ID (hex "
           "bytes)\n"
           "  torvik_usb_pssd_flash_id --decode -                one flash ID per line from stdin\n"
           "  torvik_usb_pssd_flash_id --help | --version\n"
           "\n"
           "The first argument after the options holds the drive number and option letters:\n"
           "'y' skips the closing prompt (3y: drive 3, no prompt). Without it the drives are\n"
           "listed and the number is asked for. The simulated and replayed drive is drive 0.\n"
           "\n"
           "Files written to the current directory (each replaced whole at the end of its\n"
           "writing; a file that cannot be written keeps its previous content):\n"
           "  torvik_usb_pssd_flash_id.txt     the report\n"
           "  torvik_pssd_flash_id_smart.txt   the health log (supported controllers only)\n"
           "  torvik_usb_*.bin, torvik_pssd_*.bin   the raw reply of every command\n"
           "  torvik_usb_pssd_flash_id.json    with --json: the run as data (docs/json.md)\n"
           "  torvik_usb_pssd_flash_id.html    with --html: the report as one web page\n"
           "\n"
           "Drive numbers: on Windows N is \\\\.\\PhysicalDriveN. On Linux N is the N-th whole "
           "disk\n"
           "of /sys/block in natural name order (sda, sdb, ... sdz, sdaa, ..., vda, ..., nvme0n1,\n"
           "...); run as root.\n"
           "\n"
           "Exit status: 0 the report ran; 1 bad option or unknown flash maker (--decode);\n"
           "2 bad drive number or no answer; 3 drive not on USB; 4 disk cannot be opened;\n"
           "5 the report ran but an output file is missing or incomplete; 130 interrupted.\n"
           "With --health, a run that examined the drive ends with the verdict instead of 0:\n"
           "0 PASSED, 10 WARNING, 11 FAILED, 12 UNKNOWN.\n";
}

}  // namespace torvik
