// The command line: options anywhere, and the drive argument.
//
// Every argument that begins with "--", and the short forms -h, -?, /? and -V, is an option
// wherever it stands; an option's value is the next argument or follows '=' ("--replay DIR",
// "--replay=DIR"). The first other argument is the drive argument (drive number and option
// letters); later ones are ignored. "--decode" takes every argument after it; after "--" no
// argument is an option.
#pragma once

#include <string>

namespace torvik {

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
    bool json = false;
    bool health = false;
    bool html = false;
    std::string device;      // --device: the drive's OS path; empty: the drive argument's number
    std::string output_dir;  // --output-dir: where every file goes; empty: the current directory
    int next = 1;            // --decode: index of the first argument after it
    const char* first_arg = nullptr;  // drive number and letters, or nullptr for the prompt
    std::string message;
};

CommandLine parse_command_line(int argc, const char* const* argv);

// The one-line usage shown with a bad option, and the whole text of --help.
const char* usage_line();
std::string usage_text();

}  // namespace torvik
