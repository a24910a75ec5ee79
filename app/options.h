// What the command line asks of the program: its mode and every option's value, as
// parse_command_line (app/command_line.h) gives them, and how an option takes its value. The
// outputs table (app/outputs.h) holds the outputs' own options, which set these too.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/output_set.h"
#include "scsi/bridge_table.h"

namespace torvik {

// How an option takes its value.
enum class OptionValue {
    none,      // a switch: "--json"
    required,  // the next argument or after '=': "--replay DIR", "--replay=DIR"
    // after '=', or the next argument unless that looks like a drive argument or is a path:
    // "--sim", "--sim=hot", "--sim hot", but "--sim 0y" is the default profile on drive 0
    optional,
    // after '=', or a lone "-" as the next argument: "--json=-", "--json -"; anything else after
    // a space is not its value ("--json 0y" is the switch and a drive argument)
    attached,
};

enum class Mode {
    run,  // examine a drive (a real one, or a simulated or replayed one)
    help,
    version,
    list,      // --list: the drives, without examining one
    decode,    // --decode: the arguments after it are flash ID bytes
    sim_list,  // --sim=list
    error,     // a bad option; message holds why
};

struct CommandLine {
    Mode mode = Mode::run;
    bool sim = false;
    std::string sim_profile;  // empty: the default profile
    bool replay = false;
    std::string replay_dir;
    // The outputs asked for: --json, --json=- (the document on standard output, the lines on
    // stderr), --html, --health, --all (every drive on the USB bus, each into its own folder),
    // --history and --metrics.
    OutputSet asked;
    bool brief = false;      // --brief: the verdict block alone on standard output (asks --health)
    std::string device;      // --device: the drive's OS path; empty: the drive argument's number
    std::string output_dir;  // --output-dir: where every file goes; empty: the current directory
    std::string metrics_file;  // --metrics: the metrics file, relative to the current directory
    std::string history;       // --history: the drive history file
    // --bridge=FORM:VVVV:PPPP: the tunnel form for the bridge of that USB ID (both set).
    std::optional<BridgeChoice> bridge;
    std::vector<const char*> decode_args;  // --decode: the arguments after it
    const char* first_arg = nullptr;       // drive number and letters, or nullptr for the prompt
    std::string message;

    bool asks(OutputId id) const { return asked.has(id); }
};

}  // namespace torvik
