#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/outputs.h"
#include "common/printable_text.h"
#include "sim/profiles.h"

namespace torvik {

namespace {

// "a1:152d:0583": a form and a USB ID.
std::optional<BridgeChoice> parse_bridge_option(std::string_view text) {
    if (text.size() != 12 || text[2] != ':' || text[7] != ':')
        return std::nullopt;
    const std::optional<BridgeForm> form = parse_bridge_form(text.substr(0, 2));
    const std::optional<std::uint16_t> vendor = parse_usb_hex16(text.substr(3, 4));
    const std::optional<std::uint16_t> product = parse_usb_hex16(text.substr(8, 4));
    if (!form || !vendor || !product)
        return std::nullopt;
    return BridgeChoice{UsbId{*vendor, *product}, form};
}

// What the options asked for, before the mode is decided.
struct Parsed {
    CommandLine cl;
    bool help = false;
    bool version = false;
    bool list = false;
    bool decode = false;
    std::string error;  // a value the option refuses
};

// One option: its name, its value, the synopsis and text of --help, and what it sets. A row with
// no text places the option of that name from the outputs table (app/outputs.h) in --help, which
// holds the rest.
struct Option {
    const char* name;
    OptionValue value = OptionValue::none;
    const char* synopsis = nullptr;
    const char* help = nullptr;
    void (*apply)(Parsed& p, std::string_view value) = nullptr;
};

// The --bridge help names every tunnel form of their table.
constexpr std::array<std::string_view, 3> kBridgeHelpParts = {
    "read the NVMe pages through the tunnel FORM (", kBridgeFormList.view(),
    ") when the\n"
    "drive's USB bridge has vendor ID VVVV and product ID PPPP (hex);\n"
    "refused for any other bridge and for a SATA bridge. A bridge the\n"
    "bridge table does not list needs a typed yes at a terminal"};
constexpr auto kBridgeHelp = joined_text<joined_length(kBridgeHelpParts)>(kBridgeHelpParts);

// Columns: name, value, synopsis, help text (lines after the first indented), what it sets. In the
// order --help shows them; the outputs' options no row places follow them.
constexpr Option kOptions[] = {
    {"--help", OptionValue::none, "-h, -?, /?, --help", "show this help and exit",
     [](Parsed& p, std::string_view) { p.help = true; }},
    {"--version", OptionValue::none, "-V, --version", "show the version and the platform, and exit",
     [](Parsed& p, std::string_view) { p.version = true; }},
    {"--list", OptionValue::none, "--list",
     "list the drives (number, OS path, bus, vendor and product, size)\n"
     "without examining one and without a prompt",
     [](Parsed& p, std::string_view) { p.list = true; }},
    {"--all"},
    {"--device", OptionValue::required, "--device PATH",
     "examine the drive the OS names PATH: \\\\.\\PhysicalDriveN; on Linux\n"
     "/dev/sdX, /dev/sgN or a link to one (/dev/disk/by-id/usb-...)",
     [](Parsed& p, std::string_view v) { p.cl.device = v; }},
    {"--output-dir", OptionValue::required, "--output-dir DIR",
     "write every file of the run to DIR (made when missing; DIR itself\n"
     "must not be a symbolic link)",
     [](Parsed& p, std::string_view v) { p.cl.output_dir = v; }},
    {"--history"},
    {"--json"},
    {"--health"},
    {"--brief", OptionValue::none, "--brief",
     "print the health verdict block alone (as --health does, exit\n"
     "status too), not the report; every file is still written; no\n"
     "prompt, so the drive is named (N, a path or --all)",
     [](Parsed& p, std::string_view) {
         p.cl.brief = true;
         p.cl.asked.add(OutputId::health);
     }},
    {"--html"},
    {"--metrics"},
    {"--bridge", OptionValue::required, "--bridge=FORM:VVVV:PPPP", kBridgeHelp.c_str(),
     [](Parsed& p, std::string_view v) {
         p.cl.bridge = parse_bridge_option(v);
         if (!p.cl.bridge)
             p.error = "--bridge takes FORM:VVVV:PPPP: FORM " +
                       std::string(kBridgeFormList.view()) +
                       ", then the USB vendor and product ID as four hex digits each";
         else if (is_sata_bridge(*p.cl.bridge->id))
             p.error = "USB bridge " + usb_id_text(*p.cl.bridge->id) +
                       " is a SATA bridge: it has no NVMe drive behind it, and --bridge sends "
                       "it no tunnel";
     }},
    {"--sim", OptionValue::optional, "--sim[=PROFILE]",
     "examine a built-in simulated drive as drive 0 (--sim hot or\n"
     "--sim=hot); --sim list shows them. Several, separated by commas\n"
     "(--sim=hot,default), are drives 1, 2, ... beside a system disk on\n"
     "the SATA bus as drive 0",
     [](Parsed& p, std::string_view v) {
         p.cl.sim = true;
         p.cl.sim_profile = v;
     }},
    {"--replay", OptionValue::required, "--replay DIR",
     "examine a drive recorded as dump files in DIR, as drive 0",
     [](Parsed& p, std::string_view v) {
         p.cl.replay = true;
         p.cl.replay_dir = v;
     }},
    {"--decode", OptionValue::none, "--decode B0 B1 ... B7",
     "describe one flash ID of 6 to 8 hex bytes (the arguments after it,\n"
     "up to the next option); --decode - reads one ID a line from\n"
     "standard input",
     [](Parsed& p, std::string_view) { p.decode = true; }},
};

struct Alias {
    const char* text;
    const char* option;
};
constexpr Alias kAliases[] = {
    {"-h", "--help"}, {"-?", "--help"}, {"/?", "--help"}, {"-V", "--version"}};

constexpr std::string_view kEndOfOptions = "--";
// The drive argument's own option letters: y (no closing prompt) and b (the dumps, always
// written), in either case.
constexpr std::string_view kDriveLetters = "yYbB";

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "-x", "-Hy": a dash and a letter make an option unless every letter is the drive argument's
// own ("-y", "-by"); "-1" and "-" stay drive arguments, read as ever.
bool is_dash_option(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != '-' || !is_letter(arg[1]))
        return false;
    for (const char c : arg.substr(1)) {
        if (is_letter(c) && kDriveLetters.find(c) == std::string_view::npos)
            return true;
    }
    return false;
}

bool is_option(std::string_view arg) {
    if (arg.substr(0, 2) == "--")
        return true;
    for (const Alias& alias : kAliases) {
        if (arg == alias.text)
            return true;
    }
    return is_dash_option(arg);
}

// A drive argument as people type one: digits after an optional sign, and the option letters
// ("3y", "y", "-1"). A word like "hot" is not one.
bool looks_like_drive_argument(std::string_view arg) {
    const std::size_t start = arg.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string_view::npos)
        return false;
    arg.remove_prefix(start);
    if (arg[0] == '+' || arg[0] == '-')
        arg.remove_prefix(1);
    return !arg.empty() && arg.find_first_not_of("0123456789yYbB") == std::string_view::npos;
}

