#include "app/command_line.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace torvik {

namespace {

// What the options asked for, before the mode is decided.
struct Parsed {
    CommandLine cl;
    bool help = false;
    bool version = false;
    bool list = false;
    bool decode = false;
};

enum class Value {
    none,      // a switch: "--json"
    required,  // the next argument or after '=': "--replay DIR", "--replay=DIR"
    attached,  // optional, only after '=': "--sim", "--sim=large"
};

// One option: its name, its value, the synopsis and text of --help, and what it sets.
struct Option {
    const char* name;
    Value value;
    const char* synopsis;
    const char* help;
    void (*apply)(Parsed& p, std::string_view value);
};

// Columns: name, value, synopsis, help text (lines after the first indented), what it sets.
// In the order --help shows them.
constexpr Option kOptions[] = {
    {"--help", Value::none, "-h, -?, /?, --help", "show this help and exit",
     [](Parsed& p, std::string_view) { p.help = true; }},
    {"--version", Value::none, "-V, --version", "show the version and the platform, and exit",
     [](Parsed& p, std::string_view) { p.version = true; }},
    {"--list", Value::none, "--list",
     "list the drives (number, OS path, bus, vendor and product, size)\n"
     "without examining one and without a prompt",
     [](Parsed& p, std::string_view) { p.list = true; }},
    {"--device", Value::required, "--device PATH",
     "examine the drive the OS names PATH: \\\\.\\PhysicalDriveN; on Linux\n"
     "/dev/sdX, /dev/sgN or a link to one (/dev/disk/by-id/usb-...)",
     [](Parsed& p, std::string_view v) { p.cl.device = v; }},
    {"--output-dir", Value::required, "--output-dir DIR",
     "write every file of the run to DIR (made when missing; DIR itself\n"
     "must not be a symbolic link)",
     [](Parsed& p, std::string_view v) { p.cl.output_dir = v; }},
    {"--json", Value::none, "--json",
     "also write the JSON report (docs/json.md); with --list, the list as\n"
     "JSON on standard output",
     [](Parsed& p, std::string_view) { p.cl.json = true; }},
    {"--health", Value::none, "--health",
     "print the health verdict after the run; the exit status tells it",
     [](Parsed& p, std::string_view) { p.cl.health = true; }},
    {"--html", Value::none, "--html", "also write the HTML report (one web page)",
     [](Parsed& p, std::string_view) { p.cl.html = true; }},
    {"--sim", Value::attached, "--sim[=PROFILE]",
     "examine a built-in simulated drive as drive 0; --sim=list lists them",
     [](Parsed& p, std::string_view v) {
         p.cl.sim = true;
         p.cl.sim_profile = v;
     }},
    {"--replay", Value::required, "--replay DIR",
     "examine a drive recorded as dump files in DIR, as drive 0",
     [](Parsed& p, std::string_view v) {
         p.cl.replay = true;
         p.cl.replay_dir = v;
     }},
    {"--decode", Value::none, "--decode B0 B1 ... B7",
     "describe one flash ID of 6 to 8 hex bytes (the arguments after it);\n"
     "--decode - reads one ID a line from standard input",
     [](Parsed& p, std::string_view) { p.decode = true; }},
};

struct Alias {
    const char* text;
    const char* option;
};
constexpr Alias kAliases[] = {
    {"-h", "--help"}, {"-?", "--help"}, {"/?", "--help"}, {"-V", "--version"}};

constexpr std::string_view kEndOfOptions = "--";

bool is_option(std::string_view arg) {
    if (arg.substr(0, 2) == "--")
        return true;
    for (const Alias& alias : kAliases) {
        if (arg == alias.text)
            return true;
    }
    return false;
}

const Option* find_option(std::string_view name) {
    for (const Alias& alias : kAliases) {
        if (name == alias.text)
            name = alias.option;
    }
    for (const Option& option : kOptions) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

// The value's name in messages: "DIR" of "--replay DIR", "PROFILE" of "--sim[=PROFILE]".
std::string_view value_name(const Option& option) {
    std::string_view synopsis = option.synopsis;
    const std::size_t start = synopsis.find_first_of(" =");
    if (start == std::string_view::npos)
        return "a value";
    synopsis.remove_prefix(start + 1);
    return synopsis.substr(0, synopsis.find(']'));
}

bool has_digit(const char* text) {
    return std::strpbrk(text, "0123456789") != nullptr;
}

CommandLine fail(std::string message) {
    CommandLine cl;
    cl.mode = Mode::error;
    cl.message = std::move(message);
    return cl;
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
    Parsed p;
    bool options_end = false;
    int i = 1;
    for (; i < argc && !p.decode; ++i) {
        const std::string_view arg = argv[i];
        if (options_end || !is_option(arg)) {
            if (p.cl.first_arg == nullptr)
                p.cl.first_arg = argv[i];
            continue;
        }
        if (arg == kEndOfOptions) {
            options_end = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const Option* option = find_option(name);
        if (option == nullptr)
            return fail("unknown option '" + std::string(arg) + "'");
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
            if (option->value == Value::none)
                return fail(std::string(name) + " takes no value");
            if (value.empty())
                return fail(std::string(name) + "= needs " + std::string(value_name(*option)));
        } else if (option->value == Value::required) {
            // A value that looks like an option is a forgotten value, not a name; "--opt=--x"
            // still gives it.
            if (i + 1 >= argc || is_option(argv[i + 1]))
                return fail(std::string(name) + " needs " + std::string(value_name(*option)));
            value = argv[++i];
        }
        option->apply(p, value);
    }
    CommandLine& cl = p.cl;
    cl.next = i;
    if (cl.sim && cl.replay)
        return fail("--sim and --replay cannot be combined");
    if (!cl.device.empty() && cl.first_arg != nullptr && has_digit(cl.first_arg)) {
        return fail("--device names the drive: the argument '" + std::string(cl.first_arg) +
                    "' may hold option letters only");
    }
    if (p.help) {
        cl.mode = Mode::help;
    } else if (p.version) {
        cl.mode = Mode::version;
    } else if (cl.sim && cl.sim_profile == "list") {
        cl.mode = Mode::sim_list;
    } else if (p.decode) {
        cl.mode = Mode::decode;
    } else if (p.list) {
        cl.mode = Mode::list;
    }
    return cl;
}

const char* usage_line() {
    return "Usage: torvik_usb_pssd_flash_id [OPTION]... [N][y]   (--help for more)\n";
}

std::string usage_text() {
    std::string text =
        "Usage: torvik_usb_pssd_flash_id [OPTION]... [N][y]\n"
        "\n"
        "Examines the portable SSD on physical drive N, a Torvik NVMe controller behind a USB\n"
        "bridge, with read-only commands, and writes a report, a health log and the raw replies.\n"
        "\n"
        "The first argument that is not an option holds the drive number and option letters:\n"
        "'y' skips the closing prompt (3y: drive 3, no prompt). Later such arguments are ignored.\n"
        "Without it the drives are listed and the number is asked for. The simulated and\n"
        "replayed drive is drive 0.\n"
        "\n"
        "Options may stand anywhere; a value is the next argument or follows '=' (--replay=DIR).\n"
        "After -- no argument is an option.\n";
    for (const Option& option : kOptions) {
        std::string_view help = option.help;
        char line[128];
        std::snprintf(line, sizeof line, "  %-22s ", option.synopsis);
        text += line;
        for (std::size_t end = help.find('\n'); end != std::string_view::npos;
             end = help.find('\n')) {
            text += std::string(help.substr(0, end + 1)) + std::string(25, ' ');
            help.remove_prefix(end + 1);
        }
        text += std::string(help) + "\n";
    }
    text +=
        "\n"
        "Files, written to the current directory or to --output-dir DIR (each replaced whole at\n"
        "the end of its writing; a file that cannot be written keeps its previous content):\n"
        "  torvik_usb_pssd_flash_id.txt     the report\n"
        "  torvik_pssd_flash_id_smart.txt   the health log (supported controllers only)\n"
        "  torvik_usb_*.bin, torvik_pssd_*.bin   the raw reply of every command\n"
        "  torvik_pssd_manifest.txt         each command's outcome and each dump's checksum,\n"
        "                                   so --replay repeats the run exactly\n"
        "  torvik_usb_pssd_flash_id.json    with --json: the run as data (docs/json.md)\n"
        "  torvik_usb_pssd_flash_id.html    with --html: the report as one web page\n"
        "\n"
        "Drive numbers: on Windows N is \\\\.\\PhysicalDriveN. On Linux N is the N-th whole disk\n"
        "of /sys/block in natural name order (sda, sdb, ... sdz, sdaa, ..., vda, ..., nvme0n1,\n"
        "...); run as root. --list shows each number with its OS path.\n"
        "\n"
        "Messages: the run's own lines are on standard output; what went wrong and why (no\n"
        "permission, no such drive, another bus, a controller the report does not cover, a\n"
        "bridge that refuses vendor commands) is said on standard error.\n"
        "\n"
        "Exit status: 0 the report ran (or the list was shown); 1 bad option, unusable output\n"
        "folder or unknown flash maker (--decode); 2 bad drive number, no answer, or a --device\n"
        "path that names no drive; 3 drive not on USB; 4 disk cannot be opened; 5 the report\n"
        "ran but an output file is missing or incomplete; 130 interrupted.\n"
        "With --health, a run that examined the drive ends with the verdict instead of 0:\n"
        "0 PASSED, 10 WARNING, 11 FAILED, 12 UNKNOWN.\n";
    return text;
}

}  // namespace torvik