// A drive named by its OS path ("/dev/sdb", "\\.\PhysicalDrive2"): no drive argument begins so.
bool is_drive_path(std::string_view arg) {
    return !arg.empty() && (arg[0] == '/' || arg[0] == '\\');
}

// One option of either table, as parsing, --help and the completion script read it.
struct OptionEntry {
    const char* name;
    OptionValue value;
    const char* synopsis;
    const char* help;
    const Option* own;        // its row in the option table, or nullptr for an output's option
    const OutputRow* output;  // its row in the outputs table, or nullptr
    std::size_t output_bit;   // that row's bit in an OutputSet
};

// Every option in --help's order: the option table's rows, each that places an output's option
// replaced by it, then the outputs' options no row places.
std::vector<OptionEntry> all_options() {
    const std::span<const OutputRow> outputs = output_rows();
    std::vector<OptionEntry> options;
    std::vector<bool> placed(outputs.size());
    const auto add_output = [&](std::size_t i) {
        const OutputRow& row = outputs[i];
        options.push_back({row.option, row.value, row.synopsis, row.help, nullptr, &row, i});
        placed[i] = true;
    };
    for (const Option& option : kOptions) {
        if (option.help != nullptr) {
            options.push_back(
                {option.name, option.value, option.synopsis, option.help, &option, nullptr, 0});
            continue;
        }
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            if (outputs[i].synopsis != nullptr &&
                std::string_view(option.name) == outputs[i].option)
                add_output(i);
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].synopsis != nullptr && !placed[i])
            add_output(i);
    }
    return options;
}

const OptionEntry* find_option(const std::vector<OptionEntry>& options, std::string_view name) {
    for (const Alias& alias : kAliases) {
        if (name == alias.text)
            name = alias.option;
    }
    for (const OptionEntry& option : options) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

// The value's name in messages: "DIR" of "--replay DIR", "PROFILE" of "--sim[=PROFILE]".
std::string_view value_name(const OptionEntry& option) {
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

// Text typed on the command line, quoted for a message, control bytes shown as '?' so that none
// reaches the terminal.
std::string quoted(std::string_view text) {
    std::string shown = "'";
    shown += printable_text(std::string(text).c_str());
    shown += '\'';
    return shown;
}

// Edits (insertions, deletions, substitutions) that turn a into b.
std::size_t edit_distance(std::string_view a, std::string_view b) {
    constexpr std::size_t kLongest = 64;  // longer words are no near miss of an option
    if (a.size() >= kLongest || b.size() >= kLongest)
        return kLongest;
    std::size_t row[kLongest + 1];
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "unknown option '--heath'", and the option meant: the only long option that starts with what
// was typed ("--hist": --history), else the nearest one within two edits.
std::string unknown_option(const std::vector<OptionEntry>& options, std::string_view arg,
                           std::string_view name) {
    std::string message = "unknown option " + quoted(arg);
    constexpr std::size_t kNearEnough = 2;
    const OptionEntry* nearest = nullptr;
    std::size_t best = kNearEnough + 1;
    int starting_so = 0;
    if (name.size() > 3 && name.substr(0, 2) == "--") {
        for (const OptionEntry& option : options) {
            if (std::string_view(option.name).starts_with(name)) {
                ++starting_so;
                nearest = &option;
            }
        }
    }
    if (starting_so != 1 && name.substr(0, 2) == "--") {
        nearest = nullptr;
        for (const OptionEntry& option : options) {
            const std::size_t d = edit_distance(name, option.name);
            if (d < best) {
                best = d;
                nearest = &option;
            }
        }
    }
    if (nearest != nullptr)
        message += std::string("; did you mean ") + nearest->name + "?";
    return message;
}

CommandLine fail(std::string message) {
    CommandLine cl;
    cl.mode = Mode::error;
    cl.message = std::move(message);
    return cl;
}

// "  --html                 also write ...": the name in a column of that width, then the text,
// its lines after the first indented to the text's column.
std::string column_line(std::string_view name, std::size_t width, std::string_view text) {
    std::string line = "  " + std::string(name);
    const std::string indent(width + 3, ' ');
    // A name that fills its column gets a line of its own, so that the text never runs into it
    // (help2man takes one space for part of the name).
    if (name.size() >= width)
        line += "\n" + indent;
    else
        line += std::string(width + 3 - line.size(), ' ');
    for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
        line += std::string(text.substr(0, end + 1)) + indent;
        text.remove_prefix(end + 1);
    }
    return line + std::string(text) + "\n";
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
    const std::vector<OptionEntry> options = all_options();
    Parsed p;
    CommandLine& cl = p.cl;
    bool options_end = false;
    bool decode_open = false;    // the arguments after --decode, up to the next option
    const char* path = nullptr;  // a drive named by its path in the drive argument's place
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_end || !is_option(arg)) {
            if (decode_open) {
                cl.decode_args.push_back(argv[i]);
            } else if (cl.first_arg == nullptr && is_drive_path(arg)) {
                if (path != nullptr)
                    return fail("two drive paths: " + quoted(path) + " and " + quoted(arg));
                path = argv[i];
            } else if (cl.first_arg == nullptr) {
                cl.first_arg = argv[i];
            }
            continue;
        }
        if (arg == kEndOfOptions) {
            options_end = true;
            continue;
        }
        decode_open = false;
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const OptionEntry* option = find_option(options, name);
        if (option == nullptr)
            return fail(unknown_option(options, arg, name));
        const std::string needs = std::string(name) + " needs " + std::string(value_name(*option));
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
            if (option->value == OptionValue::none)
                return fail(std::string(name) + " takes no value");
            if (value.empty())
                return fail(std::string(name) + "= needs " + std::string(value_name(*option)));
        } else if (option->value == OptionValue::required) {
            // A value that looks like an option is a forgotten value, not a name; "--opt=--x"
            // still gives it.
            if (i + 1 >= argc || is_option(argv[i + 1]))
                return fail(needs);
            value = argv[++i];
            if (value.empty())
                return fail(needs + ", not an empty argument");
        } else if (option->value == OptionValue::attached && i + 1 < argc &&
                   std::string_view(argv[i + 1]) == "-") {
            value = argv[++i];
        } else if (option->value == OptionValue::optional && i + 1 < argc &&
                   !is_option(argv[i + 1]) && !looks_like_drive_argument(argv[i + 1]) &&
                   !is_drive_path(argv[i + 1])) {
            value = argv[++i];
            if (value.empty())
                return fail(needs + ", not an empty argument");
        }
        if (option->output != nullptr) {
            cl.asked.add(option->output_bit);
            if (option->output->apply != nullptr)
                option->output->apply(cl, value, p.error);
        } else if (option->own->apply != nullptr) {
            option->own->apply(p, value);
        }
        if (!p.error.empty())
            return fail(p.error);
        decode_open = p.decode && std::string_view(option->name) == "--decode";
    }
    if (cl.sim && cl.replay)
        return fail("--sim and --replay cannot be combined");
    if (path != nullptr) {
        if (!cl.device.empty())
            return fail("two drive paths: " + quoted(cl.device) + " and " + quoted(path));
        cl.device = path;
    }
    if (!cl.device.empty() && cl.first_arg != nullptr && has_digit(cl.first_arg)) {
        return fail("the drive is named by its path " + quoted(cl.device) + ": the argument " +
                    quoted(cl.first_arg) + " may hold option letters only");
    }
    const bool all = cl.asks(OutputId::all_summary);
    const bool json_stdout = cl.asks(OutputId::json_stdout);
    if (all && (!cl.device.empty() || (cl.first_arg != nullptr && has_digit(cl.first_arg))))
        return fail("--all examines every USB drive: it takes no drive number or path");
    if (all && cl.bridge)
        return fail("--bridge names one drive's USB bridge: it cannot be combined with --all");
    if (cl.brief && !p.help && !p.version && !p.list && !p.decode && !all && cl.device.empty() &&
        (cl.first_arg == nullptr || !has_digit(cl.first_arg)))
        return fail("--brief asks no question: name the drive (a number, a path or --all)");
    if (cl.brief && json_stdout)
        return fail("--brief and --json=- both want standard output: give one of them");
    const bool sim_list = cl.sim && cl.sim_profile == "list";
    if (json_stdout && !p.help && !p.version && (sim_list || p.decode))
        return fail(std::string(sim_list ? "--sim=list" : "--decode") +
                    " writes text to standard output: --json=- cannot be combined with it");
    if (p.help) {
        cl.mode = Mode::help;
    } else if (p.version) {
        cl.mode = Mode::version;
    } else if (sim_list) {
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
        "Nothing is ever written to the drive's storage: every command asks for data, except\n"
        "that on a 0xA1 bridge each NVMe read is preceded by a 512-byte block sent to the\n"
        "bridge that names the read.\n"
        "\n"
        "The first argument that is not an option holds the drive number and option letters:\n"
        "'y' skips the closing prompt (3y: drive 3, no prompt). Later such arguments are ignored.\n"
        "A path there names the drive as --device does (/dev/sdb y). Without it the drives are\n"
        "listed and the number is asked for. The simulated and replayed drive is drive 0.\n"
        "\n"
        "Options may stand anywhere; a value is the next argument or follows '=' (--replay=DIR)\n"
        "and may not be empty. A dash and letters other than y and b (-x) is an unknown option.\n"
        "After -- no argument is an option.\n";
    for (const OptionEntry& option : all_options())
        text += column_line(option.synopsis, 22, option.help);
    text +=
        "\n"
        "Files, written to the current directory or to --output-dir DIR (each replaced whole at\n"
        "the end of its writing; a file that cannot be written keeps its previous content):\n";
    // Every run's files, the dumps and their manifest, then the files of the outputs asked for.
    const std::span<const OutputRow> outputs = output_rows();
    for (const OutputRow& row : outputs) {
        if (row.option == nullptr && row.file_help != nullptr)
            text += column_line(row.file, 32, row.file_help);
    }
    text +=
        "  torvik_usb_*.bin, torvik_pssd_*.bin   the raw reply of every command\n"
        "  torvik_pssd_manifest.txt         each command's outcome and each dump's checksum,\n"
        "                                   so --replay repeats the run exactly\n";
    for (const OutputRow& row : outputs) {
        if (row.option != nullptr && row.file_help != nullptr)
            text +=
                column_line(row.file, 32, std::string("with ") + row.option + ": " + row.file_help);
    }
    text +=
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
        "folder, a --metrics or --history FILE that is no regular file or names another of the\n"
        "run's files, a SOURCE_DATE_EPOCH that is not a decimal integer from 0 to 253402300799,\n"
        "a --bridge refused (another drive's bridge ID, a SATA bridge, a listed bridge's form\n"
        "changed, an unlisted bridge not confirmed at a terminal), or unknown flash maker\n"
        "(--decode); 2 bad drive number, no such drive, no answer, or a path that names no\n"
        "drive; 3 drive on another bus; 4 drive or disk cannot be opened; 5 the report ran but\n"
        "an output file is missing or incomplete; 130 interrupted.\n"
        "With --health, a run that examined the drive ends with the verdict instead of 0:\n"
        "0 PASSED, 10 WARNING, 11 FAILED, 12 UNKNOWN.\n"
        "--all ends with the worst status of the drives it examined, from best to worst:\n"
        "0, 5, 10, 12, 1 (its folder could not be made), 4, 11; the verdict counts with\n"
        "--health only. A drive on another bus does not count; with none on USB, 3.\n";
    return text;
}

// The script completes the long options, the simulated drives after --sim, folders after
// --output-dir and --replay, files after --history and --metrics and the disks' device nodes after
// --device, each taken from the options of both tables by the name of its value (PROFILE, DIR,
// FILE, PATH), so a new option completes without an edit here.
std::string bash_completion_script() {
    const std::vector<OptionEntry> entries = all_options();
    std::string options;
    for (const OptionEntry& option : entries) {
        options += std::string(options.empty() ? "" : " ") + option.name;
        if (option.value ==
            OptionValue::attached)  // "--json=-": the value it takes is its only one
            options += std::string(" ") + option.name + "=" + std::string(value_name(option));
    }
    std::string profiles = "list";
    for (const SimProfile& profile : sim_profiles())
        profiles += std::string(" ") + profile.name;
    std::string cases;
    for (const OptionEntry& option : entries) {
        if (option.value == OptionValue::none)
            continue;
        const std::string_view value = value_name(option);
        // A comma list of profiles (--sim=hot,d) completes its last one.
        const char* words = value == "PROFILE"
                                ? "compgen -W \"$profiles\" -P \"$listed\" -- \"${cur##*,}\""
                            : value == "DIR"  ? "compgen -d -- \"$cur\""
                            : value == "FILE" ? "compgen -f -- \"$cur\""
                            : value == "PATH" ? "compgen -W \"$(_torvik_disk_nodes)\" -- \"$cur\""
                            : value == "-"    ? "compgen -W - -- \"$cur\""
                                              : nullptr;
        if (words == nullptr)
            continue;
        cases += std::string("        ") + option.name +
                 ")\n            mapfile -t COMPREPLY < <(" + words + ")\n            ;;\n";
    }
    return "# bash completion for torvik_usb_pssd_flash_id, made from its option table\n"
           "\n"
           "# The whole disks' device nodes, their SCSI generic nodes and the USB disks' links.\n"
           "_torvik_disk_nodes() {\n"
           "    local node\n"
           "    for node in /dev/sd*[a-z] /dev/sg[0-9]* /dev/disk/by-id/usb-*; do\n"
           "        [[ -e $node && $node != *-part[0-9]* ]] && printf '%s\\n' \"$node\"\n"
           "    done\n"
           "}\n"
           "\n"
           "_torvik_usb_pssd_flash_id() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} option= prefix=\n"
           "    local options='" +
           options +
           "'\n"
           "    local profiles='" +
           profiles +
           "'\n"
           "    ((COMP_CWORD > 0)) && option=${COMP_WORDS[COMP_CWORD - 1]}\n"
           "    # --sim=hot: bash splits the word at '=' when COMP_WORDBREAKS holds it\n"
           "    if [[ $cur == = ]]; then\n"
           "        cur=\n"
           "    elif [[ $option == = ]] && ((COMP_CWORD > 1)); then\n"
           "        option=${COMP_WORDS[COMP_CWORD - 2]}\n"
           "    elif [[ $cur == --*=* ]]; then\n"
           "        option=${cur%%=*} prefix=${cur%%=*}= cur=${cur#*=}\n"
           "    fi\n"
           "    local listed=\n"
           "    [[ $cur == *,* ]] && listed=${cur%,*},\n"
           "    case $option in\n" +
           cases +
           "        *)\n"
           "            [[ $cur == -* ]] && mapfile -t COMPREPLY < <(compgen -W \"$options\" -- "
           "\"$cur\")\n"
           "            return\n"
           "            ;;\n"
           "    esac\n"
           "    [[ -n $prefix ]] && COMPREPLY=(\"${COMPREPLY[@]/#/$prefix}\")\n"
           "}\n"
           "complete -o filenames -F _torvik_usb_pssd_flash_id torvik_usb_pssd_flash_id\n";
}

}  // namespace torvik
